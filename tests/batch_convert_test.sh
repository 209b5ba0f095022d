#!/bin/bash
# Runs examples/batch_convert.sh over SSH against an sshd of the test's own,
# listening on 127.0.0.1 only, where two logins (a key each) stand for two
# machines. Checks that machines without the tool, or that cannot be reached,
# are named before any file is sent; then every result, the failure list and the cleaned remote
# folders; reruns on this machine's cores, with and without --retry-failed;
# then interrupts a batch part way and checks that running it again converts
# no finished file twice.
# usage: batch_convert_test.sh BINARY TESTDATA_DIR
set -euo pipefail
if [ "$(id -u)" != 0 ] || [ ! -x /usr/sbin/sshd ]; then
  echo "batch_convert_test: skipped: needs root and /usr/sbin/sshd (openssh-server)"
  exit 77
fi
binary=$(realpath "$1")
testdata=$(realpath "$2")
script=$(realpath "$(dirname "$0")/../examples/batch_convert.sh")

work=$(mktemp -d /tmp/batch_convert_test.XXXXXX)
sshd_pid="" made_run_sshd=no batch=""
cleanup() {
  if [ -n "$batch" ]; then kill "$batch" 2>/dev/null || true; fi
  if [ -n "$sshd_pid" ]; then
    kill "$sshd_pid" 2>/dev/null || true
    wait "$sshd_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  if [ "$made_run_sshd" = yes ]; then rmdir /run/sshd 2>/dev/null || true; fi
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
fail() {
  echo "batch_convert_test: FAIL: $*"
  if [ -s "$work/err" ]; then
    echo "the batch's stderr:"
    cat "$work/err"
  fi
  if [ -s "$work/invocations" ]; then
    echo "the jobs run:"
    cat "$work/invocations"
  fi
  echo "sshd's log, less the logins:"
  grep -v -E 'Accepted publickey|Received disconnect|Disconnected from' "$work/sshd.log" || true
  exit 1
}
started=$(date +%s)
step() { echo "batch_convert_test: $* ($(($(date +%s) - started)) s)"; }

# --- the server: its own host key, config and client keys, loopback only.
ssh-keygen -q -t ed25519 -N '' -C batch-test-host -f "$work/host_key"
for machine in one two; do
  ssh-keygen -q -t ed25519 -N '' -C "batch-test-$machine" -f "$work/$machine"
  # Tells the jobs which login ran them.
  printf 'environment="BATCH_MACHINE=%s" %s\n' "$machine" "$(cat "$work/$machine.pub")" >>"$work/authorized_keys"
done
if [ ! -d /run/sshd ]; then
  mkdir -p /run/sshd
  made_run_sshd=yes
fi
for attempt in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 40000))
  cat >"$work/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $work/host_key
PidFile $work/sshd.pid
AuthorizedKeysFile $work/authorized_keys
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PermitUserEnvironment BATCH_MACHINE
EOF
  /usr/sbin/sshd -D -e -f "$work/sshd_config" 2>"$work/sshd.log" &
  sshd_pid=$!
  for _ in $(seq 100); do
    grep -q 'Server listening' "$work/sshd.log" && break 2
    kill -0 "$sshd_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$sshd_pid" 2>/dev/null || true
  wait "$sshd_pid" 2>/dev/null || true
  sshd_pid=""
  [ "$attempt" -lt 5 ] || fail "sshd did not start: $(cat "$work/sshd.log")"
done

ssh_to() {
  echo "ssh -F /dev/null -p $port -i $work/$1 -o IdentitiesOnly=yes -o BatchMode=yes -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR"
}
{
  echo "1/$(ssh_to one) root@127.0.0.1"
  echo "1/$(ssh_to two) root@localhost"
} >"$work/logins"
# shellcheck disable=SC2046 # the login's words
remote() { $(ssh_to one) root@127.0.0.1 "$@"; }
# shellcheck disable=SC2016 # expanded by the login's shell
[ "$(remote 'echo $BATCH_MACHINE')" = one ] || fail "cannot log in: $(cat "$work/sshd.log")"
step "sshd on 127.0.0.1:$port"

# The command each machine runs: logs the login, its process id and input
# (a line each, tab-separated), then becomes the built binary.
cat >"$work/ocr" <<EOF
#!/bin/sh
printf '%s\t%s\t%s\n' "\${BATCH_MACHINE:-local}" "\$\$" "\$1" >>"$work/invocations"
exec "$binary" "\$@"
EOF
chmod +x "$work/ocr"
export BRINDLEWOX_OCR=$work/ocr
: >"$work/invocations"

