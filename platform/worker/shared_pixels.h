// A page's pixels handed from the decoding worker to the tool in shared
// memory: the worker draws into a memfd sealed against shrinking, the tool
// maps it copy-on-write, so that the pixels are never copied and a worker
// cannot cut the memory under the tool's feet (which would fault the tool).
// A PDF's pages take two memfds in turn, whose memory stays faulted in:
// fresh shared memory for every page cost 100-200 ms a page. The worker could
// still write into one while the tool reads it, but only pixels, which it
// could as well have drawn; the tool draws one page ahead (the next page
// while it reads the current one) and asks for the page after the next only
// once it is done with the current one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/image/bitmap.h"
#include "services/unique_fd.h"

namespace brindlewox::worker {

// Worker side: a sealed memfd of width * height * 3 bytes of BGR, filled by
// `fill`. Invalid when it cannot be made or `fill` fails.
UniqueFd sealedPixels(int width, int height, const std::function<bool(std::uint8_t* bgr)>& fill);

// Worker side: one memfd for every page of a document, grown as pages need.
class PixelBuffer {
 public:
  PixelBuffer() = default;
  PixelBuffer(const PixelBuffer&) = delete;
  PixelBuffer& operator=(const PixelBuffer&) = delete;
  ~PixelBuffer();

  // A descriptor of the memfd holding width * height * 3 bytes of BGR filled
  // by `fill`; invalid when it cannot be made or `fill` fails.
  UniqueFd fill(int width, int height, const std::function<bool(std::uint8_t* bgr)>& fill);

 private:
  UniqueFd memory_;
  void* mapped_ = nullptr;
  std::size_t size_ = 0;
};

// Tool side: the pixels as a Bitmap, the mapping owned by it. Absent unless
// the descriptor is a memfd sealed against shrinking that holds them all.
std::optional<Bitmap> mapSealedPixels(const UniqueFd& pixels, int width, int height);

}  // namespace brindlewox::worker
