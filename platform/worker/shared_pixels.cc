#include "platform/worker/shared_pixels.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <memory>

#include "platform/image/bitmap_pixels.h"
#include "platform/worker/worker_protocol.h"

namespace brindlewox::worker {

namespace {

constexpr int kSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;

std::optional<std::size_t> pixelBytes(int width, int height) {
  if (width <= 0 || height <= 0 || std::int64_t{width} * height > kMaxReplyPixels)
    return std::nullopt;
  return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
}

}  // namespace

UniqueFd sealedPixels(int width, int height, const std::function<bool(std::uint8_t* bgr)>& fill) {
  const std::optional<std::size_t> bytes = pixelBytes(width, height);
  if (!bytes) return {};
  UniqueFd memory(::memfd_create("brindlewox-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!memory.valid() || ::ftruncate(memory.get(), static_cast<off_t>(*bytes)) != 0) return {};
  void* mapped = ::mmap(nullptr, *bytes, PROT_READ | PROT_WRITE, MAP_SHARED, memory.get(), 0);
  if (mapped == MAP_FAILED) return {};
  const bool filled = fill(static_cast<std::uint8_t*>(mapped));
  ::munmap(mapped, *bytes);  // a write seal needs every writable mapping gone
  if (!filled || ::fcntl(memory.get(), F_ADD_SEALS, kSeals) != 0) return {};
  return memory;
}

PixelBuffer::~PixelBuffer() {
  if (mapped_ != nullptr) ::munmap(mapped_, size_);
}

UniqueFd PixelBuffer::fill(int width, int height,
                           const std::function<bool(std::uint8_t* bgr)>& fill) {
  const std::optional<std::size_t> bytes = pixelBytes(width, height);
  if (!bytes) return {};
  if (!memory_.valid()) {
    memory_ = UniqueFd(::memfd_create("brindlewox-pages", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!memory_.valid() || ::fcntl(memory_.get(), F_ADD_SEALS, F_SEAL_SHRINK) != 0) {
      memory_.reset();
      return {};
    }
  }
  if (*bytes > size_) {  // grown, never shrunk
    if (mapped_ != nullptr) ::munmap(mapped_, size_);
    mapped_ = nullptr;
    size_ = 0;
    if (::ftruncate(memory_.get(), static_cast<off_t>(*bytes)) != 0) return {};
    void* mapped = ::mmap(nullptr, *bytes, PROT_READ | PROT_WRITE, MAP_SHARED, memory_.get(), 0);
    if (mapped == MAP_FAILED) return {};
    mapped_ = mapped;
    size_ = *bytes;
  }
  if (!fill(static_cast<std::uint8_t*>(mapped_))) return {};
  return UniqueFd(::fcntl(memory_.get(), F_DUPFD_CLOEXEC, 0));
}

std::optional<Bitmap> mapSealedPixels(const UniqueFd& pixels, int width, int height) {
  const std::optional<std::size_t> bytes = pixelBytes(width, height);
  if (!bytes || !pixels.valid()) return std::nullopt;
  const int seals = ::fcntl(pixels.get(), F_GET_SEALS);
  if (seals < 0 || (seals & F_SEAL_SHRINK) == 0) return std::nullopt;
  struct stat info {};
  if (::fstat(pixels.get(), &info) != 0 || info.st_size < 0 ||
      static_cast<std::size_t>(info.st_size) < *bytes) {
    return std::nullopt;
  }
  // Private: a stage that writes into its input gets its own copy of the page.
  void* mapped = ::mmap(nullptr, *bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE, pixels.get(), 0);
  if (mapped == MAP_FAILED) return std::nullopt;
  const std::size_t length = *bytes;
  std::shared_ptr<void> mapping(mapped, [length](void* start) { ::munmap(start, length); });
  Bitmap bitmap = makeBitmap(cv::Mat(height, width, CV_8UC3, mapped));
  bitmap.keepAlive(std::move(mapping));
  return bitmap;
}

}  // namespace brindlewox::worker
