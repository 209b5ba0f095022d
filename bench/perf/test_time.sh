#!/bin/bash
# What tests cost the suite: each named ctest test of BUILD_DIR timed ROUNDS
# times, and with BEFORE (a git revision) the same test as that revision had
# it (its tests/ and examples/ files), run interleaved with the current one so
# that both see the same load. Prints wall and CPU seconds per run, and the
# load average at the start and the end. A test that BEFORE does not have
# counts 0 there.
# usage: bench/perf/test_time.sh BUILD_DIR ROUNDS [BEFORE] TEST...
# e.g.:  bench/perf/test_time.sh build 2 fd8e364 BatchConvertOverSsh ReadmeMatchesTheTool ExamplesFromTheBuildTree
set -euo pipefail
[ -x /usr/bin/time ] || apt-get install -y --no-install-recommends time >/dev/null
build=$(realpath "$1")
rounds=$2
shift 2
before=""
if [ $# -gt 0 ] && git rev-parse -q --verify "$1^{commit}" >/dev/null 2>&1; then
  before=$1
  shift
fi
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if [ -n "$before" ]; then
  # The earlier revision's tests and examples, laid out as in the source tree.
  mkdir -p "$out/before"
  git -C "$source_dir" archive "$before" tests examples | tar -x -C "$out/before"
fi

# The test's command line as ctest runs it, with its working directory.
command_of() {
  ctest --test-dir "$build" -R "^$1\$" --show-only=json-v1 | python3 -c '
import json, shlex, sys
tests = json.load(sys.stdin)["tests"]
if tests:
    print(shlex.join(tests[0]["command"]))'
}

load() { cut -d ' ' -f 1-3 /proc/loadavg; }
start_load=$(load)
for _ in $(seq "$rounds"); do
  for test in "$@"; do
    command=$(command_of "$test")
    [ -n "$command" ] || { echo "no test $test in $build" >&2; exit 2; }
    for side in before after; do
      [ -n "$before" ] || [ "$side" = after ] || continue
      run=$command
      if [ "$side" = before ]; then
        # Only what the earlier revision has: its own copy of each script.
        script=$(grep -o "$source_dir/tests/[^ ']*" <<<"$command" | head -n 1)
        if [ ! -e "$out/before/tests/$(basename "$script")" ]; then
          echo "$test $side 0 0 0" >>"$out/times"
          continue
        fi
        run=${command//$source_dir\/tests\//$out/before/tests/}
      fi
      status=0
      (cd "$build" && /usr/bin/time -f "$test $side %e %U %S" -a -o "$out/times" \
        bash -c "$run" >"$out/log" 2>&1) || status=$?
      [ "$status" = 0 ] || { echo "$test ($side) failed:" >&2; tail -n 20 "$out/log" >&2; exit 1; }
    done
  done
done
echo "load average $start_load at the start, $(load) at the end; $rounds round(s)"
echo
echo "| test | side | wall s/run | cpu s/run |"
echo "|---|---|---|---|"
awk '{ key = $1 " | " $2; n[key]++; wall[key] += $3; cpu[key] += $4 + $5 }
     END { for (k in n) printf "| %s | %.1f | %.1f |\n", k, wall[k] / n[k], cpu[k] / n[k] }' "$out/times" | sort
