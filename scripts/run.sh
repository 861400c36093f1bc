#!/usr/bin/env bash
# Marks an example label on the embedded simulated machine and says where the picture is.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >/dev/null
scripts/build.sh default >/dev/null
bin=build/default/bin
label="${1:-examples/text-stroke.xml}"
# A fresh store: the run starts from the station's defaults and leaves the real one alone.
work="$(mktemp -d)"
LAPIDOGRAPH_SETTINGS="$work/settings.db" "$bin/lapidograph-cli" mark "$label" --out "$work/out"
echo "The marks of $label on the simulated stone: $work/out/marks.png"
