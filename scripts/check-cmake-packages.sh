#!/usr/bin/env bash
# Checks that every package that CMake found for the build (config packages such as Qt6's
# components and what they pull in, GTest, and the libraries and headers of module finds)
# comes from a Debian package that scripts/install-deps.sh names, or from one that those
# depend on (Depends or Pre-Depends, not Recommends), or from an Essential package. A machine
# where something else happens to be installed then cannot hide a missing install step.
#
#   check-cmake-packages.sh [BUILD_DIR...]      (default: every build/*/ with a CMakeCache.txt)
#
# Exit status 1 names the file CMake used and the package that owns it.
set -euo pipefail
cd "$(dirname "$0")/.."

builds=("$@")
if [ ${#builds[@]} -eq 0 ]; then
    for c in build/*/CMakeCache.txt; do
        [ -f "$c" ] && builds+=("$(dirname "$c")")
    done
fi
[ ${#builds[@]} -gt 0 ] || {
    echo "check-cmake-packages: no configured build folder" >&2
    exit 2
}

# The allowed packages: what install-deps names, closed over Depends and Pre-Depends.
# Virtual names resolve to the installed packages that provide them.
declare -A provides allowed
while read -r pkg prov; do
    IFS=',' read -ra names <<< "$prov"
    for n in "${names[@]}"; do
        n="${n%%(*}"
        n="${n// /}"
        [ -n "$n" ] && provides[$n]+="$pkg "
    done
done < <(dpkg-query -W -f='${db:Status-Status} ${Package} ${Provides}\n' | awk '$1=="installed"{$1=""; print}')

queue=()
while read -r p; do queue+=("$p"); done < <(bash scripts/install-deps.sh --list)
while read -r p; do queue+=("$p"); done < <(dpkg-query -W -f='${Package} ${Essential}\n' | awk '$2=="yes"{print $1}')
while [ ${#queue[@]} -gt 0 ]; do
    p="${queue[0]}"
    queue=("${queue[@]:1}")
    p="${p%%:*}"
    [ -n "$p" ] || continue
    [ -z "${allowed[$p]:-}" ] || continue
    allowed[$p]=1
    for v in ${provides[$p]:-}; do queue+=("$v"); done
    deps="$(dpkg-query -W -f='${Depends},${Pre-Depends}' "$p" 2> /dev/null || true)"
    IFS=',|' read -ra alternatives <<< "$deps"
    for d in "${alternatives[@]}"; do
        d="${d%%(*}"
        d="${d// /}"
        d="${d%%:*}"
        [ -n "$d" ] && queue+=("$d")
    done
done

# The files CMake used: a config file in each <Package>_DIR, and the libraries (those that
# something links) and include folders of module finds.
used=()
for b in "${builds[@]}"; do
    while IFS='=' read -r key value; do
        case "$key" in
        CMAKE_* | *_BINARY_DIR* | *_SOURCE_DIR*) continue ;;
        esac
        [ -e "$value" ] || continue
        case "$value" in "$PWD"/*) continue ;; esac
        if [[ "$key" == *_LIBRARY*:FILEPATH ]] && ! grep -qF "$value" "$b/build.ninja"; then
            continue # an optional library that a find module looked up but nothing links
        fi
        if [[ "$key" == *_DIR:PATH ]]; then
            for f in "$value"/*Config.cmake "$value"/*-config.cmake; do
                [ -f "$f" ] && used+=("$f") && break
            done
        else
            used+=("$value")
        fi
    done < <(grep -E '^[A-Za-z0-9_]+_(DIR:PATH|LIBRARY[A-Za-z0-9_]*:FILEPATH|INCLUDE_DIR[A-Za-z0-9_]*:PATH)=/' "$b/CMakeCache.txt")
done

owner_of() {
    local f="$1" out
    out="$(dpkg -S "$f" 2> /dev/null || dpkg -S "$(realpath "$f")" 2> /dev/null || true)"
    # "pkg:arch, other: /path": the owners of the path, before the last colon and space.
    out="${out%%: /*}"
    tr ',' '\n' <<< "$out" | sed 's/^ *//; s/:.*//' | grep -v '^$' || true
}

missing=0
declare -A seen
for f in $(printf '%s\n' "${used[@]}" | sort -u); do
    owners="$(owner_of "$f")"
    if [ -z "$owners" ]; then
        echo "check-cmake-packages: $f belongs to no Debian package (installed by hand?)"
        missing=1
        continue
    fi
    ok=0
    for o in $owners; do
        [ -n "${allowed[$o]:-}" ] && ok=1
    done
    if [ "$ok" -eq 0 ] && [ -z "${seen[$owners]:-}" ]; then
        seen[$owners]=1
        echo "check-cmake-packages: $f is in package '$owners', which scripts/install-deps.sh" \
            "neither names nor pulls in through Depends"
        missing=1
    fi
done

if [ "$missing" -ne 0 ]; then
    echo "check-cmake-packages: FAIL"
    exit 1
fi
echo "check-cmake-packages: ok (${#used[@]} files CMake used, all from named packages or their dependencies)"
