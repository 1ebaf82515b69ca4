#!/usr/bin/env bash
# Checks that the tree builds, warnings as errors, with every CMake build type under GCC and
# under clang, as users and packagers build it. Each build type sets its own optimisation level
# (-O3, -O2 -g, -O0 -g, -Os), and the compilers' warnings depend on it. To stay cheap each build
# compiles the engine's storage with its test (where GCC 12 at -O3 once reported a false
# -Wrestrict), and the two Release builds the classifier engine as well; the rest of the test
# command builds the whole tree with GCC RelWithDebInfo and the fuzz targets with clang.
# Builds go to build/types/<compiler>-<type>. Called by scripts/test.sh; runs on its own as
# well. Stops at the first failing build.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)
small_targets=(qm_storage VectorLaneTest)
release_targets=(qm_storage VectorLaneTest qm_classifier)

build_type() {
  local compiler=$1 type=$2; shift 2
  local dir="$root/build/types/$compiler-$type" cc cxx
  if [[ $compiler == gcc ]]; then cc=gcc cxx=g++; else cc=clang cxx=clang++; fi
  echo "$compiler $type: $*"
  CC=$cc CXX=$cxx cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" \
    -DQM_WARNINGS_AS_ERRORS=ON >/dev/null
  if ! cmake --build "$dir" -j "$jobs" --target "$@" >"$dir/build.log" 2>&1; then
    grep -E -B2 -A12 'error|Error' "$dir/build.log" | head -n 80
    echo "The $compiler $type build failed; full output in $dir/build.log" >&2
    return 1
  fi
}

for compiler in gcc clang; do
  build_type "$compiler" Release "${release_targets[@]}"
  for type in RelWithDebInfo Debug MinSizeRel; do
    build_type "$compiler" "$type" "${small_targets[@]}"
  done
done
echo "every build type builds with gcc and clang"
