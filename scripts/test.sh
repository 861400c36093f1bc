#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default

db_started=""
if [ -x scripts/start-test-db.sh ]; then
  # A database that does not start fails the run (assigned first so that set -e sees it).
  db_env="$(scripts/start-test-db.sh --env)"
  eval "$db_env"
  db_started=1
fi
cleanup() { if [ -n "$db_started" ]; then scripts/start-test-db.sh --stop >/dev/null 2>&1 || true; fi; }
trap cleanup EXIT

export QT_QPA_PLATFORM=offscreen
ctest --preset default "$@"
