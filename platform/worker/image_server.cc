#include "platform/worker/image_server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "platform/image/bitmap_pixels.h"
#include "platform/image/image_decoder.h"
#include "platform/worker/shared_pixels.h"
#include "platform/worker/worker_protocol.h"

namespace brindlewox::worker {

namespace {

// Larger files are not images anyone photographs or scans.
constexpr off_t kMaxImageFileBytes = off_t{512} << 20;

}  // namespace

void serveImage(int socket, UniqueFd input) {
  Reply reply;
  reply.outcome = Outcome::unreadable;
  UniqueFd pixels;
  struct stat info {};
  if (::fstat(input.get(), &info) == 0 && S_ISREG(info.st_mode) &&
      info.st_size <= kMaxImageFileBytes) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
      const ssize_t got = ::read(input.get(), bytes.data() + filled, bytes.size() - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      filled += static_cast<std::size_t>(got);
    }
    input.reset();
    if (filled == bytes.size()) {
      Result<Bitmap> image = imageFromBytes(bytes);
      bytes = {};  // the file's bytes go before the pixels are copied out
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
  }
  sendReply(socket, reply, pixels);
}

}  // namespace brindlewox::worker
