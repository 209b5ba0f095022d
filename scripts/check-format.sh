#!/bin/sh
# Fails when a C++ file of the repository is not laid out as .clang-format
# says, and prints the one command that fixes them all.
set -eu
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cc' '*.h' 2>/dev/null || find app document services pipeline platform tests bench -name '*.cc' -o -name '*.h')
# shellcheck disable=SC2086 # one word per file; no file name has a space
if ! clang-format --dry-run --Werror $files; then
  echo "C++ files are not formatted; in the top folder run: clang-format -i \$(git ls-files '*.cc' '*.h')" >&2
  exit 1
fi
