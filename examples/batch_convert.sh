#!/bin/bash
# Converts every PDF and image in a folder, one brindlewox-ocr process per
# file, with GNU parallel: on this machine's cores, or with --sshloginfile on
# the machines listed there (each with brindlewox-ocr, bash and rsync), which
# receive each input and send its result back. Each input gets NAME.json
# beside it, and only once that result is complete.
#
# Run again after an interruption, it skips the inputs whose result is newer
# than the input, and those that failed in an earlier run unless given
# --retry-failed; the failures are kept in FOLDER/.batch_convert.failures.
#
# usage: batch_convert.sh FOLDER [--sshloginfile FILE] [--retry-failed]
#
# BRINDLEWOX_OCR names the command each machine runs instead of
# brindlewox-ocr from its PATH. On this machine, without either, the batch
# runs build/brindlewox-ocr beside this examples folder, where the quick start
# leaves it.
set -euo pipefail

usage() {
  echo "usage: batch_convert.sh FOLDER [--sshloginfile FILE] [--retry-failed]" >&2
  exit 2
}
die() {
  echo "batch_convert: $*" >&2
  exit 2
}

folder="" logins="" retry_failed=no
while [ $# -gt 0 ]; do
  case $1 in
    --sshloginfile) [ $# -ge 2 ] || usage; logins=$2; shift 2 ;;
    --sshloginfile=*) logins=${1#*=}; shift ;;
    --retry-failed) retry_failed=yes; shift ;;
    -*) usage ;;
    *) [ -z "$folder" ] || usage; folder=$1; shift ;;
  esac
