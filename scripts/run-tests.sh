#!/usr/bin/env bash
# Builds the configurator and runs the whole test suite (the README's test command).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default -j2 --timeout 300
