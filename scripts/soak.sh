#!/usr/bin/env bash
# The long fault runs, for a soak by hand or a nightly job (the test command runs short versions):
#   bash scripts/soak.sh [rounds]
# builds build/release's whole-process server test and runs its server-kill case, on classifier
# files and on PostgreSQL (through ctest, which starts the cluster), for `rounds` kill rounds
# (default 1000; QM_KILL_ROUNDS is what the test reads), then, when
# scripts/fuzz-soak.sh exists, the fuzz soak. Stops at the first failure.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rounds=${1:-${QM_KILL_ROUNDS:-1000}}
jobs=$(nproc)

cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/release" -j "$jobs" --target QuillmarkServerTest

echo "== server killed during concurrent training: $rounds rounds"
(cd "$root/build/release" &&
  QM_KILL_ROUNDS=$rounds ctest -R 'KilledServerTest' --timeout 36000 --output-on-failure)

if [[ -f "$root/scripts/fuzz-soak.sh" ]]; then
  echo "== fuzz soak"
  bash "$root/scripts/fuzz-soak.sh"
fi
