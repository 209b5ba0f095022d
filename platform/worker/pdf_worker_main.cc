// brindlewox-ocr-pdf-decoder (see worker_run.h).
#include "platform/worker/page_server.h"
#include "platform/worker/worker_run.h"

int main(int argc, char** argv) {
  return brindlewox::worker::runWorker(argc, argv, brindlewox::WorkerKind::pdf,
                                       brindlewox::worker::servePDF);
}
