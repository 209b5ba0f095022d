#!/bin/bash
# Converts every PDF in a folder, one brindlewox-ocr process per file, with
# GNU parallel running as many at once as there are cores. Each PDF gets a
# .json beside it; each failure is printed with its file and message.
#
# usage: batch_convert.sh FOLDER
set -euo pipefail
folder=${1:?usage: batch_convert.sh FOLDER}
command -v parallel >/dev/null || { echo "GNU parallel is needed: apt-get install parallel" >&2; exit 1; }

convert_one() {
  local errors status
  # Progress lines are for interactive parents; keep only the failure line.
  errors=$(brindlewox-ocr "$1" "${1%.*}.json" 2>&1 >/dev/null) && return 0
  status=$?
  printf '%s: %s\n' "$1" "$(printf '%s\n' "$errors" | grep '^OCR failed: ' || true)"
  return "$status"
}
export -f convert_one

log=$(mktemp)
trap 'rm -f "$log"' EXIT
find "$folder" -maxdepth 1 -type f -iname '*.pdf' -print0 |
  parallel -0 --jobs "$(nproc)" --joblog "$log" convert_one {} || true
total=$(awk 'NR > 1' "$log" | wc -l)
failed=$(awk 'NR > 1 && $7 != 0' "$log" | wc -l)
echo "$((total - failed)) of $total PDFs converted"
