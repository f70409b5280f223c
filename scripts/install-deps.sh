#!/usr/bin/env bash
# Installs the Debian packages that the project needs, when they are missing.
# Safe to run again: it installs nothing that is already there.
#
#   install-deps.sh          the build, the tests (the .deb package test among them),
#                            the benchmarks and the sanitizer runs
#   install-deps.sh --ci     and what .ci/run adds: clang for the fuzz targets, the
#                            MinGW cross compiler for the Windows compile check
#   install-deps.sh --dev    and the developer's tools: formatting, tidy, screenshots
#                            under Xvfb, the fresh-machine check
#   install-deps.sh --list [--ci|--dev]
#                            print the package names, one a line, and install nothing
#
# Packages are installed without their recommendations, so every package that the build
# finds through CMake must be named here or be a dependency of one named here (.ci/run
# checks that).
set -euo pipefail

# The build and the tests: compilers (the sanitizer runtimes come with gcc), CMake, Ninja,
# Qt 6 Widgets and Charts, nlohmann-json (the JSON that quellon-cli writes; header-only, so
# the Windows build takes it too) (Qt Charts' CMake package needs Qt6OpenGL's, which only
# libqt6opengl6-dev has), GoogleTest, and for the package test dpkg-shlibdeps (dpkg-dev)
# and file, which CPack's DEB generator runs, with lintian and appstreamcli, which check
# the package and its metainfo; ser2net, the serial device server that the
# network port tests start on 127.0.0.1 themselves, and nftables, whose rule in a network
# namespace of the test's own cuts such a link without a word. QCustomPlot (its Qt 6 build)
# draws the Log window's plots, and Qt SVG writes them as SVG pictures; nlohmann's JSON
# library (header-only) writes quellon-cli's JSON and reads and writes the end-of-line
# station's job files and records and the MQTT messages; libmosquitto is the MQTT client
# that monitor --publish sends readings with.
base=(
    build-essential cmake ninja-build
    qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev nlohmann-json3-dev
    libqcustomplot-dev qt6-svg-dev
    libgtest-dev libgmock-dev
    dpkg-dev file
    lintian appstream
    ser2net nftables
    libmosquitto-dev
)
# What .ci/run adds to the README's test command: the Windows build (groff writes its
# manual as text for the zip; googletest's sources build GoogleTest for the Windows test
# program) and Wine, which runs its tests; the network step's mosquitto (the broker that the
# publishing tests start on 127.0.0.1) and openssl, which makes their test CA.
ci=(
    clang libclang-rt-14-dev
    g++-mingw-w64-x86-64 groff-base googletest
    wine64
    mosquitto openssl
)
# The developer's tools, not needed to build or test.
dev=(
    clang-format clang-tidy
    xvfb xauth imagemagick
    mmdebstrap
)

list_only=0
packages=("${base[@]}")
for arg in "$@"; do
    case "$arg" in
    --ci) packages+=("${ci[@]}") ;;
    --dev) packages+=("${ci[@]}" "${dev[@]}") ;;
    --list) list_only=1 ;;
    *)
        echo "install-deps: unknown option $arg (use --ci, --dev or --list)" >&2
        exit 2
        ;;
    esac
done

if [ "$list_only" -eq 1 ]; then
    printf '%s\n' "${packages[@]}" | sort -u
    exit 0
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: everything is installed"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

# The package's own service (its example configuration serves /dev/ttyS0 on localhost) is not
# what the tests use: when this run installed ser2net on a machine with systemd, it is
# stopped and disabled again.
for p in "${missing[@]}"; do
    if [ "$p" = mosquitto ] && command -v systemctl >/dev/null 2>&1 &&
        systemctl is-enabled mosquitto >/dev/null 2>&1; then
        echo "install-deps: disabling the mosquitto service (the tests start their own)"
        $SUDO systemctl disable --now mosquitto >/dev/null 2>&1 || true
    fi
    if [ "$p" = ser2net ] && command -v systemctl >/dev/null 2>&1 &&
        systemctl is-enabled ser2net >/dev/null 2>&1; then
        echo "install-deps: disabling the ser2net service (the tests start their own)"
        $SUDO systemctl disable --now ser2net >/dev/null 2>&1 || true
    fi
done
