#!/usr/bin/env bash
# Builds the Debian package quellon-configurator_VERSION_ARCH.deb into build/default
# (the README's optional install line). Install it with
#   sudo apt-get install ./build/default/quellon-configurator_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target quellon-configurator quellon-sim man_pages
(cd build/default && cpack -G DEB)
ls build/default/quellon-configurator_*.deb
