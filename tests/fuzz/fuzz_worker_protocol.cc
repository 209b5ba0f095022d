// The decoding worker's protocol from both ends. The bytes arrive at the tool
// as a message from a worker (which may be anyone's by then): a reply is
// believed only when it is whole and in range, and pixels only from a sealed
// memfd. The same bytes, cut into requests, go to the worker's own answering
// about a one-page PDF: any request ends in a reply, and a drawn page comes
// back as pixels the tool accepts.
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/pdf/pdf_document.h"
#include "platform/worker/page_server.h"
#include "platform/worker/shared_pixels.h"
#include "platform/worker/worker_protocol.h"
#include "services/unique_fd.h"

namespace {

using namespace brindlewox;
using namespace brindlewox::worker;

// A letter page with a line of text in a standard font; Poppler mends the
// missing cross-reference table as a damaged file's.
PDFDocument& onePagePDF() {
  static PDFDocument document = [] {
    const std::string text =
        "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
        "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
        "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >> "
        ">> endobj\n"
        "4 0 obj << /Length 44 >> stream\nBT /F1 24 Tf 72 700 Td (Fuzzed page) Tj ET\nendstream "
        "endobj\n"
        "trailer << /Root 1 0 R >>\n%%EOF\n";
    UniqueFd file(::memfd_create("fuzz-pdf", MFD_CLOEXEC));
    if (::write(file.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      __builtin_trap();
    ::lseek(file.get(), 0, SEEK_SET);
    Result<PDFDocument> opened = PDFDocument::open(std::move(file));
    if (!opened) __builtin_trap();
    return std::move(opened).value();
  }();
  return document;
}

void checkReply(const Reply& reply) {
  if (reply.width < 0 || reply.height < 0 ||
      std::int64_t{reply.width} * reply.height > kMaxReplyPixels) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The tool's side: the bytes as one message on its socket.
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return 0;
  const UniqueFd tool(ends[0]);
  UniqueFd worker(ends[1]);
  const std::size_t message = std::min<std::size_t>(size, 4096);
  if (message > 0 && ::send(worker.get(), data, message, 0) == static_cast<ssize_t>(message)) {
    ReplyRecord record{};
    const Received received = receiveRecord(tool.get(), record.data(), record.size());
    if (received.size > record.size()) __builtin_trap();
    if (const std::optional<Reply> reply = decodeReply(record.data(), received.size))
      checkReply(*reply);
  }
  // Pixels in a memfd that is not sealed are refused, whatever the reply says.
  if (const std::optional<Reply> reply = decodeReply(data, size)) {
    checkReply(*reply);
    const UniqueFd unsealed(::memfd_create("fuzz-pixels", MFD_CLOEXEC));
    if (::ftruncate(unsealed.get(), 4096) == 0 &&
        mapSealedPixels(unsealed, reply->width, reply->height)) {
      __builtin_trap();
    }
  }

  // The worker's side: up to four requests about the page.
  int answered = 0;
  for (std::size_t at = 0; at + kRequestBytes <= size && answered < 4; at += kRequestBytes) {
    const std::optional<Request> request = decodeRequest(data + at, kRequestBytes);
    if (!request) continue;
    ++answered;
    UniqueFd pixels;
    const Reply reply = answer(onePagePDF(), *request, pixels);
    checkReply(reply);
    if (pixels.valid() != (request->command == Command::drawPage && reply.outcome == Outcome::ok))
      __builtin_trap();
    if (pixels.valid() && !mapSealedPixels(pixels, reply.width, reply.height)) __builtin_trap();
  }
  return 0;
}
