// The image worker's side of its conversation with the tool: one reply, the
// image's pixels or that it is unreadable. A file of its own so that the PDF
// worker, which never decodes an image, links none of the image codecs.
#pragma once

#include "services/unique_fd.h"

namespace brindlewox::worker {

// Decodes the image file in `input` and sends its pixels, or that it is
// unreadable.
void serveImage(int socket, UniqueFd input);

}  // namespace brindlewox::worker
