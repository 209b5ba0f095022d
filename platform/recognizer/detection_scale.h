// How large the detection network sees a bitmap, and how much background is
// laid around it. Plain arithmetic on sizes, testable without the network.
// A bitmap whose longer side exceeds the limit is shrunk to it; a smaller one
// is seen at its own size. Enlarging small bitmaps was measured (one-line
// images 6 to 64 pixels high) and read no better once the margin is there.
#pragma once

namespace brindlewox {

inline constexpr int kDetectionLongSideLimit = 1280;

// The scale of the network's input: 1, or below 1 when the bitmap's longer
// side exceeds `longSideLimit`.
double naturalDetectionScale(int width, int height, int longSideLimit = kDetectionLongSideLimit);

// The width of background, in bitmap pixels, laid around the bitmap so that
// the network sees at least `inputMargin` pixels of it at `scale`.
int detectionMargin(double scale, int inputMargin);

}  // namespace brindlewox
