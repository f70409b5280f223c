#!/usr/bin/env bash
# Proves the README's test command on a machine that has nothing installed: builds a minimal
# Debian 12 root with mmdebstrap, copies a clean clone of this repository's HEAD into it and
# runs `bash scripts/run-tests.sh` there, with /proc, /dev/pts and /dev/shm mounted so that
# pseudo-terminals work. Slow (it installs the packages and builds everything), so it is not
# part of .ci/run. Needs root and Debian's mmdebstrap.
#
#   fresh-machine-check.sh [--keep] [--package] [COMMAND]
#
#   --keep     keep the root afterwards (its path is printed) instead of removing it
#   --package  also run the README's package line inside the root and start both programs
#              from the installed package
#   COMMAND    what to run inside the root instead of the README's test command
#
# The last line is "fresh-machine-check: PASS (N s)" or "fresh-machine-check: FAIL ...",
# and the exit status is non-zero on failure.
set -uo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
keep=0
package=0
command="bash scripts/run-tests.sh"
while [ $# -gt 0 ]; do
    case "$1" in
    --keep) keep=1 ;;
    --package) package=1 ;;
    -h | --help)
        sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    *) command="$1" ;;
    esac
    shift
done

start=$(date +%s)
fail() {
    echo "fresh-machine-check: FAIL: $* ($(($(date +%s) - start)) s)"
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root (mmdebstrap, chroot and mounts)"
command -v mmdebstrap > /dev/null || fail "mmdebstrap is not installed (apt-get install mmdebstrap)"
command -v unshare > /dev/null || fail "unshare is not installed (util-linux)"

root="$(mktemp -d /var/tmp/quellon-fresh.XXXXXX)"
log="/var/tmp/quellon-fresh-last.log"
cleanup() {
    if [ "$keep" -eq 1 ]; then
        echo "fresh-machine-check: root kept in $root"
    else
        rm -rf --one-file-system "$root"
    fi
}
trap cleanup EXIT

echo "== mmdebstrap: minimal Debian 12 root in $root"
mmdebstrap --variant=minbase --quiet bookworm "$root" || fail "mmdebstrap could not build the root"

echo "== clean clone of $(git -C "$repo" rev-parse --short HEAD)"
git clone --quiet --no-local "$repo" "$root/src" || fail "git clone"
rm -rf "$root/src/.git"

inner="cd /src && $command"
if [ "$package" -eq 1 ]; then
    inner="$inner && bash scripts/build-package.sh && apt-get install -y -qq ./build/default/quellon-configurator_*.deb \
        && quellon-configurator --version && quellon-sim --help > /dev/null \
        && test -f /usr/share/applications/quellon-configurator.desktop"
fi

echo "== inside the root: $inner"
# A mount namespace of its own, so that every mount goes away with the run.
unshare --mount --propagation private bash -euc '
    root="$1"; inner="$2"
    mount -t proc proc "$root/proc"
    mount --bind /dev/pts "$root/dev/pts"
    mkdir -p "$root/dev/shm" && mount -t tmpfs tmpfs "$root/dev/shm"
    [ -e "$root/dev/ptmx" ] || ln -s pts/ptmx "$root/dev/ptmx"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 TERM=dumb /bin/bash -c "$inner"
' _ "$root" "$inner" > "$log" 2>&1
status=$?
tail -n 40 "$log"
echo "fresh-machine-check: the whole output is in $log"
tail_line="$(grep -E 'tests passed|tests failed' "$log" | tail -n 1)"
[ "$status" -eq 0 ] || fail "the command failed inside the root (status $status) ${tail_line}"
echo "fresh-machine-check: PASS ${tail_line:+($tail_line) }($(($(date +%s) - start)) s)"
