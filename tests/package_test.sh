#!/bin/sh
# Builds the Debian package from the build tree and checks its control
# fields and file list.
# usage: package_test.sh BUILD_DIR IMAGE
set -eu
build=$1
image=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$build"
cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/brindlewox-ocr_*.deb)
fail() { echo "package_test: $*"; exit 1; }

[ "$(dpkg-deb -f "$deb" Package)" = brindlewox-ocr ] || fail "wrong Package field"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "wrong Architecture field"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libopencv-dnn libopencv-imgcodecs libpoppler libheif libicu libopenblas0-pthread libopencc libseccomp; do
  echo "$depends" | grep -q "$library" || fail "Depends lacks $library: $depends"
done

files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/brindlewox-ocr \
            ./usr/lib/brindlewox-ocr/libbrindlewox-engine.so \
            ./usr/lib/brindlewox-ocr/brindlewox-ocr-pdf-decoder \
            ./usr/lib/brindlewox-ocr/brindlewox-ocr-image-decoder \
            ./usr/share/brindlewox-ocr/models/ppocrv4_det_opencv.onnx \
            ./usr/share/brindlewox-ocr/models/ppocrv4_rec_opencv.onnx \
            ./usr/share/brindlewox-ocr/models/ppocr_cls_opencv.onnx \
            ./usr/share/brindlewox-ocr/models/ppocr_keys_v1.txt \
            ./usr/share/man/man1/brindlewox-ocr.1; do
  echo "$files" | grep -qx "$path" || fail "missing $path"
done
echo "$files" | grep -q '/usr/local' && fail "files under /usr/local"

dpkg-deb -x "$deb" "$work/root"
# The engine finds OpenBLAS's pthread build through its run path, which must
# hold that folder only (an empty entry would search the working directory).
runpath=$(readelf -d "$work/root/usr/lib/brindlewox-ocr/libbrindlewox-engine.so" | sed -n 's/.*runpath: \[\(.*\)\]/\1/p')
[ "$runpath" = "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/openblas-pthread" ] || fail "engine run path: '$runpath'"

# The packaged binary runs from its unpacked tree and finds its models there.
"$work/root/usr/bin/brindlewox-ocr" "$image" "$work/out.json" 2>"$work/err" || fail "packaged binary failed: $(cat "$work/err")"
grep -q '"text" : "Quarterly report' "$work/out.json" || fail "packaged binary read: $(cat "$work/out.json")"
echo "package_test: $(basename "$deb") ok; Depends: $depends"
