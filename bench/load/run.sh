#!/usr/bin/env bash
# End-to-end load, accuracy through the server and memory, in one run on one machine: builds
# the corpus from the fortune collections, runs LoadBench (the staged quillmarkserver as a child
# process, and the fixed-document server, with 1, 8 and 32 clients) and scikit-learn's models on
# the same splits, and prints the tables.
#
#   bash bench/load/run.sh [BUILD_FOLDER]      (default build/release)
#
# Installs what is missing first (bench/corpus/setup.sh, as root). Output files go to
# BUILD_FOLDER/load: load.json (LoadBench), sklearn.json; the corpus goes to BUILD_FOLDER/corpus/data
# as for bench/corpus/run.sh. LOAD_TRAIN_LIMIT (default 6000; 0 = whole split) caps the texts
# trained through train requests per task: each train call rewrites the classifier's sorted
# lanes, so the whole 42,518-text language split takes most of an hour. Extra LoadBench flags (e.g. --requests=960, Google Benchmark flags)
# can be given in LOAD_BENCH_FLAGS; SKLEARN=0 skips scikit-learn.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/release}
out=$build/load
data=$build/corpus/data
python=/usr/bin/python3  # Debian's interpreter, the one python3-sklearn installs into

bash "$root/bench/corpus/setup.sh"

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target LoadBench >/dev/null

mkdir -p "$out"
"$python" "$root/bench/corpus/make_corpus.py" --out "$data"

load() { echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"; }
echo "== LoadBench ($(load))"
# shellcheck disable=SC2086
"$build/bench/LoadBench" --corpus="$data" --train-limit="${LOAD_TRAIN_LIMIT:-6000}" \
  --benchmark_out="$out/load.json" --benchmark_out_format=json ${LOAD_BENCH_FLAGS:-}
echo "== after LoadBench ($(load))"
if [[ ${SKLEARN:-1} != 0 ]]; then
  export OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1 MKL_NUM_THREADS=1
  echo "== scikit-learn ($(load))"
  "$python" "$root/bench/corpus/sklearn_compare.py" --corpus "$data" --json "$out/sklearn.json" \
    --batch-repeats 1 --single-texts 300
fi
echo "== Report ($(load))"
echo
args=("$out/load.json")
[[ ${SKLEARN:-1} != 0 ]] && args+=("$out/sklearn.json")
"$python" "$here/report.py" "${args[@]}"
