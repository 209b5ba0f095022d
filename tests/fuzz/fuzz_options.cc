// Option parsing and dispatch keys on arbitrary argument lists: the readers
// never fail, and their results keep their promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/options.h"
#include "app/run_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  brindlewox::Arguments arguments;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {  // NUL separates arguments
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  arguments.push_back(current);

  const brindlewox::ProgressRange range = brindlewox::progressRange(arguments);
  if (range.start < 0 || range.start > range.end || range.end > 100) std::abort();
  if (const auto pages = brindlewox::selectedPageNumbers(arguments)) {
    if (pages->empty() || *pages->begin() < 1) std::abort();
  }
  for (const std::string& argument : arguments) {
    if (const auto value = brindlewox::decimalInteger(argument)) {
      // Whatever parses must print back to the same number.
      if (brindlewox::decimalInteger(std::to_string(*value)) != value) std::abort();
    }
    (void)brindlewox::extensionKey(argument);
  }
  return 0;
}
