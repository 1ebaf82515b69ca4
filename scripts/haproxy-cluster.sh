#!/usr/bin/env bash
# Two Quillmark servers on one PostgreSQL database behind HAProxy, all on loopback ports:
#
#   haproxy-cluster.sh check STAGE_DIR          starts the set-up, checks it through HAProxy and
#                                               through each server, stops it; exit 0 when it works
#   haproxy-cluster.sh run STAGE_DIR [COMMAND]  starts the set-up and runs COMMAND in it (without
#                                               one, waits for Ctrl-C), then stops it
#
# STAGE_DIR is a build's runnable folder (quillmarkserver, quillmark, xml/, config.xml). Under a
# new temporary folder: a private PostgreSQL cluster (scripts/postgres-cluster.sh), server1/ and
# server2/ (each a copy of the executable beside a link to xml/, its own config.xml on a free
# port with postgresConnection set, and its own logs/), and haproxy.cfg (TCP mode, round robin
# over both servers, connect checks). COMMAND sees QUILLMARK_PORT (HAProxy's port),
# QM_SERVER1_PORT, QM_SERVER2_PORT, QM_CLUSTER_DIR (the temporary folder) and QM_POSTGRES (the
# connection string). Whatever happens, everything started here is stopped and the folder
# deleted on exit. Works as root (PostgreSQL then runs as quillmark-test) and as another user.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)

usage() {
  echo "usage: $0 check|run STAGE_DIR [COMMAND...]" >&2
  exit 2
}

