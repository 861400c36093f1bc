#!/usr/bin/env bash
# The long checks (not part of scripts/test.sh): the whole suite under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, then a short fuzzing pass over every
# reader of outside input. Stops at the first failing step.
# The tsan test preset sets ignore_noninstrumented_modules=1: Qt and OpenCV are not built with
# the thread checker, so the hand-over inside their own thread pools (an allocation in one
# thread, its release in a pooled one) is invisible to it; accesses made from inside those
# libraries are left out, every access from the station's own code is still checked.
#   scripts/check.sh [FUZZ_SECONDS]     (default 60 per fuzz target)
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds="${1:-60}"
scripts/install-deps.sh

db_started=""
if [ -x scripts/start-test-db.sh ]; then
  db_env="$(scripts/start-test-db.sh --env)"
  eval "$db_env"
  db_started=1
fi
cleanup() { if [ -n "$db_started" ]; then scripts/start-test-db.sh --stop >/dev/null 2>&1 || true; fi; }
trap cleanup EXIT

export QT_QPA_PLATFORM=offscreen
for preset in asan tsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "== fuzz (${fuzz_seconds} s a target)"
scripts/fuzz.sh "$fuzz_seconds"
