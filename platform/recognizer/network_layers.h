// Network layers of our own, for the operations of the PP-OCRv4 graphs that
// OpenCV 4.6 runs slowly: depthwise convolutions with kernels larger than 3x3
// (its fast path takes only 3x3), hard-swish (one call per element), 1x1
// convolutions (as matrix products they run 2-4 times as fast) and other ungrouped
// stride-1 convolutions (as matrix products the detection network's forward
// takes 9-14% less time), a map scaled by one weight per channel (OpenCV
// broadcasts the weights one element at a time: a third of a detection),
// transposed convolutions whose stride is their kernel (one product each),
// and normalisation over the last axis (OpenCV's broadcasts in that chain
// hold for a batch of one line only).
// The model preparation renames those nodes to "DepthwiseConv",
// "AffineHardSwish", "PointwiseConv", "DenseConv", "ChannelScale",
// "PatchTransposeConv" and "LastAxisNorm"; OpenCV builds them from
// the factory these are registered in. Registration is process-wide and
// happens once, before any graph is read.
#ifndef BRINDLEWOX_PLATFORM_RECOGNIZER_NETWORK_LAYERS_H_
#define BRINDLEWOX_PLATFORM_RECOGNIZER_NETWORK_LAYERS_H_

#include <cstddef>
#include <string>

#include <opencv2/dnn.hpp>

namespace brindlewox {

// Registers the layer types with OpenCV's layer factory. Safe to call often.
void registerNetworkLayers();

// Reads a prepared ONNX graph, with our layers registered first. Throws
// cv::Exception as cv::dnn::readNetFromONNX does.
cv::dnn::Net readNetwork(const std::string& path);

// One channel plane of a depthwise convolution with horizontal stride 1:
// output[oy][x] = bias + sum over ky < kernelHeight, kx < kernelWidth of
// weights[ky * kernelWidth + kx] * input[(oy * stepY + ky) * inputWidth + x + kx].
// The caller has padded `input` so that every read is in bounds.
void convolveDepthwisePlane(const float* input, int inputWidth, const float* weights,
                            int kernelHeight, int kernelWidth, int stepY, float bias, float* output,
                            int outHeight, int outWidth);

// output = input * weight, element by element.
void scalePlane(const float* input, float weight, float* output, std::size_t count);

// y = scale * x * clamp(x + 3, 0, 6) / 6 + shift, element by element; in place is fine.
void affineHardSwish(const float* input, float* output, std::size_t count, float scale,
                     float shift);

}  // namespace brindlewox

#endif  // BRINDLEWOX_PLATFORM_RECOGNIZER_NETWORK_LAYERS_H_
