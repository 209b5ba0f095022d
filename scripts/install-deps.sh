#!/bin/sh
# Installs everything brindlewox-ocr needs to build, test and run on Debian 12.
# Run as root.
set -eu
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
  ca-certificates cmake g++ make pkg-config tar dpkg-dev file libseccomp-dev \
  libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-dnn-dev \
  libpoppler-private-dev libheif-dev libicu-dev libgtest-dev libopenblas-pthread-dev libopencc-dev \
  python3 python3-onnx python3-numpy \
  python3-pil python3-cairo fonts-noto-cjk fonts-dejavu-core fonts-liberation2 libheif-examples qpdf \
  clang libclang-rt-14-dev clang-format \
  parallel rsync openssh-server openssh-client procps \
  jq poppler-utils man-db
# The models come from the npm registry; a machine that already has npm
# (possibly from another source than Debian) keeps it.
if ! command -v npm >/dev/null 2>&1; then
  apt-get install -y --no-install-recommends npm
fi