# check_result JSON PAGE_COUNT FIRST_PAGE_TEXT: a complete document with a
# text on every page.
check_result() {
  python3 - "$@" <<'EOF' || fail "result $1"
import json, sys
path, count, first = sys.argv[1], int(sys.argv[2]), sys.argv[3]
with open(path, encoding="utf-8") as f:
    document = json.load(f)
assert document["engine"] == "macOS Vision", document
assert document["pageCount"] == count, document
assert [p["page"] for p in document["pages"]] == list(range(1, count + 1)), document
assert all(p["text"].strip() for p in document["pages"]), document
assert document["pages"][0]["text"].startswith(first), document
EOF
}
# times INPUT: how often the jobs were given INPUT.
times() { awk -F '\t' -v f="./$1" '$3 == f' "$work/invocations" | wc -l; }
remote_leftovers() { remote 'ls -A .parallel/tmp 2>/dev/null | grep -v "^sshlogin$" || true'; }
listing() { find "$1" -mindepth 1 -printf '%f\n' | LC_ALL=C sort; }

# --- a folder of images and PDFs, one broken, over the two logins.
a=$work/a
mkdir "$a"
cp "$testdata/english.png" "$a/scan one.png"
cp "$testdata/english.jpg" "$a/letter.JPG"
cp "$testdata/english.tiff" "$a/memo.tif"
cp "$testdata/english.heic" "$a/photo.heic"
cp "$testdata/english.webp" "$a/note.webp"
cp "$testdata/three_pages.pdf" "$a/three_pages.pdf"
cp "$testdata/not_a_pdf.pdf" "$a/broken.pdf"
echo "not an input" >"$a/notes.txt"
before=$(remote_leftovers)

# --- machines without the tool, and one that cannot be reached (nothing
# listens on port 1): one line naming them, before any file is sent.
cp "$work/logins" "$work/logins_unreached"
echo "1/ssh -p 1 -o BatchMode=yes root@127.0.0.2" >>"$work/logins_unreached"
status=0
BRINDLEWOX_OCR=$work/no-such-ocr bash "$script" "$a" --sshloginfile "$work/logins_unreached" >"$work/out" 2>"$work/err" ||
  status=$?
step "batch with no tool on the machines: exit status $status"
[ "$status" = 2 ] || fail "exit status $status with no tool on the machines"
[ "$(cat "$work/err")" = "batch_convert: cannot log in to root@127.0.0.2 (ssh fails): check $work/logins_unreached; $work/no-such-ocr cannot be run on root@127.0.0.1 root@localhost: install the package there, or set BRINDLEWOX_OCR to the command each machine runs" ] ||
  fail "the message for machines without the tool: $(cat "$work/err")"
[ ! -s "$work/out" ] || fail "a batch with no tool on the machines printed: $(cat "$work/out")"
[ "$(listing "$a")" = "$(printf '%s\n' broken.pdf letter.JPG memo.tif note.webp notes.txt photo.heic "scan one.png" three_pages.pdf)" ] ||
  fail "a batch with no tool on the machines changed the folder: $(listing "$a")"
[ "$(cat "$work/invocations")" = "" ] || fail "jobs ran before the machines were checked: $(cat "$work/invocations")"

status=0
bash "$script" "$a" --sshloginfile "$work/logins" >"$work/out" 2>"$work/err" || status=$?
step "batch of 7 over SSH: exit status $status"
cat "$work/out"
[ "$status" = 1 ] || fail "exit status $status for a batch with a broken file"
# The login shells may say things of their own; nothing else may.
! grep -E 'rsync|ssh|parallel|OCR failed|BRINDLEWOX' "$work/err" || fail "messages on stderr"
for name in "scan one.png" letter.JPG memo.tif photo.heic note.webp; do
  check_result "$a/${name%.*}.json" 1 "Quarterly report for the board"
done
check_result "$a/three_pages.json" 3 "Page one is about apples"
expected=$(printf '%s\n' .batch_convert.failures broken.pdf letter.JPG letter.json memo.json memo.tif \
  note.json note.webp notes.txt photo.heic photo.json "scan one.json" "scan one.png" three_pages.json three_pages.pdf)
[ "$(listing "$a")" = "$expected" ] || fail "folder holds: $(listing "$a")"
failures=$(sed -n '/^Failed:$/,/^[^ ]/p' "$work/out" | grep '^  ' || true)
[ "$failures" = "  $a/broken.pdf: OCR failed: The image or PDF could not be opened." ] ||
  fail "failure list: $failures"
grep -qx '6 of 7 files converted' "$work/out" || fail "no count of converted files"
for name in "scan one.png" letter.JPG memo.tif photo.heic note.webp three_pages.pdf broken.pdf; do
  [ "$(times "$name")" = 1 ] || fail "$name given to $(times "$name") jobs"
done
[ "$(cut -f 1 "$work/invocations" | sort -u | paste -sd ' ')" = "one two" ] ||
  fail "jobs ran on: $(cut -f 1 "$work/invocations" | sort -u)"
[ "$(remote_leftovers)" = "$before" ] || fail "left on the remote: $(remote_leftovers)"

# --- again, on this machine's cores: only the new input runs; the broken one
# only when asked.
: >"$work/invocations"
cp "$testdata/english.bmp" "$a/added.bmp"
status=0
bash "$script" "$a" >"$work/out" 2>"$work/err" || status=$?
step "again, locally, with one new file: exit status $status"
cat "$work/out"
[ "$status" = 1 ] || fail "exit status $status"
grep -qx '8 files: 6 converted before, 1 failed before (--retry-failed runs them again), 1 to convert' "$work/out" ||
  fail "no account of the skipped files"
