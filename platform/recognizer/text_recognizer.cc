#include "platform/recognizer/text_recognizer.h"

#include <exception>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>

#include "platform/image/bitmap_pixels.h"
#include "platform/recognizer/recognizer.h"

namespace brindlewox {

namespace {

// The recogniser of the process, loaded once on a thread of its own and
// kept for the life of the process, a failure too.
class RecognizerSlot {
 public:
  void startLoading() {
    std::call_once(started_, [this] {
      try {
        loading_ = std::async(std::launch::async, Recognizer::load);
      } catch (const std::system_error&) {
        // No thread to spare: the first recognition loads the recogniser itself.
        loading_ = std::async(std::launch::deferred, Recognizer::load);
      }
    });
  }

  Result<Recognizer*> recognizer() {
    startLoading();
    std::call_once(finished_, [this] {
      try {
        recognizer_.emplace(loading_.get());
      } catch (const std::bad_alloc&) {
        recognizer_.emplace(PlatformError{"Text recognition failed: out of memory."});
      } catch (const std::exception& error) {  // any other failure while loading
        recognizer_.emplace(PlatformError{std::string("Text recognition failed: ") + error.what()});
      }
    });
    if (!*recognizer_) return recognizer_->failure();
    return recognizer_->value().get();
  }

 private:
  std::once_flag started_;
  std::once_flag finished_;
  std::future<Result<std::unique_ptr<Recognizer>>> loading_;
  std::optional<Result<std::unique_ptr<Recognizer>>> recognizer_;
};

RecognizerSlot& recognizerSlot() {
  static RecognizerSlot slot;
  return slot;
}

}  // namespace

RecognizerLoad::RecognizerLoad() {
  recognizerSlot().startLoading();
}

RecognizerLoad::~RecognizerLoad() {
  static_cast<void>(recognizerSlot().recognizer());
}

Result<std::vector<TextObservation>> recognizeObservations(const Bitmap& image) {
  Result<Recognizer*> recognizer = recognizerSlot().recognizer();
  if (!recognizer) return recognizer.failure();
  try {
    return recognizer.value()->recognize(image.pixels().bgr);
  } catch (const cv::Exception& error) {
    return PlatformError{std::string("Text recognition failed: ") + error.err};
  } catch (const std::bad_alloc&) {
    return PlatformError{"Text recognition failed: out of memory."};
  } catch (const std::exception& error) {  // a reader thread that could not be started
    return PlatformError{std::string("Text recognition failed: ") + error.what()};
  }
}

}  // namespace brindlewox
