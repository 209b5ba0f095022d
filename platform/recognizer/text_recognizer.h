// platform/recognizer/ is the recogniser: this entry point, its stages
// (recognizer.h), the network layers and products of our own, the CTC
// decoder, and the prepared networks' files.
//
// The text recogniser: finds the text in a bitmap and reads each piece with
// the PP-OCRv4 detection and recognition networks. The networks are loaded
// once per process, when a RecognizerLoad starts it or on first use, and
// reused for every page.
#pragma once

#include <vector>

#include "document/result.h"
#include "platform/image/bitmap.h"
#include "platform/recognizer/text_observation.h"

namespace brindlewox {

// Starts loading the networks on a thread of their own, so that reading and
// drawing the input overlaps the load; the first recognition waits for it.
// The destructor waits for the load too, so that no thread is left running
// when the run ends early. One per run, around the conversion.
class RecognizerLoad {
 public:
  RecognizerLoad();
  RecognizerLoad(const RecognizerLoad&) = delete;
  RecognizerLoad& operator=(const RecognizerLoad&) = delete;
  ~RecognizerLoad();
};

// One observation per detected box, in the detector's order. Boxes lower
// than 0.006 of the image height are not returned. Fails when the networks
// cannot be loaded or run.
Result<std::vector<TextObservation>> recognizeObservations(const Bitmap& image);

}  // namespace brindlewox
