#!/usr/bin/env bash
# Builds the libFuzzer targets (build/fuzz: clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs every target in fuzz/ for the given time, one after the other, each from its
# committed seed corpus. Usage: scripts/fuzz-soak.sh [seconds-per-target] (default 600).
# Ends with status 1 at the first finding; the crashing input is left in build/fuzz/crash-*.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-600}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [seconds-per-target]" >&2; exit 2; }

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
source "$root/scripts/fuzz-common.sh"

targets=()
for folder in "$root"/fuzz/corpus/*/; do
  targets+=("$(basename "$folder")")
done

CC=clang CXX=clang++ cmake -S "$root" -B "$root/build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQM_FUZZ=ON -DQM_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build/fuzz" -j "$(nproc)" --target "${targets[@]}"
for name in "${targets[@]}"; do
  run_fuzzer "$name" -max_total_time="$seconds"
done
echo "fuzz soak: ${#targets[@]} targets, $seconds s each, no findings"
