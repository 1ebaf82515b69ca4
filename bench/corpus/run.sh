#!/usr/bin/env bash
# Real-text accuracy and speed, in one run on one machine: builds the corpus from the fortune
# collections, runs CorpusBench (ClassifierImpl in process) and sklearn_compare.py
# (scikit-learn's MultinomialNB and ComplementNB) on the same splits, and prints one table.
#
#   bash bench/corpus/run.sh [BUILD_FOLDER]      (default build/release)
#
# Installs what is missing first (bench/corpus/setup.sh, as root). Output files go to
# BUILD_FOLDER/corpus: data/ (the splits, reusable by other tools), engine.json, sklearn.json.
# Extra Google Benchmark flags for CorpusBench can be given in CORPUS_BENCH_FLAGS.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/release}
out=$build/corpus
python=/usr/bin/python3  # Debian's interpreter, the one python3-sklearn installs into

bash "$here/setup.sh"

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target CorpusBench >/dev/null

mkdir -p "$out"
"$python" "$here/make_corpus.py" --out "$out/data"

# Both sides single-threaded: the engine classifies on one thread.
export OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1 MKL_NUM_THREADS=1
echo "== CorpusBench (load average $(cut -d' ' -f1-3 /proc/loadavg))"
# shellcheck disable=SC2086
"$build/bench/CorpusBench" --corpus="$out/data" --benchmark_repetitions=3 \
  --benchmark_out="$out/engine.json" --benchmark_out_format=json ${CORPUS_BENCH_FLAGS:-}
echo "== scikit-learn (load average $(cut -d' ' -f1-3 /proc/loadavg))"
"$python" "$here/sklearn_compare.py" --corpus "$out/data" --json "$out/sklearn.json"
echo "== Report (load average $(cut -d' ' -f1-3 /proc/loadavg))"
echo
"$python" "$here/report.py" "$out/engine.json" "$out/sklearn.json"
