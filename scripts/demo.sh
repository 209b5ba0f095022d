#!/bin/sh
# Quick start 1: install, build, and read the bundled sample image.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
# The tool alone (with its engine, decoding worker and models): the tests
# and benchmarks are built by the test command.
sh scripts/build.sh brindlewox-ocr
build/brindlewox-ocr examples/sample.png build/sample.json
echo
echo "build/sample.json:"
cat build/sample.json
echo
