// Platform-internal: the pixels behind a Bitmap, as a 3-channel 8-bit BGR
// OpenCV matrix. Only platform code includes this header.
#pragma once

#include <cstdint>

#include <opencv2/core.hpp>

#include "platform/image/bitmap.h"

namespace brindlewox {

struct Bitmap::Pixels {
  cv::Mat bgr;  // CV_8UC3
};

Bitmap makeBitmap(cv::Mat bgr);

}  // namespace brindlewox

namespace brindlewox {

// Copies the pixels into `bgr`, width * height * 3 bytes with rows packed.
bool copyPixels(const Bitmap& bitmap, std::uint8_t* bgr);

}  // namespace brindlewox
