#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset, clang) and runs each for SECONDS, one after
# another, on its seed corpus: fuzz/corpus/<target>/ and the matching files of tests/data/.
# New inputs the fuzzer finds are kept in build/fuzz/corpus/<target>/ for the next run;
# crashing, leaking, slow or oversized inputs land in build/fuzz/findings/<target>/.
# Prints one line per target and exits non-zero when any target found something.
#
#   scripts/fuzz.sh SECONDS [TARGET...]     e.g. scripts/fuzz.sh 600   or   scripts/fuzz.sh 60 fuzz_dxf
# Environment: FUZZ_RSS_LIMIT_MB (default 2560), FUZZ_UNIT_TIMEOUT seconds per input (default 120).
set -uo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]] || [ "$1" -eq 0 ]; then
  echo "usage: scripts/fuzz.sh SECONDS [TARGET...]" >&2
  exit 2
fi
seconds="$1"
shift
rss_limit="${FUZZ_RSS_LIMIT_MB:-2560}"
unit_timeout="${FUZZ_UNIT_TIMEOUT:-120}"

all_targets=()
for src in fuzz/fuzz_*.cpp; do
  all_targets+=("$(basename "$src" .cpp)")
done
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=("${all_targets[@]}")
fi

cmake --preset fuzz >/dev/null || exit 2
cmake --build build/fuzz --target "${targets[@]}" || exit 2

# Seeds kept in the tests' data, by target.
extra_seeds() {
  case "$1" in
    fuzz_dxf) ls tests/data/geometry/*.dxf 2>/dev/null ;;
    fuzz_photo) ls tests/data/glyphs/photo/* 2>/dev/null ;;
  esac
}

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

status=0
for t in "${targets[@]}"; do
  bin="build/fuzz/bin/$t"
  if [ ! -x "$bin" ]; then
    echo "$t: not built"
    status=1
    continue
  fi
  # Absolute paths: a target may work in a folder of its own.
  corpus="$PWD/build/fuzz/corpus/$t"
  findings="$PWD/build/fuzz/findings/$t"
  seeds="$PWD/build/fuzz/seeds/$t"
  mkdir -p "$corpus" "$findings"
  rm -rf "$seeds"
  mkdir -p "$seeds"
  [ -d "fuzz/corpus/$t" ] && cp fuzz/corpus/"$t"/* "$seeds"/ 2>/dev/null
  for f in $(extra_seeds "$t"); do cp "$f" "$seeds"/; done
  log="$PWD/build/fuzz/findings/$t.log"
  before=$(find "$findings" -type f | wc -l)
  "$bin" -max_total_time="$seconds" -rss_limit_mb="$rss_limit" -timeout="$unit_timeout" \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$seeds" >"$log" 2>&1
  rc=$?
  after=$(find "$findings" -type f | wc -l)
  found=$((after - before))
  # A fuzzer that stopped with an error but saved nothing (it could not start) still fails.
  if [ "$rc" -ne 0 ] && [ "$found" -eq 0 ]; then
    found=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  units=$(find "$corpus" -type f | wc -l)
  printf '%s: runs %s, coverage %s edges (%s features), corpus %s, findings %s\n' \
    "$t" "${runs:-0}" "${cov:-0}" "${ft:-0}" "$units" "$found"
  if [ "$found" -gt 0 ]; then
    echo "  see $log and $findings/" 
    status=1
  fi
done
exit "$status"
