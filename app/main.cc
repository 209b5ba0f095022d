// Entry point: hands the arguments without the program name to the run driver.
#include <csignal>

#include "app/run_driver.h"
#include "model/stderr_writer.h"

int main(int argc, char** argv) {
  // A parent that closes its end of our stderr must not kill the run.
  std::signal(SIGPIPE, SIG_IGN);
  brindlewox::reserveStderr();
  const brindlewox::Arguments arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  return brindlewox::run(arguments);
}
