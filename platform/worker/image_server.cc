#include "platform/worker/image_server.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/image/bitmap_pixels.h"
#include "platform/image/image_decoder.h"
#include "platform/worker/shared_pixels.h"
#include "platform/worker/worker_protocol.h"

namespace brindlewox::worker {

void serveImage(int socket, UniqueFd input) {
  Reply reply;
  reply.outcome = Outcome::unreadable;
  UniqueFd pixels;
  std::optional<std::vector<std::uint8_t>> bytes = readImageBytes(input);
  input.reset();
  if (bytes) {
    Result<Bitmap> image = imageFromBytes(*bytes);
    bytes.reset();  // the file's bytes go before the pixels are copied out
    if (image) {
      const Bitmap& bitmap = image.value();
      pixels = sealedPixels(bitmap.width(), bitmap.height(),
                            [&](std::uint8_t* bgr) { return copyPixels(bitmap, bgr); });
      if (pixels.valid()) {
        reply.outcome = Outcome::ok;
        reply.pageCount = 1;
        reply.width = bitmap.width();
        reply.height = bitmap.height();
      }
    }
  }
  sendReply(socket, reply, pixels);
}

}  // namespace brindlewox::worker
