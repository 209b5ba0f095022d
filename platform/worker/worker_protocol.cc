#include "platform/worker/worker_protocol.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace brindlewox::worker {

namespace {

template <typename T>
void put(std::uint8_t* record, std::size_t offset, T value) {
  std::memcpy(record + offset, &value, sizeof value);
}

template <typename T>
T take(const std::uint8_t* record, std::size_t offset) {
  T value{};
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

}  // namespace

RequestRecord encode(const Request& request) {
  RequestRecord record{};
  put(record.data(), 0, static_cast<std::uint32_t>(request.command));
  put(record.data(), 8, request.page);
  put(record.data(), 16, request.scale);
  put(record.data(), 24, request.width);
  put(record.data(), 28, request.height);
  return record;
}

ReplyRecord encode(const Reply& reply) {
  ReplyRecord record{};
  put(record.data(), 0, static_cast<std::uint32_t>(reply.outcome));
  put(record.data(), 4, reply.rotation);
  put(record.data(), 8, reply.pageCount);
  put(record.data(), 16, reply.boxX);
  put(record.data(), 24, reply.boxY);
  put(record.data(), 32, reply.boxWidth);
  put(record.data(), 40, reply.boxHeight);
  put(record.data(), 48, reply.width);
  put(record.data(), 52, reply.height);
  return record;
}

std::optional<Request> decodeRequest(const std::uint8_t* bytes, std::size_t size) {
  if (size != kRequestBytes) return std::nullopt;
  Request request;
  const auto command = take<std::uint32_t>(bytes, 0);
  if (command != static_cast<std::uint32_t>(Command::describePage) &&
      command != static_cast<std::uint32_t>(Command::drawPage)) {
    return std::nullopt;
  }
  request.command = static_cast<Command>(command);
  request.page = take<std::int64_t>(bytes, 8);
  request.scale = take<double>(bytes, 16);
  request.width = take<std::int32_t>(bytes, 24);
  request.height = take<std::int32_t>(bytes, 28);
  return request;
}

std::optional<Reply> decodeReply(const std::uint8_t* bytes, std::size_t size) {
  if (size != kReplyBytes) return std::nullopt;
  Reply reply;
  const auto outcome = take<std::uint32_t>(bytes, 0);
  if (outcome > static_cast<std::uint32_t>(Outcome::failed)) return std::nullopt;
  reply.outcome = static_cast<Outcome>(outcome);
  reply.rotation = take<std::int32_t>(bytes, 4);
  reply.pageCount = take<std::int64_t>(bytes, 8);
  reply.boxX = take<double>(bytes, 16);
  reply.boxY = take<double>(bytes, 24);
  reply.boxWidth = take<double>(bytes, 32);
  reply.boxHeight = take<double>(bytes, 40);
  reply.width = take<std::int32_t>(bytes, 48);
  reply.height = take<std::int32_t>(bytes, 52);
  if (reply.rotation % 90 != 0 || reply.rotation < 0 || reply.rotation >= 360) return std::nullopt;
  if (reply.pageCount < 0 || reply.width < 0 || reply.height < 0) return std::nullopt;
  if (std::int64_t{reply.width} * reply.height > kMaxReplyPixels) return std::nullopt;
  return reply;
}

bool sendRecord(int socket, const std::uint8_t* bytes, std::size_t size, int pixels) {
  iovec part{const_cast<std::uint8_t*>(bytes), size};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
  if (pixels >= 0) {
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &pixels, sizeof(int));
  }
  for (;;) {
    // MSG_NOSIGNAL: a worker that died must not take the tool with SIGPIPE.
    const ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    return sent == static_cast<ssize_t>(size);
  }
}

Received receiveRecord(int socket, std::uint8_t* bytes, std::size_t capacity) {
  iovec part{bytes, capacity};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  // Room for more than one descriptor, so that extra ones are seen (and closed).
  alignas(cmsghdr) std::array<char, CMSG_SPACE(4 * sizeof(int))> control{};
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  ssize_t got = 0;
  do {
    got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
  } while (got < 0 && errno == EINTR);
  Received received;
  int descriptors = 0;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int fd = -1;
      std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
      UniqueFd owned(fd);
      if (descriptors++ == 0) received.descriptor = std::move(owned);
    }
  }
  const bool malformed = (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0 || descriptors > 1;
  if (got <= 0 || malformed) {
    received.descriptor.reset();
    return received;
  }
  received.size = static_cast<std::size_t>(got);
  return received;
}

bool sendReply(int socket, const Reply& reply, const UniqueFd& pixels) {
  const ReplyRecord record = encode(reply);
  return sendRecord(socket, record.data(), record.size(), pixels.get());
}

}  // namespace brindlewox::worker
