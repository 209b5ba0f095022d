// brindlewox-ocr-image-decoder (see worker_run.h).
#include "platform/worker/image_server.h"
#include "platform/worker/worker_run.h"

int main(int argc, char** argv) {
  return brindlewox::worker::runWorker(argc, argv, brindlewox::WorkerKind::image,
                                       brindlewox::worker::serveImage);
}
