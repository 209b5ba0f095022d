// A stable in-place sort that finds natural runs, extends short runs by
// insertion and merges runs under a size discipline on a run stack. Reading
// order is decided by a test that is not transitive, so the order that comes
// out depends on the exact procedure; this is that procedure. Every index it
// touches is derived from list lengths only, so it stays in bounds and ends
// whatever the test answers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

namespace brindlewox {

// n below 64 gives n; otherwise the six most significant bits of n, plus one
// when any lower bit is set.
inline std::size_t minimumRunLength(std::size_t n) {
  if (n < 64) return n;
  std::size_t lowBitsSet = 0;
  while (n >= 64) {
    lowBitsSet |= n & 1U;
    n >>= 1U;
  }
  return n + lowBitsSet;
}

namespace detail {

// Elements [lo, sorted) are in order; moves each later one toward lo while
// it comes before its neighbour ahead.
template <typename T, typename Before>
void insertionStep(std::vector<T>& list, std::size_t lo, std::size_t hi, std::size_t sorted, Before& before) {
  for (std::size_t i = sorted; i < hi; ++i) {
    for (std::size_t j = i; j > lo && before(list[j], list[j - 1]); --j) std::swap(list[j], list[j - 1]);
  }
}

struct Run {
  std::size_t start;
  std::size_t length;
};

template <typename T, typename Before>
void mergeAdjacentRuns(std::vector<T>& list, Run a, Run b, std::vector<T>& buffer, Before& before) {
  const std::size_t lo = a.start;
  const std::size_t mid = b.start;
  const std::size_t hi = b.start + b.length;
  buffer.clear();
  if (a.length < b.length) {
    std::move(list.begin() + static_cast<std::ptrdiff_t>(lo), list.begin() + static_cast<std::ptrdiff_t>(mid),
              std::back_inserter(buffer));
    std::size_t dest = lo;
    std::size_t fromBuffer = 0;
    std::size_t fromB = mid;
    while (fromBuffer < buffer.size() && fromB < hi) {
      if (before(list[fromB], buffer[fromBuffer])) {
        list[dest++] = std::move(list[fromB++]);
      } else {
        list[dest++] = std::move(buffer[fromBuffer++]);
      }
    }
    while (fromBuffer < buffer.size()) list[dest++] = std::move(buffer[fromBuffer++]);
  } else {
    std::move(list.begin() + static_cast<std::ptrdiff_t>(mid), list.begin() + static_cast<std::ptrdiff_t>(hi),
              std::back_inserter(buffer));
    // Counts of what is left on each side; positions are derived from them.
    std::size_t leftInBuffer = buffer.size();
    std::size_t leftInA = mid - lo;
    std::size_t dest = hi;
    while (leftInBuffer > 0 && leftInA > 0) {
      T& lastOfA = list[lo + leftInA - 1];
      if (before(buffer[leftInBuffer - 1], lastOfA)) {
        list[--dest] = std::move(lastOfA);
        --leftInA;
      } else {
        list[--dest] = std::move(buffer[--leftInBuffer]);
      }
    }
    for (std::size_t k = 0; k < leftInBuffer; ++k) list[lo + leftInA + k] = std::move(buffer[k]);
  }
}

}  // namespace detail

// Sorts `list` in place; `before(a, b)` answers whether a comes before b.
template <typename T, typename Before>
void readingOrderSort(std::vector<T>& list, Before before) {
  const std::size_t n = list.size();
  if (n < 2) return;
  const std::size_t minRun = minimumRunLength(n);
  if (minRun >= n) {
    detail::insertionStep(list, 0, n, 1, before);
    return;
  }

  std::vector<T> buffer;
  buffer.reserve(n / 2);
  std::vector<detail::Run> stack;

  auto mergeAt = [&](std::size_t i) {  // merges stack[i] with stack[i + 1]
    detail::mergeAdjacentRuns(list, stack[i], stack[i + 1], buffer, before);
    stack[i].length += stack[i + 1].length;
    stack.erase(stack.begin() + static_cast<std::ptrdiff_t>(i) + 1);
  };
  auto mergeCollapse = [&] {
    while (stack.size() >= 2) {
      const std::size_t k = stack.size();
      const std::size_t z = stack[k - 1].length;
      const std::size_t y = stack[k - 2].length;
      const std::size_t x = k >= 3 ? stack[k - 3].length : 0;
      if ((k >= 4 && stack[k - 4].length <= x + y) || (k >= 3 && x <= y + z)) {
        mergeAt(x < z ? k - 3 : k - 2);
      } else if (y <= z) {
        mergeAt(k - 2);
      } else {
        break;
      }
    }
  };

  std::size_t start = 0;
  while (start < n) {
    std::size_t end = start + 1;
    if (start + 1 < n) {
      const bool descending = before(list[start + 1], list[start]);
      end = start + 2;
      while (end < n && before(list[end], list[end - 1]) == descending) ++end;
      if (descending) {
        std::reverse(list.begin() + static_cast<std::ptrdiff_t>(start), list.begin() + static_cast<std::ptrdiff_t>(end));
      }
    }
    if (end < n && end - start < minRun) {
      const std::size_t extended = std::min(n, start + minRun);
      detail::insertionStep(list, start, extended, end, before);
      end = extended;
    }
    stack.push_back({start, end - start});
    mergeCollapse();
    start = end;
  }
  while (stack.size() > 1) mergeAt(stack.size() - 2);
}

}  // namespace brindlewox
