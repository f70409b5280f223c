#!/usr/bin/env bash
# Builds the .deb with cpack, checks its contents, its Depends, its man pages against the
# programs' --help and its desktop entry, then unpacks it (dpkg -x) into a scratch root and
# starts both programs from there.
#   package_test.sh BUILD_DIR VERSION
set -uo pipefail
build="$1"
version="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" > "$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "0 passed, 1 failed"
    exit 1
fi
deb="$(ls "$work"/out/quellon-configurator_*.deb)"
check "one package named after its version and architecture" \
    test "$(basename "$deb")" = "quellon-configurator_${version}_$(dpkg --print-architecture).deb"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' > "$work/files"
for f in /usr/bin/quellon-configurator /usr/bin/quellon-sim /usr/bin/quellon-cli \
    /usr/share/applications/quellon-configurator.desktop \
    /usr/share/icons/hicolor/scalable/apps/quellon-configurator.svg \
    /usr/share/man/man1/quellon-configurator.1.gz /usr/share/man/man1/quellon-sim.1.gz \
    /usr/share/man/man1/quellon-cli.1.gz; do
    check "package holds $f" grep -qx "$f" "$work/files"
done
check "nothing outside /usr" test -z "$(grep -v '^/usr' "$work/files" | grep -vx '/')"

depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
    check "Depends names $lib" grep -q "\b$lib\b" <<< "$depends"
done

dpkg -x "$deb" "$work/root"
bin="$work/root/usr/bin"
check "the installed configurator prints its version" \
    grep -Eq "^quellon-configurator [0-9]+\.[0-9]{3} \($version\)$" <<< "$("$bin/quellon-configurator" --version)"
check "the installed command-line tool prints its version" \
    grep -Eq "^quellon-cli [0-9]+\.[0-9]{3} \($version\)$" <<< "$("$bin/quellon-cli" --version)"
check "the installed command-line tool links no Qt library" \
    test -z "$(ldd "$bin/quellon-cli" | grep -i libqt)"
check "the installed virtual sensor prints its usage" \
    grep -q "^usage: quellon-sim" <<< "$("$bin/quellon-sim" --help)"

# Every option that a program's --help names is in its man page.
for prog in quellon-configurator quellon-sim quellon-cli; do
    page="$(zcat "$work/root/usr/share/man/man1/$prog.1.gz" | sed 's/\\-/-/g; s/\\f[BIR]//g')"
    check "$prog.1 carries its version" grep -q "\"$prog $version\"" <<< "$page"
    for opt in $("$bin/$prog" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
        check "$prog.1 describes $opt" grep -q -- "^$opt\b" <<< "$page"
    done
done

desktop="$work/root/usr/share/applications/quellon-configurator.desktop"
for field in 'Type=Application' 'Name=Quellon Configurator' 'Comment=.+' 'Exec=quellon-configurator' \
    'Icon=quellon-configurator' 'Categories=(.*;)?Utility;.*'; do
    check "desktop entry has $field" grep -Eqx "$field" "$desktop"
done

doc="$work/root/usr/share/doc/quellon-configurator"
check "the copyright file names the MIT (Expat) license" grep -qx "License: Expat" "$doc/copyright"
check "the changelog names this version" \
    grep -q "^quellon-configurator ($version)" <<< "$(zcat "$doc/changelog.gz")"
metainfo="$work/root/usr/share/metainfo/io.github.quellon.Configurator.metainfo.xml"
check "the AppStream metainfo validates" appstreamcli validate --no-net "$metainfo"
check "the metainfo launches the desktop entry" \
    grep -q "<launchable type=\"desktop-id\">quellon-configurator.desktop</launchable>" "$metainfo"
check "the metainfo carries this version" grep -q "<release version=\"$version\"" "$metainfo"
# lintian: no error but the placeholder address of the maintainer.
lintian_errors="$(lintian "$deb" 2>/dev/null | grep '^E:' | grep -v 'bogus-mail-host')"
check "lintian reports no other error" test -z "$lintian_errors"
[ -z "$lintian_errors" ] || echo "$lintian_errors"

if [ "$failures" -eq 0 ]; then echo "package test: ok"; else echo "package test: $failures failed"; fi
exit $((failures > 0))
