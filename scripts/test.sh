#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs every test three times over:
#   build/release  normal build, all tests
#   build/asan     AddressSanitizer + UndefinedBehaviorSanitizer, all tests
#   build/fuzz     clang libFuzzer build (AddressSanitizer + UndefinedBehaviorSanitizer) of the
#                  fuzz targets, each run for a bounded number of inputs from its seed corpus
#   build/tsan     ThreadSanitizer, the tests labelled "concurrency"
# After the release, asan and tsan tests, the staged server of that build runs its self test
# ("quillmarkserver -test -config config.xml" in build/<dir>/stage). Stops at the first failing step.
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

# The runnable folder of a build, as a user starts it: the self test on the default configuration
# (its fixed port must be free) must end with exit code 0 and "4 tests passed!".
stage_self_test() {
  local stage="$root/build/$1/stage" output
  if ! output=$(cd "$stage" && ./quillmarkserver -test -config config.xml 2>&1) ||
      [[ $output != *"4 tests passed!"* ]]; then
    printf '%s\n' "$output" | tail -n 60
    echo "The self test in $stage failed." >&2
    return 1
  fi
  echo "self test in build/$1/stage: 4 tests passed!"
}

echo "== normal build"
configure release
cmake --build "$root/build/release" -j "$jobs"
run_tests release
stage_self_test release

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
configure asan -DQM_SANITIZE=address -DQM_BUILD_BENCHMARKS=OFF
cmake --build "$root/build/asan" -j "$jobs"
run_tests asan
stage_self_test asan

# Each fuzz target runs a fixed number of inputs from a fixed seed (scripts/fuzz-common.sh).
source "$root/scripts/fuzz-common.sh"

echo "== libFuzzer build (clang, AddressSanitizer + UndefinedBehaviorSanitizer)"
CC=clang CXX=clang++ configure fuzz -DQM_FUZZ=ON -DQM_BUILD_BENCHMARKS=OFF
cmake --build "$root/build/fuzz" -j "$jobs" --target TrainingDataFuzz XmlClassifierFuzz \
  ClassifyConnectionFuzz
run_fuzzer TrainingDataFuzz -runs=50000 -seed=1 -max_total_time=600
run_fuzzer XmlClassifierFuzz -runs=60000 -seed=1 -max_total_time=600
run_fuzzer ClassifyConnectionFuzz -runs=200000 -seed=1 -max_total_time=600

echo "== ThreadSanitizer build (concurrency tests)"
configure tsan -DQM_SANITIZE=thread -DQM_BUILD_BENCHMARKS=OFF
cmake --build "$root/build/tsan" -j "$jobs" --target concurrency_tests
run_tests tsan -L concurrency
stage_self_test tsan
