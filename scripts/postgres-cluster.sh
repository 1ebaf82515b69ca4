#!/usr/bin/env bash
# A private PostgreSQL cluster for the tests, in a temporary folder on a free loopback port.
#
#   postgres-cluster.sh start FOLDER   makes and starts a cluster; writes FOLDER/connection (a
#                                      libpq connection string) and FOLDER/cluster (its folder)
#   postgres-cluster.sh stop FOLDER    stops the cluster named in FOLDER/cluster and deletes it
#
# initdb refuses root, so as root the cluster belongs to the unprivileged system user
# quillmark-test, created if missing; as another user it belongs to that user. Each start gets its
# own temporary folder and port, so build folders that run their tests at once never share one.
# The cluster trusts every local connection and does not fsync: it holds test data only.
# QM_POSTGRES_FSYNC=on makes it fsync as a production server does (for benchmarks).
set -euo pipefail

user=quillmark-test
role=quillmark

usage() {
  echo "usage: $0 start|stop FOLDER" >&2
  exit 2
}

[[ $# -eq 2 ]] || usage
action=$1
state=$2

as_owner() {
  if [[ $(id -u) -eq 0 ]]; then
    runuser -u "$user" -- "$@"
  else
    "$@"
  fi
}

binaries() {
  local found
  found=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  if [[ -z $found || ! -x $found/initdb ]]; then
    echo "PostgreSQL is not installed: no /usr/lib/postgresql/*/bin/initdb" \
      "(bash scripts/setup.sh installs it)." >&2
    exit 1
  fi
  echo "$found"
}

ensure_user() {
  [[ $(id -u) -eq 0 ]] || return 0
  id "$user" >/dev/null 2>&1 && return 0
  # Two build folders may start at once: the loser of a race finds the user made by the winner.
  useradd --system --no-create-home --shell /usr/sbin/nologin "$user" 2>/dev/null ||
    id "$user" >/dev/null
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

stop() {
  [[ -f $state/cluster ]] || return 0
  local folder bin
  folder=$(cat "$state/cluster")
  bin=$(binaries)
  if [[ -f $folder/data/postmaster.pid ]]; then
    as_owner "$bin/pg_ctl" -D "$folder/data" -m fast -w -t 60 stop >/dev/null ||
      echo "pg_ctl could not stop the cluster in $folder." >&2
  fi
  rm -rf "$folder"
  rm -f "$state/cluster" "$state/connection"
}

start() {
  local bin folder port attempt
  bin=$(binaries)
  ensure_user
  mkdir -p "$state"
  stop  # a cluster left by an interrupted run
  folder=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-pg.XXXXXX")
  echo "$folder" >"$state/cluster"
  [[ $(id -u) -eq 0 ]] && chown "$user:" "$folder"
  chmod 700 "$folder"
  as_owner "$bin/initdb" -D "$folder/data" -U "$role" -A trust -E UTF8 --locale=C --no-sync \
    >"$folder/initdb.log" 2>&1 || { cat "$folder/initdb.log" >&2; exit 1; }
  # The port is free when picked but may be taken before the server binds it: try a few.
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    if as_owner "$bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 -o \
        "-c port=$port -c listen_addresses=127.0.0.1 -c unix_socket_directories=$folder -c fsync=${QM_POSTGRES_FSYNC:-off}" \
        start >/dev/null; then
      echo "host=127.0.0.1 port=$port user=$role dbname=postgres" >"$state/connection"
      echo "PostgreSQL $(basename "$(dirname "$bin")") started in $folder on port $port" \
        "(attempt $attempt)."
      return 0
    fi
  done
  echo "PostgreSQL did not start in $folder; its log:" >&2
  tail -n 30 "$folder/server.log" >&2 || true
  exit 1
}

case $action in
  start) start ;;
  stop) stop ;;
  *) usage ;;
esac
