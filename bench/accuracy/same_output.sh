#!/bin/bash
# Whether two builds write the same documents: runs BEFORE and AFTER on each
# INPUT (files, or folders whose images and PDFs are taken) and compares the
# two documents byte for byte, or the failure lines where both fail. Prints
# each input that differs and the count of identical and differing ones.
# usage: bench/accuracy/same_output.sh BEFORE_BINARY AFTER_BINARY INPUT...
set -uo pipefail
before=$1
after=$2
shift 2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
same=0
differ=0
while IFS= read -r -d '' input; do
  "$before" "$input" "$out/before.json" 2>"$out/before.err" >/dev/null
  b=$?
  "$after" "$input" "$out/after.json" 2>"$out/after.err" >/dev/null
  a=$?
  if [ "$a" = "$b" ] && { [ "$a" != 0 ] || cmp -s "$out/before.json" "$out/after.json"; } &&
     { [ "$a" = 0 ] || cmp -s <(tail -n 1 "$out/before.err") <(tail -n 1 "$out/after.err"); }; then
    same=$((same + 1))
  else
    differ=$((differ + 1))
    echo "differs: $input (exit $b, then $a)"
  fi
  rm -f "$out/before.json" "$out/after.json"
done < <(find "$@" -type f \( -iname '*.pdf' -o -iname '*.png' -o -iname '*.jpg' -o -iname '*.jpeg' \
  -o -iname '*.tif' -o -iname '*.tiff' -o -iname '*.bmp' -o -iname '*.webp' -o -iname '*.heic' \) -print0 | sort -z)
echo "identical: $same, different: $differ"
