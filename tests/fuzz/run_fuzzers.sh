#!/bin/sh
# Runs every fuzz target for SECONDS each on a seed corpus made from the test
# data, two at a time, and fails on the first crash, leak or timeout.
# Crashing inputs are kept in BUILD_DIR/fuzz-artifacts.
# usage: run_fuzzers.sh FUZZ_BUILD_DIR TESTDATA_DIR SECONDS
set -eu
build=$1
testdata=$2
seconds=$3
here=$(dirname "$0")
/usr/bin/python3 "$here/make_seeds.py" "$build/fuzz-seeds" "$testdata"
mkdir -p "$build/fuzz-artifacts"

fuzz() {
  target=$1
  mkdir -p "$build/fuzz-corpus/$target"
  if ! "$build/$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=3072 \
      -artifact_prefix="$build/fuzz-artifacts/$target-" \
      "$build/fuzz-corpus/$target" "$build/fuzz-seeds/$target" >"$build/fuzz-$target.log" 2>&1; then
    tail -n 40 "$build/fuzz-$target.log"
    echo "fuzzing $target found a failure; see $build/fuzz-artifacts" >&2
    return 1
  fi
  echo "$target: $(grep -E '^#[0-9]+' "$build/fuzz-$target.log" | tail -n 1)"
}

# Each target runs on one core; the machines the tests run on have two.
set -- fuzz_options fuzz_json_string fuzz_reading_order fuzz_pdf fuzz_image fuzz_worker_protocol
while [ $# -gt 0 ]; do
  fuzz "$1" & first=$!
  second=""
  if [ $# -gt 1 ]; then fuzz "$2" & second=$!; fi
  status=0
  wait "$first" || status=1
  if [ -n "$second" ]; then wait "$second" || status=1; fi
  [ "$status" -eq 0 ] || exit 1
  shift
  if [ $# -gt 0 ]; then shift; fi
done
