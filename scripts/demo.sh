#!/bin/sh
# Quick start 1: install, build, and read the bundled sample image.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
sh scripts/build.sh
build/brindlewox-ocr examples/sample.png build/sample.json
echo
echo "build/sample.json:"
cat build/sample.json
echo
