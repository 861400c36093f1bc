#!/usr/bin/env bash
# The station's processor share at rest with a label loaded, measured on the real program: for
# each label the station starts on a private virtual X display (scripts/xsession.sh) with the
# simulated machine, loads the label as a template (Alt+1), and once it has settled its
# processor time (utime + stime of /proc/PID/stat) is read over a few seconds. Printed per
# label: the processor seconds the loading took, the share of one core at rest, and the growth
# between the first label and the others.
#
#   bench/station_at_rest.sh [--station PATH] [--seconds N] [--preview] [--keep DIR] LABEL.xml...
#
# The labels' logos are looked for in a "Logos" folder beside the first label (as
# bench_label_size --keep DIR writes them). PATH: the station (default build/default/bin/lapidograph).
# N: seconds measured at rest (default 5). A station that never settles is measured after 600 s.
# --preview switches the window's Preview on before the label is loaded (the Video panel's
# switch, clicked where a 1920x1080 screen shows it), so that the preview's upkeep is measured
# too. --keep DIR keeps a picture of the screen at rest per label.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
station="$root/build/default/bin/lapidograph"
seconds=5
keep=""
preview=0
labels=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --station) station="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --keep) keep="$2"; shift 2 ;;
    --preview) preview=1; shift ;;
    --inner) shift; break ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) labels+=("$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"); shift ;;
  esac
done

# --- inside the virtual display: one station, one label ------------------------------------------
if [[ "${1-}" == "measure" ]]; then
  station="$2"; folder="$3"; seconds="$4"; preview="$5"
  hz="$(getconf CLK_TCK)"
  ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
  cd "$folder"
  "$station" --simulate /NOHOMING >"$folder/station.out" 2>&1 &
  pid=$!
  trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT
  window=""
  for _ in $(seq 1 600); do
    window="$(xdotool search --onlyvisible --pid "$pid" --name 'Lapidograph' 2>/dev/null | head -n1 || true)"
    [[ -n "$window" ]] && break
    kill -0 "$pid" 2>/dev/null || { echo "the station ended before its window showed" >&2; exit 1; }
    sleep 0.1
  done
  [[ -n "$window" ]] || { echo "the station's window did not show" >&2; exit 1; }
  # Settled before the label comes: the start's own work is not the label's.
  prev="$(ticks "$pid")"
  for _ in $(seq 1 120); do
    sleep 1
    now="$(ticks "$pid")"
    (( (now - prev) * 100 < hz * 50 )) && break
    prev="$now"
  done
  xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
  # A busy machine may hand the focus over a moment after the window manager says so.
  sleep 1
  if [[ "$preview" == 1 ]]; then
    # "Video" opens the panel that holds the switch; both where a 1920x1080 screen has them.
    xdotool mousemove 1477 202 click 1
    sleep 1
    xdotool mousemove 163 1028 click 1
    sleep 1
  fi
  start="$(ticks "$pid")"
  xdotool key --clearmodifiers alt+1
  # At rest: a second that takes less than a quarter of a core, two in a row.
  prev="$start"; calm=0
  for _ in $(seq 1 600); do
    sleep 1
    now="$(ticks "$pid")"
    if (( (now - prev) * 100 < hz * 25 )); then calm=$((calm + 1)); else calm=0; fi
    prev="$now"
    (( calm >= 2 )) && break
  done
  loaded="$(ticks "$pid")"
  t0="$(date +%s.%N)"
  sleep "$seconds"
  t1="$(date +%s.%N)"
  rest="$(ticks "$pid")"
  import -window root "$folder/screen.png" 2>/dev/null || true
  awk -v l="$((loaded - start))" -v r="$((rest - loaded))" -v hz="$hz" -v t0="$t0" -v t1="$t1" \
    'BEGIN { printf "%.2f %.1f\n", l / hz, 100 * r / hz / (t1 - t0) }'
  exit 0
fi

# --- outside: one private station folder per label -------------------------------------------------
[[ ${#labels[@]} -gt 0 ]] || { sed -n '2,14p' "$0"; exit 2; }
[[ -x "$station" ]] || { echo "station_at_rest: no station at $station" >&2; exit 2; }
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cli="$(dirname "$station")/lapidograph-cli"
printf '%-24s %14s %16s %8s\n' "label" "loading (s cpu)" "at rest (% core)" "growth"
first=""
for label in "${labels[@]}"; do
  name="$(basename "$label" .xml)"
  folder="$scratch/$name"
  mkdir -p "$folder/Templates"
  [[ -d "$(dirname "${labels[0]}")/Logos" ]] && cp -r "$(dirname "${labels[0]}")/Logos" "$folder/"
  cp "$label" "$folder/Templates/$name.xml"
  export LAPIDOGRAPH_SETTINGS="$folder/settings.db"
  for kv in "Administration WorkingDir $folder/" "Marking AutoTemplateName 1" "Layout BindKey1 $name" \
            "Hardware EnableOnDelay 0"; do
    # shellcheck disable=SC2086
    "$cli" settings set $kv >/dev/null 2>&1
  done
  result="$("$root/scripts/xsession.sh" --size 1920x1080 -- "$0" --inner measure "$station" "$folder" "$seconds" "$preview")" || {
    printf '%-24s FAILED\n' "$name"; continue; }
  read -r loading rest <<<"$result"
  [[ -z "$first" ]] && first="$rest"
  growth="$(awk -v a="$first" -v b="$rest" 'BEGIN { printf "%.1fx", (a > 0.05 ? b / a : b / 0.05) }')"
  printf '%-24s %14s %16s %8s\n' "$name" "$loading" "$rest" "$growth"
  if [[ -n "$keep" ]]; then
    mkdir -p "$keep"
    cp "$folder/screen.png" "$keep/$name.png" 2>/dev/null || true
  fi
done
exit 0
