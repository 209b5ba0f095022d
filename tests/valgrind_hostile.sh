#!/bin/sh
# Runs the binary on every hostile input under valgrind's memcheck and fails
# on any invalid read or write, or on memory definitely lost. Slow (the
# recognition networks run under emulation: minutes per recognised page), so
# it is run by hand, on all hostile inputs or on the ones named:
# The binary starts itself again once, as it begins (glibc tunables), so valgrind
# follows it into that start.
# usage: valgrind_hostile.sh BUILD_DIR [INPUT...]
set -eu
build=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
[ $# -gt 0 ] || set -- "$build"/testdata/hostile_*
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for input in "$@"; do
  name=$(basename "$input")
  if valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
      --suppressions="$here/valgrind.supp" \
      --show-leak-kinds=definite --log-file="$work/$name.log" \
      --trace-children=yes "$build/brindlewox-ocr" "$input" "$work/out.json" 2>/dev/null; then
    code=0
  else
    code=$?
  fi
  if [ "$code" = 99 ] || grep -q "Invalid \(read\|write\)\|definitely lost" "$work/$name.log"; then
    echo "$name: memcheck errors"
    cat "$work/$name.log"
    status=1
  else
    echo "$name: clean (exit status $code)"
  fi
done
exit $status
