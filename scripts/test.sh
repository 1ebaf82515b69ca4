#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs every test three times over,
# with compiler warnings as errors (QM_WARNINGS_AS_ERRORS):
#   build/release  normal build, all tests
#   build/asan     AddressSanitizer + UndefinedBehaviorSanitizer, all tests
#   build/fuzz     clang libFuzzer build (AddressSanitizer + UndefinedBehaviorSanitizer) of the
#                  fuzz targets, each run for a bounded number of inputs from its seed corpus
#   build/tsan     ThreadSanitizer, the tests labelled "concurrency"
#   build/types    every CMake build type with GCC and with clang (scripts/build-types.sh)
# After the release, asan and tsan tests, the staged server of that build runs its self test
# ("quillmarkserver -test" in build/<dir>/stage, with a copy of its config.xml moved to a free
# port, so that test runs in other checkouts do not collide). Stops at the first failing step.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)

bash "$root/scripts/setup.sh"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

# Debug sections are compressed (-gz): the four builds take about 40 % less disk, and gdb and
# the sanitizers' symbolizers read them as they are.
configure() {
  local dir=$1; shift
  cmake -S "$root" -B "$root/build/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQM_WARNINGS_AS_ERRORS=ON -DCMAKE_C_FLAGS=-gz -DCMAKE_CXX_FLAGS=-gz \
    -DCMAKE_EXE_LINKER_FLAGS=-gz -DCMAKE_SHARED_LINKER_FLAGS=-gz "$@" >/dev/null
}

run_tests() {
  local dir=$1; shift
  ctest --test-dir "$root/build/$dir" --output-on-failure --timeout 600 -j "$jobs" "$@"
}

# A loopback port that is free now: the one the system gives to a socket bound to port 0.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The runnable folder of a build, as a user starts it: the self test must end with exit code 0
# and "4 tests passed!". Its configuration is the staged config.xml with only the port changed;
# the staged file itself keeps the default port.
stage_self_test() {
  local stage="$root/build/$1/stage" output port folder
  port=$(free_port)
  folder=$(mktemp -d)
  sed "s|<port>[0-9]*</port>|<port>$port</port>|" "$stage/config.xml" >"$folder/config.xml"
  if ! grep -q "<port>$port</port>" "$folder/config.xml"; then
    rm -rf "$folder"
    echo "No <port> element to change in $stage/config.xml." >&2
    return 1
  fi
  if ! output=$(cd "$stage" && ./quillmarkserver -test -config "$folder/config.xml" 2>&1) ||
      [[ $output != *"4 tests passed!"* ]]; then
    rm -rf "$folder"
    printf '%s\n' "$output" | tail -n 60
    echo "The self test in $stage (port $port) failed." >&2
    return 1
  fi
  rm -rf "$folder"
  echo "self test in build/$1/stage on port $port: 4 tests passed!"
}

# Every C++ file as clang-format writes it (.clang-format): a line written past the formatter
# stays out of main.
echo "== format"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z '*.cpp' '*.h' '*.hpp' | xargs -0 clang-format --dry-run --Werror)
else
  echo "not a git checkout: the format check needs the list of tracked files, skipped"
fi

# For information only: the size of the tests against the product code.
share_tool="$root/../shared/tools/test-share.py"
if [[ -f $share_tool ]]; then
  python3 "$share_tool" "$root" | tail -n 1 || true
fi

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

echo "== every build type with GCC and clang"
bash "$root/scripts/build-types.sh"
