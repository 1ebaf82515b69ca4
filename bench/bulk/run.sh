#!/usr/bin/env bash
# Bulk requests through a real server, in one run on one machine: the whole train split of the
# fortunes language task trained with the quillmark client in requests of at most 1 MB, then the
# whole test split classified the same way, with the server's CPU per text next to the engine in
# process (CorpusBench) and scikit-learn's MultinomialNB on the same texts.
#
#   bash bench/bulk/run.sh [BUILD_FOLDER]      (default build/release)
#
# Installs what is missing first (bench/corpus/setup.sh, as root). Output goes to
# BUILD_FOLDER/bulk (bulk.json, engine.json, the server's folder); the corpus to
# BUILD_FOLDER/corpus/data as for bench/corpus/run.sh. BULK_TASK picks another task (topic).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/release}
python=/usr/bin/python3  # Debian's interpreter, the one python3-sklearn installs into

bash "$root/bench/corpus/setup.sh"

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target quillmarkserver quillmark CorpusBench >/dev/null

"$python" "$root/bench/corpus/make_corpus.py" --out "$build/corpus/data"
# Both sides single-threaded, as the engine and one server connection are.
export OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1 MKL_NUM_THREADS=1
"$python" "$here/bulk_requests.py" --build "$build" --corpus "$build/corpus/data" \
  --out "$build/bulk" --task "${BULK_TASK:-language}"
