// Platform-internal: the recognition network. Cuts a detected box out of the
// image, straightens it, scales it to the network's height of 48 pixels and
// decodes the network's output into text.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include "platform/recognizer/ctc_decoder.h"
#include "platform/recognizer/line_reader.h"
#include "platform/recognizer/text_detector.h"

namespace brindlewox {

class TextLineReader : public LineReader {
 public:
  TextLineReader(cv::dnn::Net network, CTCDecoder decoder);

  // The box's pixels, upright: warped to a rectangle, and turned when it is
  // much taller than wide (vertical text).
  static cv::Mat uprightCrop(const cv::Mat& bgr, const Quad& corners);

  // Whether the box is read as vertical text: much taller than wide.
  static bool isVertical(const Quad& corners);

  // The box's size straightened: its longer top or bottom edge by its longer side.
  static cv::Size straightenedSize(const Quad& corners);

  // The width of a line's network input (a multiple of 8, the frame width),
  // for a line image of this size.
  static int networkWidth(cv::Size lineSize);

  // The network's input for a line image: 48 pixels high, padded on the
  // right with the line's background to networkWidth() or to `width` if that
  // is wider, as a [1, 3, 48, width] blob.
  static cv::Mat networkInput(const cv::Mat& lineImage, int width = 0);

  DecodedLine read(const cv::Mat& lineImage) override;

  const CTCDecoder& decoder() const { return decoder_; }

  // One forward for all the lines, each padded to the widest; each line's
  // frames beyond its own width are dropped before decoding.
  std::vector<DecodedLine> readAll(const std::vector<cv::Mat>& lineImages) override;

  // The network's class probabilities for the line, one row per frame; empty
  // when the network's classes do not match the decoder's dictionary.
  cv::Mat probabilities(const cv::Mat& lineImage);

  // The number of classes in the network's output, 0 when its layout is not
  // the one expected ([lines, classes, 1, frames]).
  static std::size_t classCount(const cv::Mat& logits);

  // Softmax over the classes of the network's logits ([lines, classes, 1,
  // frames]) for one line and its first `frames` frames (all when 0), as rows
  // of one frame each.
  static cv::Mat classProbabilities(const cv::Mat& logits, int line = 0, int frames = 0);

 private:
  cv::dnn::Net network_;
  CTCDecoder decoder_;
};

}  // namespace brindlewox
