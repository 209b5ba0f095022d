// Decodes arbitrary bytes as an image: a bitmap or unreadableInput, never a
// crash, and never more than the pixel limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/image/image_decoder.h"
#include "platform/image/image_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  const brindlewox::Result<brindlewox::Bitmap> image = brindlewox::imageFromBytes(bytes);
  if (image.ok()) {
    const auto pixels = static_cast<std::uint64_t>(image.value().width()) * image.value().height();
    if (pixels == 0 || pixels > brindlewox::kMaxImagePixels) std::abort();
  }
  return 0;
}
