#!/usr/bin/env bash
# Measures what the tests catch: puts one small fault (a mutant) at a time into the product,
# builds the test programs that exercise the changed file, runs their tests and records whether
# a test failed (killed), none did (survived) or the mutant did not compile (build-broken). A
# mutant whose snippet is no longer in its file (the code moved) is "stale" and not counted.
# The list of mutants is scripts/mutation_check.py; every file is put back afterwards, also
# when the run is interrupted.
#
# Usage: scripts/mutation-check.sh [--area server|engine|platform] [--only ID[,ID...]]
#                                  [--build-dir DIR] [--timeout SECONDS] [--jobs N] [--list]
#                                  [--markdown FILE]
#   --build-dir  build folder (default build/release; configured here when it does not exist)
#   --timeout    longest run of one mutant's tests (default 300 s); a timeout counts as killed
#   --list       print the selected mutants and stop
#   --markdown   also write the results as a Markdown table to FILE
set -uo pipefail

# The whole script is one function, read before it starts: editing the file during a run (the
# mutant list is meant to be edited) cannot change the running script.
main() {

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
helper="$root/scripts/mutation_check.py"
build="$root/build/release"
timeout_s=300
jobs=2
select_args=()
list_only=0
markdown=""

usage() { sed -n '2,/^set -uo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; }
while [ $# -gt 0 ]; do
  case "$1" in
    --area) select_args+=(--area "$2"); shift 2 ;;
    --only) select_args+=(--only "$2"); shift 2 ;;
    --build-dir) build=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    --timeout) timeout_s="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    --list) list_only=1; shift ;;
    --markdown) markdown=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
done

