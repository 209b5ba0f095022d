#include "platform/image/image_decoder.h"

#include <fcntl.h>
#include <libheif/heif.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/image/bitmap_pixels.h"
#include "platform/image/image_header.h"

namespace brindlewox {

namespace {

// Any depth and channel count to 8-bit BGR, with alpha over white.
cv::Mat toOpaqueBGR(const cv::Mat& decoded) {
  cv::Mat eight = decoded;
  if (decoded.depth() == CV_16U) {
    decoded.convertTo(eight, CV_8U, 1.0 / 257.0);
  } else if (decoded.depth() != CV_8U) {
    cv::normalize(decoded, eight, 0, 255, cv::NORM_MINMAX, CV_8U);
  }
  cv::Mat bgr;
  switch (eight.channels()) {
    case 1:
      cv::cvtColor(eight, bgr, cv::COLOR_GRAY2BGR);
      return bgr;
    case 3:
      return eight;
    case 4:
      break;
    default:
      return {};
  }
  bgr.create(eight.size(), CV_8UC3);
  for (int y = 0; y < eight.rows; ++y) {
    const auto* in = eight.ptr<cv::Vec4b>(y);
    auto* out = bgr.ptr<cv::Vec3b>(y);
    for (int x = 0; x < eight.cols; ++x) {
      const int alpha = in[x][3];
      for (int c = 0; c < 3; ++c)
        out[x][c] = static_cast<std::uint8_t>((in[x][c] * alpha + 255 * (255 - alpha) + 127) / 255);
    }
  }
  return bgr;
}

struct HeifContextFree {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifHandleRelease {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct HeifImageRelease {
  void operator()(heif_image* image) const { heif_image_release(image); }
};

cv::Mat decodeHEIF(const std::vector<std::uint8_t>& bytes) {
  const std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
  if (!context) return {};
  if (heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr)
          .code != heif_error_Ok) {
    return {};
  }
  heif_image_handle* rawHandle = nullptr;
  if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
    return {};
  const std::unique_ptr<heif_image_handle, HeifHandleRelease> handle(rawHandle);
  const DeclaredSize size{
      static_cast<std::uint64_t>(std::max(0, heif_image_handle_get_width(handle.get()))),
      static_cast<std::uint64_t>(std::max(0, heif_image_handle_get_height(handle.get())))};
  if (isUnacceptableSize(size)) return {};

  heif_image* rawImage = nullptr;  // transformations (rotation, mirroring) are applied by default
  if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGBA,
                        nullptr)
          .code != heif_error_Ok) {
    return {};
  }
  const std::unique_ptr<heif_image, HeifImageRelease> image(rawImage);
  int stride = 0;
  const std::uint8_t* plane =
      heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
  if (plane == nullptr || width <= 0 || height <= 0) return {};
  const cv::Mat rgba(height, width, CV_8UC4, const_cast<std::uint8_t*>(plane),
                     static_cast<std::size_t>(stride));
  cv::Mat bgra;
  cv::cvtColor(rgba, bgra, cv::COLOR_RGBA2BGRA);
  return toOpaqueBGR(bgra);
}

cv::Mat decodeWithOpenCV(const std::vector<std::uint8_t>& bytes, ImageFormat format) {
  // Refused from the header, before a decoder allocates for it.
  const std::optional<DeclaredSize> size = declaredSize(bytes);
  if (!size || isUnacceptableSize(*size)) return {};
  // JPEG carries no alpha but often an orientation tag, which only the colour
  // mode applies; everything else is read unchanged to keep its alpha.
  const int mode = format == ImageFormat::jpeg ? cv::IMREAD_COLOR : cv::IMREAD_UNCHANGED;
  const cv::Mat encoded(1, static_cast<int>(bytes.size()), CV_8U,
                        const_cast<std::uint8_t*>(bytes.data()));
  return toOpaqueBGR(cv::imdecode(encoded, mode));
}

}  // namespace

std::optional<std::vector<std::uint8_t>> readImageBytes(const UniqueFd& file) {
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size > kMaxImageFileBytes)
    return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    filled += static_cast<std::size_t>(got);
  }
  return bytes;
}

Result<Bitmap> imageFromFile(const std::string& path) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return OCRError::unreadableInput();
  const std::optional<std::vector<std::uint8_t>> bytes = readImageBytes(file);
  if (!bytes) return OCRError::unreadableInput();
  return imageFromBytes(*bytes);
}

Result<Bitmap> imageFromBytes(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return OCRError::unreadableInput();
  try {
    // Only the accepted formats are decoded, whatever else OpenCV could read.
    const ImageFormat format = imageFormat(bytes);
    cv::Mat bgr;
    if (format == ImageFormat::heif) {
      if (heif_check_filetype(bytes.data(),
                              static_cast<int>(std::min<std::size_t>(bytes.size(), 64))) ==
          heif_filetype_yes_supported) {
        bgr = decodeHEIF(bytes);
      }
    } else if (format != ImageFormat::unknown) {
      bgr = decodeWithOpenCV(bytes, format);
    }
    if (bgr.empty()) return OCRError::unreadableInput();
    return makeBitmap(std::move(bgr));
  } catch (const cv::Exception&) {
    return OCRError::unreadableInput();
  } catch (const std::bad_alloc&) {
    return OCRError::unreadableInput();
  }
}

}  // namespace brindlewox
