#!/bin/bash
# A short scripted session with quellon-sim over its --link, using only the shell's tools:
# identification, a read, the unlock sequence and a write, a read back, and a clean end.
# Usage: quellon_sim_session.sh PATH-TO-quellon-sim
set -u
SIM="$1"
LINK="${TMPDIR:-/tmp}/quellon_sim_session_$$"
fail() { echo "FAIL: $*" >&2; kill "$SIMPID" 2>/dev/null; rm -f "$LINK"; exit 1; }

"$SIM" --link "$LINK" --seed 7 > "$LINK.out" &
SIMPID=$!
for _ in $(seq 50); do [ -L "$LINK" ] && break; sleep 0.1; done
[ -L "$LINK" ] || fail "no link"

exec 3<>"$LINK"
stty -F "$LINK" 19200 raw -echo || fail "stty"
ask() { printf "\002$1\r" >&3; timeout 0.3 cat <&3 | od -An -c | tr -s ' \n' ' '; }

id=$(ask 'I')
[[ "$id" == *'\n \r 002 I , 0 4 , 1 b \r \n 5 6 3 0 i'* ]] || fail "identification: $id"
oil=$(ask 'R 0022 02')
[[ "$oil" == *'R , 0 0 2 2 , 0 0 , 0 4 , 0 2 \r \n'* ]] || fail "oil reference: $oil"
locked=$(ask 'W 0026 b0')
[[ -z "${locked// /}" ]] || fail "a locked write was answered: $locked"
ask '' > /dev/null
ask 'U 3C7E' > /dev/null
written=$(ask 'W 0026 b0')
[[ "$written" == ' \n \r ' ]] || fail "write reply: $written"
back=$(ask 'R 0026 02')
[[ "$back" == *', 0 0 2 6 , b 0 ,'* ]] || fail "read back: $back"
exec 3>&-

kill -TERM "$SIMPID"
wait "$SIMPID"; status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
[ ! -e "$LINK" ] || fail "link left behind"
[ "$(cat "$LINK.out")" != "" ] || fail "no slave path printed"
rm -f "$LINK.out"
echo "quellon-sim session: ok"
