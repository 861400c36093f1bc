#!/usr/bin/env bash
# Configures and builds the default preset (or the one named as first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