grep -qxF "  $a/broken.pdf: OCR failed: The image or PDF could not be opened. (in an earlier run)" "$work/out" ||
  fail "the earlier failure is not listed"
[ "$(cut -f 1,3 "$work/invocations")" = $'local\t./added.bmp' ] ||
  fail "jobs run: $(cat "$work/invocations")"
check_result "$a/added.json" 1 "Quarterly report for the board"
: >"$work/invocations"
status=0
bash "$script" "$a" --retry-failed >"$work/out" 2>"$work/err" || status=$?
step "again with --retry-failed: exit status $status"
[ "$status" = 1 ] || fail "exit status $status"
[ "$(cut -f 3 "$work/invocations")" = ./broken.pdf ] || fail "jobs run: $(cat "$work/invocations")"
grep -qxF "  $a/broken.pdf: OCR failed: The image or PDF could not be opened." "$work/out" ||
  fail "the failure is not listed: $(cat "$work/out")"

# --- a batch interrupted part way, then run again.
b=$work/b
mkdir "$b"
for i in 1 2 3 4; do cp "$testdata/english.png" "$b/page$i.png"; done
cp "$testdata/three_pages.pdf" "$b/report1.pdf"
cp "$testdata/three_pages.pdf" "$b/report2.pdf"
: >"$work/invocations"
bash "$script" "$b" --sshloginfile "$work/logins" >"$work/out" 2>"$work/err" &
batch=$!
for _ in $(seq 600); do
  [ "$(find "$b" -name '*.json' | wc -l)" -ge 2 ] && break
  kill -0 "$batch" 2>/dev/null || break
  sleep 0.1
done
parallel_pid=$(pgrep -P "$batch" -x parallel) || fail "the batch ended before it could be interrupted"
kill -INT "$parallel_pid"
status=0
wait "$batch" || status=$?
step "batch of 6 interrupted: exit status $status"
cat "$work/out"
[ "$status" = 1 ] || fail "exit status $status after an interruption"
finished=()
for input in "$b"/*.png "$b"/*.pdf; do
  [ -e "${input%.*}.json" ] && finished+=("$(basename "$input")")
done
if [ ${#finished[@]} -lt 2 ] || [ ${#finished[@]} -ge 6 ]; then
  fail "${#finished[@]} of 6 finished at the interruption"
fi
# Nothing half-made beside the inputs: only the finished results.
expected=$(printf '%s\n' page1.png page2.png page3.png page4.png report1.pdf report2.pdf \
  "${finished[@]/%.*/.json}" | LC_ALL=C sort)
[ "$(listing "$b")" = "$expected" ] || fail "after the interruption the folder holds: $(listing "$b")"
for name in "${finished[@]}"; do
  case $name in
    *.png) check_result "$b/${name%.*}.json" 1 "Quarterly report for the board" ;;
    *) check_result "$b/${name%.*}.json" 3 "Page one is about apples" ;;
  esac
done
grep -qx "$((6 - ${#finished[@]})) not finished (interrupted?): run this again to go on" "$work/out" ||
  fail "no account of the unfinished files"
[ ! -e "$b/.batch_convert.failures" ] || fail "an interrupted job was recorded as failed"
# The remote jobs stop with their connections.
for _ in $(seq 50); do
  running=""
  while IFS=$'\t' read -r _ pid _; do
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" != "$binary" ] || running="$running $pid"
  done <"$work/invocations"
  [ -n "$running" ] || break
  sleep 0.2
done
[ -z "$running" ] || fail "jobs (processes$running) still run 10 s after the interruption"
[ "$(remote_leftovers)" = "$before" ] || fail "the interrupted jobs left on the remote: $(remote_leftovers)"
first=$(cat "$work/invocations")
status=0
bash "$script" "$b" --sshloginfile "$work/logins" >"$work/out" 2>"$work/err" || status=$?
step "batch of 6 run again: exit status $status"
cat "$work/out"
[ "$status" = 0 ] || fail "exit status $status"
grep -qx "6 files: ${#finished[@]} converted before, 0 failed before, $((6 - ${#finished[@]})) to convert" "$work/out" ||
  fail "no account of the files converted before"
for i in 1 2 3 4; do check_result "$b/page$i.json" 1 "Quarterly report for the board"; done
for i in 1 2; do check_result "$b/report$i.json" 3 "Page one is about apples"; done
for name in "${finished[@]}"; do
  [ "$(times "$name")" = 1 ] || fail "$name, finished before the interruption, was given to $(times "$name") jobs"
done
for name in page1.png page2.png page3.png page4.png report1.pdf report2.pdf; do
  [ "$(times "$name")" -ge 1 ] || fail "$name was never run"
  [ "$(printf '%s\n' "$first" | awk -F '\t' -v f="./$name" '$3 == f' | wc -l)" -le 1 ] || fail "$name run twice in one batch"
done
step "pass: ${#finished[@]} of 6 finished before the interruption, none of them converted again"
