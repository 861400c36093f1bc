#!/usr/bin/env bash
# With a display: the desktop station on the simulated machine (arguments go to lapidograph,
# e.g. /DEBUG or --sim-speed 4). Without one: an example label marked headless on the
# simulated machine, and where the picture of the marks is.
set -euo pipefail
here="$(pwd)"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/install-deps.sh >/dev/null
scripts/build.sh default >/dev/null
bin="$root/build/default/bin"

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  # The station keeps its trace file (LATrace) in the folder it is started from.
  cd "$here"
  exec "$bin/lapidograph" --simulate "$@"
fi

label="${1:-examples/text-stroke.xml}"
# A label named relative to the folder the script was started from.
if [[ $# -gt 0 && "$label" != /* && -e "$here/$label" ]]; then label="$here/$label"; fi
# A fresh store: the run starts from the station's defaults and leaves the real one alone.
work="$(mktemp -d)"
LAPIDOGRAPH_SETTINGS="$work/settings.db" "$bin/lapidograph-cli" mark "$label" --out "$work/out"
echo "The marks of $label on the simulated stone: $work/out/marks.png"
echo "(With a display, scripts/run.sh opens the station's window on the simulated machine.)"
