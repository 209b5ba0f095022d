// What the tool and its decoding worker say to each other over their socket
// (SOCK_SEQPACKET, so every message arrives whole or not at all). Messages
// are fixed-size records of plain numbers; both ends come from one build.
// A drawn page's pixels travel beside a reply as a sealed memfd, never
// through the socket. The worker is untrusted: every reply is checked before
// the tool believes it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "services/unique_fd.h"

namespace brindlewox::worker {

// The socket's descriptor in the worker, put there by the tool.
inline constexpr int kSocketDescriptor = 3;

enum class Command : std::uint32_t {
  describePage = 1,  // the page's media box and /Rotate
  drawPage = 2,      // the page at `scale` into width x height pixels
};

struct Request {
  Command command = Command::describePage;
  std::int64_t page = 0;  // 1-based
  double scale = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

enum class Outcome : std::uint32_t {
  ok = 0,
  unreadable = 1,  // the input did not open or decode
  failed = 2,      // this page could not be described or drawn
};

// The first reply says whether the input opened (and, for a PDF, its page
// count; for an image, its pixels). Later ones answer one request each.
struct Reply {
  Outcome outcome = Outcome::failed;
  std::int64_t pageCount = 0;
  double boxX = 0;
  double boxY = 0;
  double boxWidth = 0;
  double boxHeight = 0;
  std::int32_t rotation = 0;
  // The pixels beside the reply: 8-bit BGR, rows packed, width * height * 3 bytes.
  std::int32_t width = 0;
  std::int32_t height = 0;
};

inline constexpr std::size_t kRequestBytes = 32;
inline constexpr std::size_t kReplyBytes = 64;
using RequestRecord = std::array<std::uint8_t, kRequestBytes>;
using ReplyRecord = std::array<std::uint8_t, kReplyBytes>;

RequestRecord encode(const Request& request);
ReplyRecord encode(const Reply& reply);
// Absent for a record that does not hold a known message.
std::optional<Request> decodeRequest(const std::uint8_t* bytes, std::size_t size);
std::optional<Reply> decodeReply(const std::uint8_t* bytes, std::size_t size);

// The longest side of a page the tool asks for (it draws at most 3200).
inline constexpr std::int32_t kMaxDrawnSide = 4096;

// Pixels a reply may announce: the page limit's 3200 x 3200 and an image
// file's 2^28, whichever is larger.
inline constexpr std::int64_t kMaxReplyPixels = std::int64_t{1} << 28;

// Sends one record, with `pixels` (if valid) passed along. False when the
// other end is gone.
bool sendRecord(int socket, const std::uint8_t* bytes, std::size_t size, int pixels = -1);

// The worker's side: `reply` encoded and sent, with `pixels` if valid.
bool sendReply(int socket, const Reply& reply, const UniqueFd& pixels = UniqueFd());

struct Received {
  std::size_t size = 0;  // 0: the other end closed, or a malformed message
  UniqueFd descriptor;   // the one descriptor passed along, if any
};
// Receives one record of at most `capacity` bytes; a longer one, or one
// that carries more than one descriptor, is malformed.
Received receiveRecord(int socket, std::uint8_t* bytes, std::size_t capacity);

}  // namespace brindlewox::worker
