#!/bin/sh
# How a run on one input ends when repeated: for an input whose outcome
# should never vary (a hostile page that must fail), the count of runs that
# succeeded and that failed, each build's runs interleaved with the other's.
# usage: bench/perf/repeat_outcome.sh TIMES INPUT "ARGS" BINARY...
#   e.g. bench/perf/repeat_outcome.sh 40 build/testdata/hostile_contained_pages.pdf "--pages 2" \
#        old/brindlewox-ocr build/brindlewox-ocr
set -eu
times=$1
input=$2
arguments=$3
shift 3
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
i=0
while [ "$i" -lt "$times" ]; do
  n=0
  for binary in "$@"; do
    n=$((n + 1))
    # shellcheck disable=SC2086 # the arguments are split on purpose
    if "$binary" "$input" "$out/out.json" $arguments 2>/dev/null; then
      echo "$n succeeded" >>"$out/ends"
    else
      echo "$n failed" >>"$out/ends"
    fi
  done
  i=$((i + 1))
done
n=0
for binary in "$@"; do
  n=$((n + 1))
  printf '%s: succeeded %d, failed %d of %d\n' "$binary" \
    "$(grep -c "^$n succeeded" "$out/ends" || true)" "$(grep -c "^$n failed" "$out/ends" || true)" "$times"
done
