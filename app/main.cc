// Entry point: hands the arguments without the program name to the run driver.
#include <csignal>
#include <new>

#include "app/run_driver.h"
#include "app/start_settings.h"
#include "document/stderr_writer.h"
#include "services/cancellation.h"

int main(int argc, char** argv) {
  brindlewox::restartWithStartSettings(argv);
  // A parent that closes its end of our stderr must not kill the run.
  std::signal(SIGPIPE, SIG_IGN);
  // A parent that cancels the run sees it end by its signal, with no
  // temporary file left beside OUTPUT.
  brindlewox::endRunOnCancellation();
  brindlewox::reserveStderr();
  try {
    const brindlewox::Arguments arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    return brindlewox::run(arguments);
  } catch (const std::bad_alloc&) {
    // Failures travel as values; only an allocation deep inside a library can
    // still throw, and it must end the run with a line, not a signal.
    brindlewox::writeStderr("OCR failed: Out of memory.\n");
    return 1;
  }
}
