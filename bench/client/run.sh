#!/usr/bin/env bash
# The quillmark client with --parallel 1, 2, 4 and 8 against the staged quillmarkserver, in one run
# on one machine: classifies the test split of the fortune language corpus (one file per text,
# the default --max-request) and reports texts/s and the server's CPU time per text (user + system
# from /proc/PID/stat around each run); the rounds interleave the settings so that a busy machine
# hurts all of them alike. Before that it trains two classifiers with the same texts, one with
# --parallel 1 and one with --parallel 2, and reports both times (the write default). Last, the
# engine in process on the same test texts (CorpusBench classify/language), unless ENGINE=0.
#
#   bash bench/client/run.sh [BUILD_FOLDER]      (default build/release)
#
# CLIENT_TRAIN_LIMIT (default 2000) caps the texts trained per language; CLIENT_ROUNDS (default 3)
# is the number of rounds. Files go to BUILD_FOLDER/client-bench.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/release}
out=$build/client-bench
data=$build/corpus/data
stage=$build/stage
limit=${CLIENT_TRAIN_LIMIT:-2000}
rounds=${CLIENT_ROUNDS:-3}

bash "$root/bench/corpus/setup.sh"
targets=(quillmark quillmarkserver)
[[ ${ENGINE:-1} != 0 ]] && targets+=(CorpusBench)
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
python3 "$root/bench/corpus/make_corpus.py" --out "$data" >/dev/null

rm -rf "$out"
mkdir -p "$out"
# One file per text: the test split in one folder, the training texts in one folder per label.
python3 - "$data/language" "$out" "$limit" <<'PY'
import os, sys
source, out, limit = sys.argv[1], sys.argv[2], int(sys.argv[3])
def texts(split):
    with open(os.path.join(source, split + ".tsv"), "rb") as f:
        for line in f:
            label, _, text = line.rstrip(b"\n").partition(b"\t")
            plain, i = bytearray(), 0
            while i < len(text):
                if text[i] == 0x5C and i + 1 < len(text):
                    plain += {0x5C: b"\\", 0x74: b"\t", 0x6E: b"\n", 0x72: b"\r"}[text[i + 1]]
                    i += 2
                else:
                    plain.append(text[i])
                    i += 1
            yield label.decode(), bytes(plain)
os.makedirs(os.path.join(out, "test"))
for n, (_, text) in enumerate(texts("test")):
    with open(os.path.join(out, "test", "%05d.txt" % n), "wb") as f:
        f.write(text)
counts = {}
for label, text in texts("train"):
    counts[label] = counts.get(label, 0) + 1
    if counts[label] > limit:
        continue
    os.makedirs(os.path.join(out, "train", label), exist_ok=True)
    with open(os.path.join(out, "train", label, "%05d.txt" % counts[label]), "wb") as f:
        f.write(text)
PY
tests=$(find "$out/test" -type f | wc -l)
labels=$(ls "$out/train")

# The server in a copy of the runnable folder, on a free port below the ephemeral range.
port=
for _ in $(seq 1 50); do
  candidate=$((20000 + RANDOM % 12000))
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; break; fi
done
[[ -n $port ]] || { echo "no free port found" >&2; exit 1; }
cp -r "$stage/." "$out/server/"
sed -i "s|<port>[0-9]*</port>|<port>$port</port>|" "$out/server/config.xml"
(cd "$out/server" && exec ./quillmarkserver -config config.xml) >"$out/server.log" 2>&1 &
server=$!
trap 'kill -TERM $server 2>/dev/null || true; wait $server 2>/dev/null || true' EXIT
client=("$stage/quillmark" --port "$port")
for attempt in $(seq 1 100); do
  status=0
  "${client[@]}" info probe >/dev/null 2>&1 || status=$?
  [[ $status -eq 1 ]] && break
  [[ $attempt -eq 100 ]] && { echo "the server did not answer" >&2; cat "$out/server.log" >&2; exit 1; }
  sleep 0.2
done

ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$server/stat"; }
now() { date +%s.%N; }

echo "== machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== training $limit texts per language into two classifiers, with --parallel 1 and 2"
for p in 1 2; do
  "${client[@]}" create "language$p" >/dev/null
  # shellcheck disable=SC2086
  "${client[@]}" add-class "language$p" $labels >/dev/null
done
for label in $labels; do
  for p in 1 2; do
    start=$(now)
    "${client[@]}" --parallel "$p" train "language$p" "$label" "$out/train/$label" >/dev/null
    echo "train $p $label $(echo "$(now) - $start" | bc)" >>"$out/train.txt"
  done
done
awk '$1 == "train" { s[$2] += $4 } END {
  for (p in s) printf "train --parallel %s: %.2f s\n", p, s[p] }' "$out/train.txt" | sort

echo "== classify $tests texts, $rounds rounds (load average $(cut -d' ' -f1-3 /proc/loadavg))"
for round in $(seq 1 "$rounds"); do
  for p in 1 2 4 8; do
    before=$(cpu)
    start=$(now)
    "${client[@]}" --parallel "$p" classify language1 "$out/test" >"$out/classify$p.txt" 2>/dev/null
    end=$(now)
    after=$(cpu)
    echo "$p $(echo "$end - $start" | bc) $((after - before))" >>"$out/classify.txt"
    cmp -s "$out/classify1.txt" "$out/classify$p.txt" || { echo "--parallel $p printed other output" >&2; exit 1; }
  done
done
awk -v n="$tests" -v hz="$ticks" '
  { s[$1] += $2; c[$1] += $3; r[$1]++ }
  END {
    printf "%-12s %10s %10s %18s %8s\n", "--parallel", "seconds", "texts/s", "server CPU/text", "ratio"
    for (p = 1; p <= 8; p *= 2) {
      sec = s[p] / r[p]; rate = n / sec
      if (p == 1) base = rate
      printf "%-12d %10.2f %10.0f %15.1f us %7.2fx\n", p, sec, rate, c[p] / r[p] / hz / n * 1e6, rate / base
    }
  }' "$out/classify.txt"

if [[ ${ENGINE:-1} != 0 ]]; then
  echo "== the engine in process (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  "$build/bench/CorpusBench" --corpus="$data" --benchmark_filter='^classify/language$' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
fi
