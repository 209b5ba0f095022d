// The command line, parsed once into plain Options. The readers behind it
// never fail and never write: a missing, misplaced or malformed option
// becomes a fallback. The argument list is the process arguments without the
// program name; the two positional paths are part of the search.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace brindlewox {

using Arguments = std::vector<std::string>;

// An optional "+" or "-", then one or more ASCII digits, nothing else, within
// the signed 64-bit range.
std::optional<std::int64_t> decimalInteger(std::string_view text);

// The argument after the first one exactly equal to `name`; absent when the
// name is missing or is the last argument.
std::optional<std::string_view> optionValue(std::string_view name, const Arguments& arguments);

std::int64_t integerArgument(std::string_view name, const Arguments& arguments,
                             std::int64_t fallback);

// The "--pages" selection: absent, or a non-empty set of numbers >= 1.
std::optional<std::set<std::int64_t>> selectedPageNumbers(const Arguments& arguments);

struct ProgressRange {
  std::int64_t start = 0;
  std::int64_t end = 100;
};

// "--progress-start" and "--progress-end", clamped so 0 <= start <= end <= 100.
ProgressRange progressRange(const Arguments& arguments);

// What one run was asked to do.
struct Options {
  std::string input;                            // INPUT, the first argument
  std::string output;                           // OUTPUT, the second
  std::optional<std::set<std::int64_t>> pages;  // absent: every page
  ProgressRange progress;
};

// Absent with fewer than two arguments.
std::optional<Options> parseOptions(const Arguments& arguments);

}  // namespace brindlewox