mapfile -t ids < <(python3 "$helper" ids "${select_args[@]}") || exit 2
[ ${#ids[@]} -gt 0 ] || exit 2
if [ "$list_only" = 1 ]; then
  for id in "${ids[@]}"; do
    printf '%-32s %-8s %-22s %s\n' "$id" "$(python3 "$helper" show "$id" area)" \
      "$(python3 "$helper" show "$id" kind)" "$(python3 "$helper" show "$id" file)"
  done
  exit 0
fi

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_DIR=${CCACHE_DIR:-/work/.ccache}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null || exit 2
fi

build_abs=$(realpath -m "$build")
work=$(mktemp -d)
backup="$work/original"
mutated=""  # the file that holds a mutant right now

# Test programs and the servers they start can outlive a run that timed out or stopped at its
# first failure (a child in its own session is not in timeout's process group). Kill whatever still
# runs from the build folder so that the next mutant starts on a quiet machine.
kill_leftovers() {
  local exe pid
  for exe in /proc/[0-9]*/exe; do
    pid=${exe#/proc/}; pid=${pid%/exe}
    [[ $(readlink "$exe" 2>/dev/null) == "$build_abs"/* ]] && kill -9 "$pid" 2>/dev/null
  done
  return 0
}

# Puts the mutated file back. A plain copy gives it a new time stamp, so the next build
# recompiles it instead of keeping the mutant's object.
restore() {
  if [ -n "$mutated" ] && [ -f "$backup" ]; then
    cp "$backup" "$root/$mutated"
    touch "$root/$mutated"
    mutated=""
  fi
}
# Builds and test runs go in the background, each in a process group of its own (set -m), so
# that a signal is handled at once; the trap ends the running child's whole group before it puts
# the file back.
set -m
child=""
run() {
  "$@" &
  child=$!
  wait "$child"
  local rc=$?
  child=""
  return $rc
}
cleanup() {
  [ -n "$child" ] && kill -- -"$child" 2>/dev/null && wait "$child" 2>/dev/null
  restore
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo; echo "interrupted: the tree is restored" >&2; exit 130' INT TERM HUP

# Everything the selected mutants need, built once from the clean tree: a mutant's build then
# costs only the changed file and the links, and a tree that does not build stops the run here.
declare -A all_targets=() mutant_targets=()
while IFS=$'\t' read -r id programs; do
  mutant_targets[$id]=$programs
  for t in $programs; do all_targets[$t]=1; done
done < <(python3 "$helper" targets "$build" "${ids[@]}")
echo "building the clean tree's test programs: ${!all_targets[*]}"
# A build on a busy machine now and then fails for reasons of its own (a test program missing
# just after its link): every build gets a second try before it counts as broken.
build_targets() {
  run cmake --build "$build" -j "$jobs" --target "$@" || run cmake --build "$build" -j "$jobs" --target "$@"
}
if ! build_targets "${!all_targets[@]}" >"$work/clean-build.log" 2>&1; then
  tail -30 "$work/clean-build.log" >&2
  echo "the clean tree does not build; no mutant was run" >&2
  exit 2
fi

results=()
killed=0; survived=0; broken=0; stale=0
started=$(date +%s)
for id in "${ids[@]}"; do
  file=$(python3 "$helper" show "$id" file)
  read -r -a targets <<<"${mutant_targets[$id]}"
  regex=$(python3 "$helper" show "$id" regex)
  t0=$(date +%s)
  rm -f "$backup"
  mutated="$file"  # restore() acts only once apply has copied the file to $backup
  python3 "$helper" apply "$id" "$root" "$backup"
  rc=$?
  if [ $rc -eq 3 ]; then
    mutated=""
    status=stale
  elif [ $rc -ne 0 ]; then
    echo "could not apply $id" >&2; exit 2
  else
    if [ ${#targets[@]} -eq 0 ]; then
      status=no-tests
    elif ! build_targets "${targets[@]}" >"$work/build.log" 2>&1; then
      status=build-broken
    else
      numbers=$(python3 "$helper" tests "$build" "${targets[@]}")
      if [ -z "$numbers" ]; then
        status=no-tests
      else
        filter=(-I "0,0,1,$numbers")
        [ -n "$regex" ] && filter+=(-R "$regex")
        # Stops at the first failure: one is enough to kill the mutant.
        if run timeout --kill-after=10 "$timeout_s" ctest --test-dir "$build" "${filter[@]}" -j "$jobs" \
            --timeout "$timeout_s" --stop-on-failure >"$work/test.log" 2>&1; then
          if grep -q "No tests were found" "$work/test.log"; then status=no-tests; else status=survived; fi
        elif [ $? -eq 124 ]; then
          status=killed
          failed="(no answer within ${timeout_s} s)"
        else
          status=killed
          failed=$(grep -m1 -E '\*\*\*(Failed|Exception|Timeout)| \(Failed\)| \(Timeout\)|Subprocess aborted' "$work/test.log" \
                   | sed -E 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: //; s/ \.{2,}.*//; s/^ *[0-9]+ - //; s/ \(.*//')
        fi
      fi
    fi
    kill_leftovers
    restore
  fi
  seconds=$(( $(date +%s) - t0 ))
  case $status in
    killed) killed=$((killed + 1)) ;;
    survived) survived=$((survived + 1)) ;;
    build-broken|no-tests) broken=$((broken + 1)) ;;
    stale) stale=$((stale + 1)) ;;
  esac
  note=""
  [ "$status" = killed ] && note="${failed:-}"
  line=$(printf '%-32s %-8s %-13s %4ss  %s' "$id" "$(python3 "$helper" show "$id" area)" "$status" "$seconds" "$note")
  results+=("$line")
  printf '%s\t%s\t%s\t%s\n' "$id" "$status" "$seconds" "$note" >>"$work/results.tsv"
  echo "$line"
  failed=""
done

elapsed=$(( $(date +%s) - started ))
echo
printf '%-32s %-8s %-13s %5s  %s\n' MUTANT AREA RESULT TIME "FIRST FAILING TEST"
printf '%s\n' "${results[@]}"
# Build-broken and stale mutants say nothing about the tests: they are listed, not counted.
echo
echo "survived $survived; not counted: build-broken or without tests $broken, stale $stale; $((elapsed / 60)) min $((elapsed % 60)) s"
echo "killed $killed of $((killed + survived))"
if [ -n "$markdown" ]; then
  python3 "$helper" markdown "$work/results.tsv" "killed $killed of $((killed + survived))" \
    "$((elapsed / 60)) min $((elapsed % 60)) s" >"$markdown"
fi
}

main "$@"
exit
