// The reading-order sort with a test whose answers come from the input: it
// must stay in bounds (AddressSanitizer watches), end, and return a permutation.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "pipeline/reading_order_sort.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t n = (static_cast<std::size_t>(data[0]) << 8 | data[1]) % 3000;
  std::vector<std::size_t> values(n);
  for (std::size_t i = 0; i < n; ++i) values[i] = i;
  std::size_t bit = 16;
  const std::size_t bits = size * 8;
  brindlewox::readingOrderSort(values, [&](std::size_t, std::size_t) {
    const bool answer = (data[(bit / 8) % size] >> (bit % 8)) & 1U;
    bit = (bit + 1) % bits;
    return answer;
  });
  std::vector<std::size_t> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  for (std::size_t i = 0; i < n; ++i) {
    if (sorted[i] != i) std::abort();
  }
  return 0;
}
