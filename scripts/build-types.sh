#!/usr/bin/env bash
# Checks that the tree builds, warnings as errors, with every CMake build type under GCC and
# under clang, as users and packagers build it. Each build type sets its own optimisation level
# (-O3, -O2 -g, -O0 -g, -Os), and the compilers' warnings depend on it.
#   GCC Release          the whole tree (what `cmake -DCMAKE_BUILD_TYPE=Release` and a plain
#                        `cmake --build` make), in build/types/gcc-Release
#   the seven others     the engine and its storage with their tests (the code whose inlining
#                        and loops change most between levels), in build/types/<cc>-<type>
# Called by scripts/test.sh; runs on its own as well. Stops at the first failing build.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)
small_targets=(qm_storage qm_classifier FeatureSetTest ClassifierImplTest)

build_type() {
  local compiler=$1 type=$2; shift 2
  local dir="$root/build/types/$compiler-$type" cc cxx
  if [[ $compiler == gcc ]]; then cc=gcc cxx=g++; else cc=clang cxx=clang++; fi
  echo "$compiler $type: ${*:-whole tree}"
  CC=$cc CXX=$cxx cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" \
    -DQM_WARNINGS_AS_ERRORS=ON >/dev/null
  local targets=()
  for target in "$@"; do targets+=(--target "$target"); done
  if ! cmake --build "$dir" -j "$jobs" "${targets[@]}" >"$dir/build.log" 2>&1; then
    grep -E -B2 -A12 'error|Error' "$dir/build.log" | head -n 80
    echo "The $compiler $type build failed; full output in $dir/build.log" >&2
    return 1
  fi
}

build_type gcc Release
for type in RelWithDebInfo Debug MinSizeRel; do
  build_type gcc "$type" "${small_targets[@]}"
done
for type in Release RelWithDebInfo Debug MinSizeRel; do
  build_type clang "$type" "${small_targets[@]}"
done
echo "every build type builds with gcc and clang"
