// A page's pixels handed from the decoding worker to the tool in shared
// memory: the worker draws into a memfd and seals it (no write, no resize),
// the tool maps it copy-on-write, so that the pixels are never copied and a
// worker cannot change or cut them under the tool's feet.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/bitmap.h"
#include "platform/unique_fd.h"

namespace brindlewox::worker {

// Worker side: a sealed memfd of width * height * 3 bytes of BGR, filled by
// `fill`. Invalid when it cannot be made or `fill` fails.
UniqueFd sealedPixels(int width, int height, const std::function<bool(std::uint8_t* bgr)>& fill);

// Tool side: the pixels as a Bitmap, the mapping owned by it. Absent unless
// the descriptor is a sealed memfd that holds them all.
std::optional<Bitmap> mapSealedPixels(const UniqueFd& pixels, int width, int height);

}  // namespace brindlewox::worker
