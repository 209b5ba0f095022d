#include "platform/recognizer/detection_scale.h"

#include <algorithm>
#include <cmath>

namespace brindlewox {

double naturalDetectionScale(int width, int height, int longSideLimit) {
  const int longSide = std::max(width, height);
  return longSide > longSideLimit ? static_cast<double>(longSideLimit) / longSide : 1.0;
}

int detectionMargin(double scale, int inputMargin) {
  return static_cast<int>(std::ceil(inputMargin / std::max(scale, 1e-3)));
}

}  // namespace brindlewox