[[ $# -ge 2 ]] || usage
mode=$1
stage=$(cd "$2" && pwd)
shift 2
[[ $mode == check || $mode == run ]] || usage
[[ $mode == run || $# -eq 0 ]] || usage
for tool in "$stage/quillmarkserver" "$stage/quillmark"; do
  [[ -x $tool ]] || { echo "No executable $tool: build the targets quillmarkserver and quillmark." >&2; exit 1; }
done
haproxy=$(command -v haproxy || true)
[[ -n $haproxy ]] || { echo "HAProxy is not installed (bash scripts/setup.sh installs it)." >&2; exit 1; }

fail() {
  echo "haproxy-cluster: $*" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-ha.XXXXXX")
pids=()
postgres_started=
cleanup() {
  local status=$? pid
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if ((status != 0 && status != 130 && status != 143)); then
    for log in "$work"/server*/logs/log.txt "$work/haproxy.log"; do
      [[ -f $log ]] && { echo "--- last lines of $log" >&2; tail -n 15 "$log" >&2; }
    done
  fi
  [[ -z $postgres_started ]] || bash "$here/postgres-cluster.sh" stop "$work/postgres" || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A port nothing answers on, below the system's range of ephemeral ports (from 32768), where the
# outgoing connections of other programs could take it before the server binds it. Each server
# is listening before the next port is picked, so no two picks are the same.
free_port() {
  local port _
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 12000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
    echo "$port"
    return 0
  done
  fail "no free port found"
}

# Waits until a server answers a request through PORT with a response document (exit status 1:
# no such classifier); fails when PID has ended meanwhile.
await_answer() {
  local port=$1 pid=$2 what=$3 status _
  for _ in $(seq 1 100); do
    status=0
    "$stage/quillmark" --port "$port" info cluster-probe >/dev/null 2>&1 || status=$?
    ((status == 1)) && return 0
    kill -0 "$pid" 2>/dev/null || fail "$what ended at start-up"
    sleep 0.2
  done
  fail "$what did not answer on port $port within 20 s"
}

bash "$here/postgres-cluster.sh" start "$work/postgres" >/dev/null
postgres_started=1
connection=$(cat "$work/postgres/connection")

server_ports=()
for n in 1 2; do
  folder=$work/server$n
  port=$(free_port)
  mkdir -p "$folder"
  # A copy, not a link: the server finds its configuration paths and logs/ from the executable's
  # real folder.
  cp "$stage/quillmarkserver" "$folder/"
  ln -s "$stage/xml" "$folder/xml"
  sed -e "s|<port>[0-9]*</port>|<port>$port</port>|" \
      -e "s|<metricsPort>[0-9]*</metricsPort>|<metricsPort>0</metricsPort>|" \
      -e "s|</quillmark>|  <postgresConnection>$connection</postgresConnection>\n</quillmark>|" \
      "$stage/config.xml" >"$folder/config.xml"
  grep -q "<port>$port</port>" "$folder/config.xml" || fail "no <port> element in $stage/config.xml"
  (cd "$folder" && exec ./quillmarkserver -quiet -config config.xml) >"$folder/console.txt" 2>&1 &
  pids+=($!)
  await_answer "$port" "$!" "server $n"
  server_ports+=("$port")
done

front=$(free_port)
cat >"$work/haproxy.cfg" <<EOF
global
    maxconn 2000

defaults
    mode tcp
    timeout connect 5s
    timeout client 120s
    timeout server 120s

frontend quillmark
    bind 127.0.0.1:$front
    default_backend quillmark_servers

backend quillmark_servers
    balance roundrobin
    server server1 127.0.0.1:${server_ports[0]} check inter 1s fall 2 rise 2
    server server2 127.0.0.1:${server_ports[1]} check inter 1s fall 2 rise 2
EOF
"$haproxy" -c -q -f "$work/haproxy.cfg" || fail "HAProxy refused $work/haproxy.cfg"
"$haproxy" -db -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 &
pids+=($!)
await_answer "$front" "$!" "HAProxy"

export QUILLMARK_PORT=$front QM_SERVER1_PORT=${server_ports[0]} QM_SERVER2_PORT=${server_ports[1]}
export QM_CLUSTER_DIR=$work QM_POSTGRES=$connection
unset QUILLMARK_HOST

if [[ $mode == run ]]; then
  echo "HAProxy on 127.0.0.1:$front over servers on ports ${server_ports[*]}; PostgreSQL: $connection"
  # In the background, so that a signal to this script runs its trap at once.
  if (($# > 0)); then
    "$@" &
  else
    echo "Ctrl-C stops everything."
    sleep infinity &
  fi
  pids+=($!)
  wait $!
  exit
fi

# ---- check
client() { "$stage/quillmark" "$@"; }
# Requests each server has received with a body (HAProxy's connect checks send none).
served() { grep -c "Received a request from client with id [0-9]* with the size of [1-9]" \
  "$work/server$1/logs/log.txt" || true; }

client create cluster >/dev/null || fail "create through HAProxy failed"
client add-class cluster sport politics >/dev/null || fail "add-class through HAProxy failed"
client train cluster sport "$root/src-client/examples/sport" >/dev/null || fail "train through HAProxy failed"
client train cluster politics "$root/src-client/examples/politics" >/dev/null ||
  fail "train through HAProxy failed"

text="The striker scored a late goal in the cup match"
counts=("$(served 1)" "$(served 2)")
first=$(client classify cluster - <<<"$text") || fail "classify through HAProxy failed"
[[ $(head -n 1 <<<"$first") == sport* ]] || fail "classify through HAProxy said: $first"
for i in $(seq 2 10); do
  answer=$(client classify cluster - <<<"$text") || fail "classify $i through HAProxy failed"
  [[ $answer == "$first" ]] || fail "classify $i through HAProxy answered otherwise: $answer"
done
for n in 1 2; do
  count=$(($(served "$n") - counts[n - 1]))
  ((count > 0)) || fail "server $n served none of the 10 classify requests through HAProxy"
  echo "server $n served $count of the 10 classify requests through HAProxy"
done

# A write acknowledged by one server is seen by the next read on the other, both ways, with
# nothing in between that could give the other server time to catch up on its own.
for round in 1 2 3; do
  for n in 1 2; do
    writer=${server_ports[n - 1]}
    reader=${server_ports[2 - n]}
    old=$(client --port "$reader" info cluster) || fail "info on port $reader failed"
    client --port "$writer" train cluster politics - <<<"round $round vote $n on port $writer" \
      >/dev/null || fail "train on port $writer failed"
    seen=$(client --port "$reader" info cluster) || fail "info on port $reader failed"
    written=$(client --port "$writer" info cluster) || fail "info on port $writer failed"
    [[ $seen != "$old" && $seen == "$written" ]] ||
      fail "server on port $reader did not see the write acknowledged on port $writer:" \
        "before $old; after $seen; the writer has $written"
  done
done
echo "6 writes acknowledged by one server were seen by the next read on the other"

client --port "${server_ports[0]}" remove cluster >/dev/null || fail "remove on server 1 failed"
status=0
client --port "${server_ports[1]}" info cluster >/dev/null 2>&1 || status=$?
((status == 1)) || fail "server 2 still answered for the classifier removed on server 1 (exit $status)"
echo "a classifier removed on server 1 is gone on server 2"

# Server 2 stops: once its checks have failed, HAProxy sends every request to server 1. Each
# request is answered with a document (exit status 1: the classifier is gone).
kill -TERM "${pids[1]}"
wait "${pids[1]}" || fail "server 2 did not stop in order"
unset 'pids[1]'
before=$(served 1)
answered=0
for _ in $(seq 1 60); do
  status=0
  client info cluster >/dev/null 2>&1 || status=$?
  if ((status == 1)); then answered=$((answered + 1)); else answered=0; fi
  ((answered == 6)) && break
  sleep 0.25
done
((answered == 6)) || fail "with server 2 stopped, HAProxy did not answer 6 requests in a row within 15 s"
(($(served 1) - before >= 6)) || fail "server 1 did not serve the requests that HAProxy answered"
echo "with server 2 stopped, HAProxy sent the requests to server 1"
echo "HAProxy cluster check passed"
