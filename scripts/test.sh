#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs every test three times over:
#   build/release  normal build, all tests
#   build/asan     AddressSanitizer + UndefinedBehaviorSanitizer, all tests
#   build/tsan     ThreadSanitizer, the tests labelled "concurrency"
# Stops at the first failing step.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)

bash "$root/scripts/setup.sh"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

configure() {
  local dir=$1; shift
  cmake -S "$root" -B "$root/build/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

run_tests() {
  local dir=$1; shift
  ctest --test-dir "$root/build/$dir" --output-on-failure --timeout 600 -j "$jobs" "$@"
}

echo "== normal build"
configure release
cmake --build "$root/build/release" -j "$jobs"
run_tests release

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
configure asan -DQM_SANITIZE=address -DQM_BUILD_BENCHMARKS=OFF
cmake --build "$root/build/asan" -j "$jobs"
run_tests asan

echo "== ThreadSanitizer build (concurrency tests)"
configure tsan -DQM_SANITIZE=thread -DQM_BUILD_BENCHMARKS=OFF
cmake --build "$root/build/tsan" -j "$jobs" --target concurrency_tests
run_tests tsan -L concurrency
