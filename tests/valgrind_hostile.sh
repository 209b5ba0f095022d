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
# A file of bombs holds one on each page, and a run stops at the first page
# that fails: each page is run on its own (the generated files are written
# uncompressed, so their page objects can be counted).
tab=$(printf '\t')
runs() {
  case $1 in
    *_bombs.pdf)
      pages=$(grep -a -o '/Type /Page /Parent' "$1" | wc -l)
      for page in $(seq 1 "$pages"); do printf '%s\t--pages %s\n' "$1" "$page"; done ;;
    *) printf '%s\t\n' "$1" ;;
  esac
}
for input in "$@"; do
  runs "$input"
done | while IFS=$tab read -r input selection; do
  name=$(basename "$input")${selection:+ $selection}
  log="$work/$(echo "$name" | tr ' ' _).log"
  # $selection is empty or "--pages N": split on purpose.
  # shellcheck disable=SC2086
  if valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
      --suppressions="$here/valgrind.supp" \
      --show-leak-kinds=definite --log-file="$log" \
      --trace-children=yes "$build/brindlewox-ocr" "$input" "$work/out.json" $selection </dev/null 2>"$work/stderr"; then
    code=0
  else
    code=$?
  fi
  # Valgrind's own failures (it could not load the program) come on stderr,
  # with the tool's failure status: no memcheck errors is then no finding.
  if grep -q '^valgrind:' "$work/stderr"; then
    echo "$name: valgrind could not run it"
    grep '^valgrind:' "$work/stderr"
    touch "$work/failed"
  elif [ "$code" = 99 ] || grep -q "Invalid \(read\|write\)\|definitely lost" "$log"; then
    echo "$name: memcheck errors"
    cat "$log"
    touch "$work/failed"
  else
    echo "$name: clean (exit status $code)"
  fi
done
[ ! -e "$work/failed" ] || status=1
exit $status
