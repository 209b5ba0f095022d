// The decoding worker's side of its conversation with the tool: the input
// opened, the first reply sent, then one answer per request until the tool
// closes the socket. Runs inside the worker's limits and filter; the fuzz
// target runs it in-process on requests of its own.
#pragma once

#include "platform/pdf/pdf_document.h"
#include "platform/worker/worker_protocol.h"
#include "services/unique_fd.h"

namespace brindlewox::worker {

// Answers one request about `document`; a drawn page's sealed pixels go to
// `pixels`.
Reply answer(PDFDocument& document, const Request& request, UniqueFd& pixels);

// Opens the PDF in `input`, says so, then answers requests on `socket`
// until it closes. A malformed request ends the conversation.
void servePDF(int socket, UniqueFd input);

}  // namespace brindlewox::worker
