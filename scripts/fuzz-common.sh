# Shared by scripts/test.sh and scripts/fuzz-soak.sh (sourced; expects $root).
# run_fuzzer NAME [libFuzzer options...]: runs build/fuzz/fuzz/NAME from its committed corpus
# fuzz/corpus/NAME (with the dictionary fuzz/NAME.dict when there is one); what it adds to the
# corpus goes to a scratch folder, a crashing input to build/fuzz/crash-*, its full output to
# build/fuzz/NAME.log. Prints the last line of the log, or its tail and fails on a finding.
run_fuzzer() {
  local name=$1; shift
  local corpus log dict=()
  corpus=$(mktemp -d)
  log="$root/build/fuzz/$name.log"
  [[ -f $root/fuzz/$name.dict ]] && dict=(-dict="$root/fuzz/$name.dict")
  echo "$name: $*"
  if ! "$root/build/fuzz/fuzz/$name" -max_len=4096 -artifact_prefix="$root/build/fuzz/" \
      "${dict[@]}" "$@" "$corpus" "$root/fuzz/corpus/$name" >"$log" 2>&1; then
    tail -n 60 "$log"
    rm -rf "$corpus"
    echo "$name failed; full output in $log" >&2
    return 1
  fi
  rm -rf "$corpus"
  tail -n 1 "$log"
}
