#!/bin/sh
# Quick start 2: install, build, and run every test.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
sh scripts/build.sh
cd build
ctest --output-on-failure -j "$(nproc)"
