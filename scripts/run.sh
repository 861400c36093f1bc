#!/usr/bin/env bash
# Runs the station's main job on the embedded simulated machine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >/dev/null
scripts/build.sh default >/dev/null
bin=build/default/bin
# A fresh store shows the defaults the station starts with.
store="$(mktemp -d)/settings.db"
LAPIDOGRAPH_SETTINGS="$store" "$bin/lapidograph-cli" settings record
