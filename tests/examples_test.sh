#!/bin/bash
# Runs examples/parent.py and examples/batch_convert.sh as a new user does
# after the quick start: from a source tree whose build/ holds the built tool,
# with no brindlewox-ocr on PATH. Then without the build: each must say in one
# line what to install or set, and do nothing. Also checks parent.py's
# reading of --pages against the tool's rules and its warnings before a run,
# and the batch's summary with inputs that share a result name.
# usage: examples_test.sh SOURCE_DIR BUILD_DIR TESTDATA_DIR
set -euo pipefail
source_dir=$(realpath "$1")
build_dir=$(realpath "$2")
testdata=$(realpath "$3")
work=$(mktemp -d /tmp/examples_test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "examples_test: FAIL: $*"
  failed=1
}
# expect WHAT ACTUAL EXPECTED
expect() {
  if [ "$2" != "$3" ]; then
    fail "$1:"$'\n'"--- got:"$'\n'"$2"$'\n'"--- expected:"$'\n'"$3"
  fi
}

# PATH less the commands named: a folder on PATH that holds one of them is
# replaced by a folder of links to the rest (/bin and /usr/bin being one
# folder, once).
path_without() {
  local dir name drop result="" real
  local -a dirs
  local -A shadows=()
  IFS=: read -ra dirs <<<"$PATH"
  for dir in "${dirs[@]}"; do
    for name in "$@"; do
      if [ -e "$dir/$name" ]; then
        real=$(realpath "$dir")
        if [ -z "${shadows[$real]:-}" ]; then
          shadows[$real]=$(mktemp -d "$work/path.XXXXXX")
          ln -s "$real"/* "${shadows[$real]}/"
          for drop in "$@"; do rm -f "${shadows[$real]}/$drop"; done
        fi
        dir=${shadows[$real]}
        break
      fi
    done
    result+=${result:+:}$dir
  done
  echo "$result"
}
PATH=$(path_without brindlewox-ocr)
export PATH
unset BRINDLEWOX_OCR
python=/usr/bin/python3

# A source tree as the quick start leaves it: the examples, and build/.
tree=$work/tree
mkdir -p "$tree/examples"
cp "$source_dir/examples/parent.py" "$source_dir/examples/batch_convert.sh" "$tree/examples/"
ln -s "$build_dir" "$tree/build"
cd "$work"

# --- parent.py finds the build tree's binary.
status=0
"$python" "$tree/examples/parent.py" "$source_dir/examples/sample.png" sample.json >out 2>err || status=$?
expect "parent.py on the sample: exit status" "$status" 0
expect "parent.py on the sample: stderr" "$(cat err)" ""
expect "parent.py on the sample: its report" "$(tr '\r' '\n' <out | grep -v -e '^\[' -e '^$' || true)" \
  "done: 1 of 1 pages read into sample.json
  page 1 (confidence 0.96): Brindlewox reads English, 简体中文 and 繁體中文."
grep -q '^\[#*\] 100%  page 1 of 1$' <(tr '\r' '\n' <out) || fail "parent.py drew no full bar: $(cat out)"

# --- parent.py reads --pages as the tool does (the rules of app/options.cc).
"$python" - "$tree/examples" <<'EOF' || fail "parent.py reads --pages otherwise than the tool"
import sys
sys.path.insert(0, sys.argv[1])
import parent
cases = {
    "1,2,3": {1, 2, 3}, "3 , 1 ,3": {1, 3}, "1,\t2": {1, 2}, "1,\n2": {1}, "1,,2,": {1, 2},
    "2-5": None, "2-5,7": {7}, "0": None, "-3,4": {4}, "+2": {2}, "abc": None, ",,": None, "  ": None,
    "": None, "1 2": None, "99999999999999999999,5": {5}, "\u00a05\u3000": {5}, "\u0665": None, "1_000": None,
}
wrong = {value: parent.page_selection(value)[0] for value in cases if parent.page_selection(value)[0] != cases[value]}
assert not wrong, wrong
EOF

# --- what it says before it starts the tool: the tool itself plays no part,
# so false stands in for it, failing at once.
three=$testdata/three_pages.pdf
warn() {
  local status=0
  BRINDLEWOX_OCR=false "$python" "$tree/examples/parent.py" "$@" >out 2>err || status=$?
  expect "parent.py $*: exit status" "$status" 1
  expect "parent.py $*: report" "$(cat out)" $'\nfailed (exit status 1): no failure line'
}
warn "$three" out.json --pages 1-3
expect "warning for a range" "$(cat err)" \
  "parent.py: warning: --pages 1-3 names no page number of 1 or more (ranges such as 1-3 and other text are skipped): every page will be read"
warn "$three" out.json --pages=2
expect "warning for --pages=2" "$(cat err)" \
  "parent.py: warning: --pages=2 is not read as an option, every page will be read (write --pages 2)"
warn "$three" out.json --pages 99,100
expect "warning for pages beyond the PDF" "$(cat err)" \
  "parent.py: warning: --pages 99,100 selects none of the 3 pages: the document will list no page, and no progress will show"
warn "$three" out.json --pages 'x,2,7'
expect "warning for a page beyond the PDF" "$(cat err)" \
  "parent.py: warning: --pages skips 'x' (not page numbers of 1 or more)
parent.py: warning: the PDF has 3 pages; --pages x,2,7 selects 1 of them"
warn "$testdata/blank.png" out.json --pages 2
expect "warning for --pages on an image" "$(cat err)" \
  "parent.py: warning: --pages applies to PDF input only; the image is read whole"
warn "$three" out.json --pages 3,1 --progress-end 50
expect "no warning for a good list" "$(cat err)" ""
# Without pdfinfo the page count is unknown before the run; the report says it.
status=0
PATH=$(path_without pdfinfo) "$python" "$tree/examples/parent.py" "$three" none.json --pages 99 >out 2>err || status=$?
expect "parent.py --pages 99 without pdfinfo: exit status" "$status" 0
expect "parent.py --pages 99 without pdfinfo: stderr" "$(cat err)" ""
expect "parent.py --pages 99 without pdfinfo: report" "$(cat out)" $'\ndone: 0 of 3 pages read into none.json'

# --- the batch finds the build tree's binary, takes the folder with a
# trailing slash, and counts every input once.
mkdir batch
cp "$testdata/english.png" batch/scan.png
cp "$testdata/blank.png" batch/same.png
cp "$testdata/blank.png" batch/same.jpg
cp "$testdata/blank.png" batch/old.png
echo '{}' >batch/old.json
touch -d '1 minute ago' batch/old.png
status=0
bash "$tree/examples/batch_convert.sh" batch/ >out 2>err || status=$?
expect "batch: exit status" "$status" 1
expect "batch: stderr" "$(cat err)" ""
expect "batch: report" "$(cat out)" \
  "4 files: 1 converted before, 0 failed before, 2 left alone (they share a result name), 1 to convert
Failed:
  batch/same.jpg: another input here has the result name batch/same.json; rename one
  batch/same.png: another input here has the result name batch/same.json; rename one
2 of 4 files converted"
grep -q '"text" : "Quarterly report for the board' batch/scan.json || fail "batch: scan.json holds $(cat batch/scan.json)"
# BRINDLEWOX_OCR relative to where the batch is started, not to the folder.
rm batch/same.jpg
status=0
BRINDLEWOX_OCR=tree/build/brindlewox-ocr bash "$tree/examples/batch_convert.sh" batch >out 2>err || status=$?
expect "batch with a relative BRINDLEWOX_OCR: exit status" "$status" 0
expect "batch with a relative BRINDLEWOX_OCR: report" "$(cat out)" \
  "3 files: 2 converted before, 0 failed before, 1 to convert
3 of 3 files converted"
grep -q '"text" : ""' batch/same.json || fail "batch: same.json holds $(cat batch/same.json)"

# --- without the build, and with BRINDLEWOX_OCR naming nothing: one line each,
# before any work.
rm "$tree/build"
mkdir fresh
cp "$testdata/blank.png" fresh/a.png
missing_line="brindlewox-ocr is neither on PATH nor at $tree/build/brindlewox-ocr: install the package, build it (sh scripts/build.sh), or set BRINDLEWOX_OCR to the binary"
status=0
"$python" "$tree/examples/parent.py" fresh/a.png fresh/a.json >out 2>err || status=$?
expect "parent.py without a tool: exit status" "$status" 2
expect "parent.py without a tool: stdout" "$(cat out)" ""
expect "parent.py without a tool: stderr" "$(cat err)" "parent.py: $missing_line"
status=0
bash "$tree/examples/batch_convert.sh" fresh >out 2>err || status=$?
expect "batch without a tool: exit status" "$status" 2
expect "batch without a tool: stdout" "$(cat out)" ""
expect "batch without a tool: stderr" "$(cat err)" "batch_convert: $missing_line"
status=0
BRINDLEWOX_OCR=$work/nothing "$python" "$tree/examples/parent.py" fresh/a.png fresh/a.json >out 2>err || status=$?
expect "parent.py with BRINDLEWOX_OCR naming nothing: exit status" "$status" 2
expect "parent.py with BRINDLEWOX_OCR naming nothing: stderr" "$(cat err)" \
  "parent.py: BRINDLEWOX_OCR=$work/nothing is not a program that can be run; set it to the brindlewox-ocr binary (such as build/brindlewox-ocr)"
status=0
BRINDLEWOX_OCR=$work/nothing bash "$tree/examples/batch_convert.sh" fresh >out 2>err || status=$?
expect "batch with BRINDLEWOX_OCR naming nothing: exit status" "$status" 2
expect "batch with BRINDLEWOX_OCR naming nothing: stderr" "$(cat err)" \
  "batch_convert: BRINDLEWOX_OCR=$work/nothing is not a program that can be run; set it to the brindlewox-ocr binary (such as build/brindlewox-ocr)"
expect "nothing done without a tool" "$(ls -A fresh)" a.png

[ "$failed" = 0 ] || exit 1
echo "examples_test: pass"
