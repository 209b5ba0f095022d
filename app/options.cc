#include "app/options.h"

#include <algorithm>
#include <charconv>

#include "services/text_services.h"

namespace brindlewox {

std::optional<std::int64_t> decimalInteger(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  if (digits.empty() ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  // from_chars takes "-" itself (and so the most negative value) but not "+".
  const std::string_view parsed = text.front() == '+' ? digits : text;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(parsed.data(), parsed.data() + parsed.size(), value);
  if (error != std::errc() || end != parsed.data() + parsed.size()) return std::nullopt;
  return value;
}

std::optional<std::string_view> optionValue(std::string_view name, const Arguments& arguments) {
  const auto found = std::find(arguments.begin(), arguments.end(), name);
  if (found == arguments.end() || std::next(found) == arguments.end()) return std::nullopt;
  return std::string_view(*std::next(found));
}

std::int64_t integerArgument(std::string_view name, const Arguments& arguments,
                             std::int64_t fallback) {
  const std::optional<std::string_view> value = optionValue(name, arguments);
  if (!value) return fallback;
  return decimalInteger(*value).value_or(fallback);
}

std::optional<std::set<std::int64_t>> selectedPageNumbers(const Arguments& arguments) {
  const std::optional<std::string_view> value = optionValue("--pages", arguments);
  if (!value) return std::nullopt;
  std::set<std::int64_t> pages;
  std::string_view rest = *value;
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string_view piece = rest.substr(0, comma);
    if (const auto number = decimalInteger(trimmed(piece, isInlineWhitespace));
        number && *number > 0) {
      pages.insert(*number);
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  if (pages.empty()) return std::nullopt;
  return pages;
}

ProgressRange progressRange(const Arguments& arguments) {
  std::int64_t start = integerArgument("--progress-start", arguments, 0);
  start = std::min<std::int64_t>(std::max<std::int64_t>(start, 0), 100);
  std::int64_t end = integerArgument("--progress-end", arguments, 100);
  end = std::max(std::min<std::int64_t>(end, 100), start);
  return {start, end};
}

std::optional<Options> parseOptions(const Arguments& arguments) {
  if (arguments.size() < 2) return std::nullopt;
  return Options{arguments[0], arguments[1], selectedPageNumbers(arguments),
                 progressRange(arguments)};
}

}  // namespace brindlewox
