#!/usr/bin/env bash
# Starts a throw-away MariaDB server for the database tests (label "db") and stops it again.
#
#   scripts/start-test-db.sh               start, print the variables and how to stop it
#   scripts/start-test-db.sh --env         start, print only `export ...` lines (for eval)
#   scripts/start-test-db.sh --stop [DIR]  stop the server of DIR (default $LAPIDO_TEST_DB_DIR)
#                                          and remove DIR
#
# The server lives in its own data folder under $TMPDIR (never the system's data folder),
# listens on loopback on a free port and on a socket inside that folder, and runs as the
# current user. It installs nothing: scripts/install-deps.sh brings mariadb-server.
set -euo pipefail

mode="${1:-}"

log() { echo "start-test-db: $*" >&2; }

find_tool() {
  local t
  for t in "$@"; do
    if command -v "$t" >/dev/null 2>&1; then command -v "$t"; return 0; fi
    if [ -x "/usr/sbin/$t" ]; then echo "/usr/sbin/$t"; return 0; fi
  done
  return 1
}

stop_server() {
  local dir="$1"
  if [ -z "$dir" ] || [ ! -d "$dir" ]; then
    log "nothing to stop (no data folder given or found)"
    return 0
  fi
  # Only folders this script made are removed.
  if [ ! -f "$dir/lapido-test-db" ]; then
    log "$dir is not a test database folder; leaving it alone"
    return 1
  fi
  if [ -f "$dir/mariadbd.pid" ]; then
    local pid
    pid="$(cat "$dir/mariadbd.pid")"
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  rm -rf "$dir"
  log "stopped and removed $dir"
}

if [ "$mode" = "--stop" ]; then
  stop_server "${2:-${LAPIDO_TEST_DB_DIR:-}}"
  exit $?
fi
if [ -n "$mode" ] && [ "$mode" != "--env" ]; then
  echo "usage: $0 [--env | --stop [DIR]]" >&2
  exit 2
fi

mariadbd="$(find_tool mariadbd mysqld)" || { log "mariadbd not found (run scripts/install-deps.sh)"; exit 1; }
installdb="$(find_tool mariadb-install-db mysql_install_db)" || { log "mariadb-install-db not found"; exit 1; }
client="$(find_tool mariadb mysql)" || { log "mariadb client not found"; exit 1; }

free_port() {
  local port
  for _ in $(seq 1 50); do
    port=$(( 20000 + RANDOM % 30000 ))
    if ! ss -Hltn "sport = :$port" 2>/dev/null | grep -q .; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

dir="$(mktemp -d -t lapido-testdb.XXXXXX)"
touch "$dir/lapido-test-db"
trap 'stop_server "$dir" >/dev/null 2>&1 || true' ERR

user="$(id -un)"
port="$(free_port)" || { log "no free port found"; exit 1; }
socket="$dir/mariadbd.sock"
db_user="lapido_test"
db_password="lapido-test-$RANDOM$RANDOM"

"$installdb" --no-defaults --datadir="$dir/data" --user="$user" \
  --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1 \
  || { log "initialising the data folder failed, see below"; cat "$dir/install.log" >&2; exit 1; }

# Detached from our standard output so that `eval "$(... --env)"` does not wait for it.
setsid "$mariadbd" --no-defaults --user="$user" --datadir="$dir/data" \
  --socket="$socket" --port="$port" --bind-address=127.0.0.1 \
  --pid-file="$dir/mariadbd.pid" --log-error="$dir/error.log" \
  --skip-log-bin --innodb-buffer-pool-size=16M --innodb-log-file-size=8M \
  --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
  </dev/null >/dev/null 2>&1 &

ready=""
for _ in $(seq 1 300); do
  if "$client" --no-defaults --protocol=socket --socket="$socket" -uroot -e "SELECT 1" >/dev/null 2>&1; then
    ready=1
    break
  fi
  sleep 0.1
done
if [ -z "$ready" ]; then
  log "the server did not answer within 30 s"
  [ -f "$dir/error.log" ] && tail -n 20 "$dir/error.log" >&2
  stop_server "$dir" >/dev/null 2>&1 || true
  exit 1
fi

"$client" --no-defaults --protocol=socket --socket="$socket" -uroot <<SQL
CREATE USER '$db_user'@'localhost' IDENTIFIED BY '$db_password';
CREATE USER '$db_user'@'127.0.0.1' IDENTIFIED BY '$db_password';
GRANT ALL PRIVILEGES ON *.* TO '$db_user'@'localhost';
GRANT ALL PRIVILEGES ON *.* TO '$db_user'@'127.0.0.1';
FLUSH PRIVILEGES;
SQL
trap - ERR

exports="export LAPIDO_TEST_DB_DIR='$dir'
export LAPIDO_TEST_DB_HOST='127.0.0.1'
export LAPIDO_TEST_DB_PORT='$port'
export LAPIDO_TEST_DB_SOCKET='$socket'
export LAPIDO_TEST_DB_USER='$db_user'
export LAPIDO_TEST_DB_PASSWORD='$db_password'"

if [ "$mode" = "--env" ]; then
  echo "$exports"
else
  echo "$exports"
  echo "# MariaDB test server running in $dir (port $port)."
  echo "# Stop it with: $0 --stop '$dir'"
fi
