#!/bin/sh
# Configures and builds into build/: with no argument everything (binary,
# prepared models, tests, benchmarks), else only the targets named.
# usage: build.sh [TARGET...]
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ $# -eq 0 ]; then
  cmake --build build -j "$(nproc)"
else
  cmake --build build -j "$(nproc)" --target "$@"
fi
