#!/usr/bin/env bash
# Builds the configurator and starts it against the built-in virtual sensor.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target quellon-configurator
exec ./build/default/app/quellon-configurator --simulate "$@"
