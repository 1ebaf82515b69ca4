#!/usr/bin/env bash
# Classify and train requests per second, one small text per request, in one run on one machine,
# for three set-ups side by side:
#   file        one server on classifier files
#   postgres    one server on PostgreSQL (server 1 of the cluster below, on its own port)
#   haproxy     two servers on that PostgreSQL database behind HAProxy (round robin)
# each with 1 and 8 requests in flight (the quillmark client's --parallel, --max-request 1 so that
# every text travels alone and every train request is acknowledged before it counts). The rounds
# interleave the set-ups so that a busy machine hurts all of them alike. The cluster is
# scripts/haproxy-cluster.sh; its PostgreSQL fsyncs (QM_POSTGRES_FSYNC=on), as the file store
# syncs its journal.
#
#   bash bench/cluster/run.sh [BUILD_FOLDER]      (default build/release)
#
# CLUSTER_CLASSIFY (default 2000) texts are classified and CLUSTER_TRAIN (default 300) trained
# per measurement; CLUSTER_ROUNDS (default 3) rounds. Files go to BUILD_FOLDER/cluster-bench.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

if [[ ${1:-} != --measure ]]; then
  build=$(cd "${1:-$root/build/release}" && pwd)
  out=$build/cluster-bench
  cmake --build "$build" -j2 --target quillmark quillmarkserver >/dev/null
  rm -rf "$out"
  mkdir -p "$out/classify" "$out/train"
  # Small texts of 12 to 30 words drawn from the client's example texts, the same in every run.
  cat "$root"/src-client/examples/*/*.txt | tr -cs 'A-Za-z' '\n' | awk -v out="$out" \
    -v classify="${CLUSTER_CLASSIFY:-2000}" -v train="${CLUSTER_TRAIN:-300}" '
    NF { words[n++] = tolower($0) }
    END {
      srand(1)
      for (t = 0; t < classify + train; t++) {
        file = sprintf("%s/%s/%05d.txt", out, t < classify ? "classify" : "train", t)
        k = 12 + int(rand() * 19); text = ""
        for (i = 0; i < k; i++) text = text (i ? " " : "") words[int(rand() * n)]
        print text > file; close(file)
      }
    }'
  export QM_POSTGRES_FSYNC=on
  exec bash "$root/scripts/haproxy-cluster.sh" run "$build/stage" bash "$here/run.sh" --measure "$build"
fi

# ---- inside the cluster (scripts/haproxy-cluster.sh run): QUILLMARK_PORT is HAProxy's port
build=$2
out=$build/cluster-bench
stage=$build/stage
rounds=${CLUSTER_ROUNDS:-3}
classify_count=$(find "$out/classify" -type f | wc -l)
train_count=$(find "$out/train" -type f | wc -l)

# The file-store server in a copy of the runnable folder, on a port nothing answers on.
port=
for _ in $(seq 1 50); do
  candidate=$((20000 + RANDOM % 12000))
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; break; fi
done
[[ -n $port ]] || { echo "no free port found" >&2; exit 1; }
mkdir -p "$out/server"
cp "$stage/quillmarkserver" "$out/server/"
ln -sfn "$stage/xml" "$out/server/xml"
sed -e "s|<port>[0-9]*</port>|<port>$port</port>|" \
    -e "s|<metricsPort>[0-9]*</metricsPort>|<metricsPort>0</metricsPort>|" \
    "$stage/config.xml" >"$out/server/config.xml"
(cd "$out/server" && exec ./quillmarkserver -quiet -config config.xml) >"$out/server.log" 2>&1 &
server=$!
trap 'kill -TERM $server 2>/dev/null || true; wait $server 2>/dev/null || true' EXIT
for attempt in $(seq 1 100); do
  status=0
  "$stage/quillmark" --port "$port" info probe >/dev/null 2>&1 || status=$?
  ((status == 1)) && break
  ((attempt == 100)) && { echo "the file-store server did not answer" >&2; exit 1; }
  sleep 0.2
done

setups=(file postgres haproxy)
declare -A ports=([file]=$port [postgres]=$QM_SERVER1_PORT [haproxy]=$QUILLMARK_PORT)
client() { "$stage/quillmark" --port "${ports[$1]}" "${@:2}"; }
now() { date +%s.%N; }

# Each set-up classifies with a classifier of its own, trained once with the example texts and
# read once before the rounds, so that every server has it in memory.
for setup in "${setups[@]}"; do
  client "$setup" create "read_$setup" >/dev/null
  client "$setup" add-class "read_$setup" sport politics >/dev/null
  for class in sport politics; do
    client "$setup" train "read_$setup" "$class" "$root/src-client/examples/$class" >/dev/null
  done
  client "$setup" --parallel 8 --max-request 1 classify "read_$setup" "$out/classify" >/dev/null 2>&1
done

echo "== machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== $classify_count classify and $train_count train requests per measurement, $rounds rounds"
for round in $(seq 1 "$rounds"); do
  for setup in "${setups[@]}"; do
    for p in 1 8; do
      start=$(now)
      client "$setup" --parallel "$p" --max-request 1 classify "read_$setup" "$out/classify" \
        >/dev/null 2>&1 || { echo "classify on $setup failed" >&2; exit 1; }
      echo "$setup $p classify $(echo "$(now) - $start" | bc) $classify_count" >>"$out/times.txt"
      # Training starts on a new classifier each time, so every measurement trains the same.
      name=write_${setup}_${p}_$round
      client "$setup" create "$name" >/dev/null
      client "$setup" add-class "$name" sport politics >/dev/null
      start=$(now)
      client "$setup" --parallel "$p" --max-request 1 train "$name" sport "$out/train" \
        >/dev/null 2>&1 || { echo "train on $setup failed" >&2; exit 1; }
      echo "$setup $p train $(echo "$(now) - $start" | bc) $train_count" >>"$out/times.txt"
    done
  done
  echo "round $round done (load average $(cut -d' ' -f1-3 /proc/loadavg))"
done

awk '
  { sec[$1 " " $2 " " $3] += $4; n[$1 " " $2 " " $3] = $5; r[$1 " " $2 " " $3]++ }
  END {
    printf "%-10s %8s %15s %15s %12s %12s\n", "set-up", "clients", "classify req/s", "train req/s",
      "classify x", "train x"
    split("file postgres haproxy", setups, " ")
    for (p = 1; p <= 8; p *= 8) {
      for (i = 1; i <= 3; i++) {
        s = setups[i]
        c = n[s " " p " classify"] * r[s " " p " classify"] / sec[s " " p " classify"]
        t = n[s " " p " train"] * r[s " " p " train"] / sec[s " " p " train"]
        if (i == 1) { c0 = c; t0 = t }
        printf "%-10s %8d %15.0f %15.0f %11.2fx %11.2fx\n", s, p, c, t, c / c0, t / t0
      }
    }
  }' "$out/times.txt"
echo "(x: against one server on files with as many clients; load average $(cut -d' ' -f1-3 /proc/loadavg))"
