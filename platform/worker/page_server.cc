#include "platform/worker/page_server.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/image/bitmap_pixels.h"
#include "platform/worker/confinement.h"
#include "platform/worker/shared_pixels.h"

namespace brindlewox::worker {

namespace {

Reply failed() {
  return Reply{};
}

}  // namespace

Reply answer(PDFDocument& document, const Request& request, UniqueFd& pixels) {
  // The number comes off the wire: one below 1 names no page (and the
  // smallest would overflow the subtraction).
  if (request.page < 1) return failed();
  const std::optional<PDFPage> page = document.page(request.page - 1);
  if (!page) return failed();
  Reply reply;
  reply.outcome = Outcome::ok;
  reply.pageCount = document.pageCount();
  if (request.command == Command::describePage) {
    const PageBox box = page->mediaBox();
    reply.boxX = box.x;
    reply.boxY = box.y;
    reply.boxWidth = box.width;
    reply.boxHeight = box.height;
    reply.rotation = page->rotation();
    return reply;
  }
  if (!(request.scale > 0) || !std::isfinite(request.scale)) return failed();
  if (request.width > kMaxDrawnSide || request.height > kMaxDrawnSide) return failed();
  // Two buffers for the process's one document, taken in turn: the tool
  // holds one page while the next is drawn (see shared_pixels.h).
  static std::array<PixelBuffer, 2> buffers;
  static std::size_t turn = 0;
  PixelBuffer& buffer = buffers[turn];
  turn = 1 - turn;
  pixels = buffer.fill(request.width, request.height, [&](std::uint8_t* bgr) {
    return document.render(*page, request.scale, request.width, request.height, bgr);
  });
  if (!pixels.valid()) return failed();
  reply.width = request.width;
  reply.height = request.height;
  return reply;
}

void servePDF(int socket, UniqueFd input) {
  Result<PDFDocument> document = PDFDocument::open(std::move(input));
  Reply opened;
  opened.outcome = document ? Outcome::ok : Outcome::unreadable;
  if (document) opened.pageCount = document.value().pageCount();
  if (!sendReply(socket, opened) || !document) return;
  for (;;) {
    RequestRecord record{};
    const Received received = receiveRecord(socket, record.data(), record.size());
    const std::optional<Request> request = decodeRequest(record.data(), received.size);
    if (!request) return;
    UniqueFd pixels;
    if (request->command == Command::drawPage && !allowCpuForPage()) return;
    const Reply reply = answer(document.value(), *request, pixels);
    if (!sendReply(socket, reply, pixels)) return;
  }
}

}  // namespace brindlewox::worker