done
[ -n "$folder" ] || usage
# Without its trailing slashes, so that names print as FOLDER/NAME.
[ "$folder" = / ] || folder=${folder%"${folder##*[!/]}"}
[ -d "$folder" ] || die "no folder $folder"
command -v parallel >/dev/null || die "GNU parallel is needed: apt-get install parallel"
if [ -n "$logins" ]; then
  [ -r "$logins" ] || die "cannot read $logins"
  logins=$(realpath "$logins")
  command -v rsync >/dev/null || die "rsync is needed: apt-get install rsync"
  # Each remote job runs in a working folder of its own, which a job on this
  # machine (':') would enter without its input.
  if grep -Eq '^[[:space:]]*([0-9]+/)?:[[:space:]]*$' "$logins"; then
    die "$logins lists ':' (this machine): list remote machines only, or run without --sshloginfile"
  fi
  # Each machine is asked once, before any file is sent, whether it can run the
  # tool: straight over ssh and all at once, since parallel --nonall takes
  # seconds more. A line is [N/][SSH COMMAND ]HOST, as parallel reads it.
  tool=${BRINDLEWOX_OCR:-brindlewox-ocr}
  probe="command -v '${tool//\'/\'\\\'\'}' >/dev/null"
  declare -A probes=()
  while read -r -a words || [ ${#words[@]} -gt 0 ]; do
    if [ ${#words[@]} -eq 0 ] || [[ ${words[0]} == \#* ]]; then continue; fi
    [[ ! ${words[0]} =~ ^[0-9]+/(.*)$ ]] || words[0]=${BASH_REMATCH[1]}
    ssh_command=("${words[@]:0:${#words[@]}-1}")
    [ -n "${ssh_command[*]}" ] || ssh_command=(ssh)
    "${ssh_command[@]}" "${words[-1]}" "$probe" </dev/null >/dev/null 2>&1 &
    probes[$!]=${words[-1]}
  done <"$logins"
  lacking=() unreached=()
  for pid in "${!probes[@]}"; do
    status=0
    wait "$pid" || status=$?
    # ssh itself fails with 255.
    if [ "$status" = 255 ]; then
      unreached+=("${probes[$pid]}")
    elif [ "$status" != 0 ]; then
      lacking+=("${probes[$pid]}")
    fi
  done
  problems=()
  if [ ${#unreached[@]} -gt 0 ]; then
    problems+=("cannot log in to $(printf '%s\n' "${unreached[@]}" | sort | paste -sd ' ') (ssh fails): check $logins")
  fi
  if [ ${#lacking[@]} -gt 0 ]; then
    problems+=("$tool cannot be run on $(printf '%s\n' "${lacking[@]}" | sort | paste -sd ' '): install the package there, or set BRINDLEWOX_OCR to the command each machine runs")
  fi
  if [ ${#problems[@]} -gt 0 ]; then
    die "${problems[0]}${problems[1]:+; ${problems[1]}}"
  fi
elif [ -n "${BRINDLEWOX_OCR:-}" ]; then
  # The jobs run in the folder: a relative path must not depend on it.
  tool=$(command -v -- "$BRINDLEWOX_OCR") ||
    die "BRINDLEWOX_OCR=$BRINDLEWOX_OCR is not a program that can be run; set it to the brindlewox-ocr binary (such as build/brindlewox-ocr)"
  [[ $tool != */* ]] || tool=$(realpath -s -- "$tool")
  export BRINDLEWOX_OCR=$tool
elif ! command -v brindlewox-ocr >/dev/null; then
  built=$(realpath -m -- "$(dirname -- "$(realpath -- "${BASH_SOURCE[0]}")")/../build/brindlewox-ocr")
  if [ ! -f "$built" ] || [ ! -x "$built" ]; then
    die "brindlewox-ocr is neither on PATH nor at $built: install the package, build it (sh scripts/build.sh), or set BRINDLEWOX_OCR to the binary"
  fi
  export BRINDLEWOX_OCR=$built
fi
cd "$folder"
record=.batch_convert.failures

# Runs on the machine doing the job. On failure prints STATUS<tab>INPUT<tab>
# and the tool's failure line, or for any other exit its last message.
# Progress lines are for interactive parents and are dropped.
convert_one() {
  local errors status line
  errors=$("${BRINDLEWOX_OCR:-brindlewox-ocr}" "$1" "${1%.*}.json" 2>&1 >/dev/null) && return 0
  status=$?
  line=$(printf '%s\n' "$errors" | grep -m 1 '^OCR failed: ') ||
    line="exit status $status: $(printf '%s\n' "$errors" | tail -n 1)"
  printf '%s\t%s\t%s\n' "$status" "$1" "$line"
  return "$status"
}
export -f convert_one

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Inputs as ./NAME: a name starting with '-' is never taken for an option, and
# a transferred input lands in the remote working folder itself.
inputs=()
while IFS= read -r -d '' input; do
  inputs+=("$input")
done < <(find . -maxdepth 1 -type f -regextype posix-extended \
  -iregex '.*\.(pdf|png|jpe?g|tiff?|bmp|webp|heic)' -print0 | LC_ALL=C sort -z)

declare -A recorded=() stems=()
if [ -f "$record" ]; then
  while IFS=$'\t' read -r input line; do
    [ -n "$input" ] && recorded[$input]=$line
  done <"$record"
fi
for input in "${inputs[@]}"; do
  stems[${input%.*}]=$((${stems[${input%.*}]:-0} + 1))
done

# Two inputs with one stem (scan.pdf, scan.png) would write one scan.json, and
# it would then pass for the result of both: neither is run.
clashing=() done_before=() failed_before=() todo=()
for input in "${inputs[@]}"; do
  if [ "${stems[${input%.*}]}" -gt 1 ]; then
    clashing+=("$input")
  elif [ "${input%.*}.json" -nt "$input" ]; then
    # The tool writes its output whole or not at all, so a result newer than
    # its input is complete.
    done_before+=("$input")
  elif [ -n "${recorded[$input]+set}" ] && [ "$retry_failed" = no ]; then
    failed_before+=("$input")
  else
    todo+=("$input")
  fi
done
# Every input counted once: the four groups add up to the whole.
echo "${#inputs[@]} files: ${#done_before[@]} converted before, ${#failed_before[@]} failed before$(
  [ ${#failed_before[@]} -eq 0 ] || echo ' (--retry-failed runs them again)')$(
  [ ${#clashing[@]} -eq 0 ] || echo ", ${#clashing[@]} left alone (they share a result name)"), ${#todo[@]} to convert"

: >"$work/failures"
if [ ${#todo[@]} -gt 0 ]; then
  printf '%s\0' "${todo[@]}" >"$work/todo"
  options=(-0 --arg-file "$work/todo")
  # The bar counts files done of the files to convert.
  [ -t 2 ] && options+=(--bar)
  if [ -n "$logins" ]; then
    # A failed job has no result to send back. rsync 3.2.4 and later protect
    # remote names from the shell themselves, which parallel already quotes:
    # without --old-args a name with a space would not come back.
    PARALLEL_RSYNC_OPTS="-rlDzR --ignore-missing-args"
    # Read whole: grep -q leaving early would fail the pipe under pipefail.
    rsync_help=$(rsync --help 2>&1 || true)
    if [[ $rsync_help == *--old-args* ]]; then
      PARALLEL_RSYNC_OPTS+=" --old-args"
    fi
    export PARALLEL_RSYNC_OPTS
    # A working folder per job, under one for this run, so that what an
    # interrupted job leaves can be found.
    remote_work=.parallel/tmp/brindlewox-batch-$(uname -n)-$$
    options+=(--sshloginfile "$logins" --env convert_one --env BRINDLEWOX_OCR
              --workdir "$remote_work/{#}" --transferfile '{}' --return '{.}.json' --cleanup)
  else
    options+=(--jobs "$(nproc)")
  fi
  parallel "${options[@]}" convert_one '{}' >"$work/failures" || true
  if [ -n "$logins" ]; then
    parallel --nonall --sshloginfile "$logins" rm -rf -- "$remote_work" || true
  fi
fi

declare -A failed_now=() status_now=()
while IFS=$'\t' read -r status input line; do
  status_now[$input]=$status
  failed_now[$input]=$line
done <"$work/failures"

# The record keeps the tool's own failures (exit status 1) of the inputs
# still without a result; anything else is tried again next time.
converted=0 unfinished=0
failure_list=()
: >"$record.new"
for input in "${inputs[@]}"; do
  name="$folder/${input#./}"
  if [ "${stems[${input%.*}]}" -gt 1 ]; then
    failure_list+=("$name: another input here has the result name ${name%.*}.json; rename one")
  elif [ "${input%.*}.json" -nt "$input" ]; then
    converted=$((converted + 1))
  elif [ -n "${failed_now[$input]+set}" ]; then
    failure_list+=("$name: ${failed_now[$input]}")
    if [ "${status_now[$input]}" = 1 ]; then
      printf '%s\t%s\n' "$input" "${failed_now[$input]}" >>"$record.new"
    fi
  elif [ -n "${recorded[$input]+set}" ]; then
    printf '%s\t%s\n' "$input" "${recorded[$input]}" >>"$record.new"
    if [ "$retry_failed" = no ]; then
      failure_list+=("$name: ${recorded[$input]} (in an earlier run)")
    else
      unfinished=$((unfinished + 1))
    fi
  else
    unfinished=$((unfinished + 1))
  fi
done
if [ -s "$record.new" ]; then
  mv "$record.new" "$record"
else
  rm -f "$record.new" "$record"
fi

if [ ${#failure_list[@]} -gt 0 ]; then
  echo "Failed:"
  printf '  %s\n' "${failure_list[@]}"
fi
echo "$converted of ${#inputs[@]} files converted"
[ "$unfinished" -eq 0 ] || echo "$unfinished not finished (interrupted?): run this again to go on"
[ "$converted" -eq ${#inputs[@]} ]
