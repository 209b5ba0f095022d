#include "platform/recognizer/chinese_script.h"

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include <opencc/opencc.h>

#include "platform/recognizer/utf8.h"

namespace brindlewox {

namespace {

// OpenCC's failure value for a converter.
const opencc_t kNoConverter = reinterpret_cast<opencc_t>(
    static_cast<std::intptr_t>(-1));  // NOLINT(performance-no-int-to-ptr)

std::optional<std::string> convert(void* converter, const std::string& text) {
  char* converted = opencc_convert_utf8(converter, text.data(), text.size());
  if (converted == nullptr) return std::nullopt;
  std::string result(converted);
  opencc_convert_utf8_free(converted);
  return result;
}

// How many code points `converted` changed, or nullopt when the two differ in
// length (the comparison would then pair the wrong characters).
std::optional<int> changedCodePoints(const std::vector<std::string>& original,
                                     const std::string& converted) {
  const std::vector<std::string> after = utf8::codePoints(converted);
  if (after.size() != original.size()) return std::nullopt;
  int changed = 0;
  for (std::size_t i = 0; i < after.size(); ++i) changed += after[i] != original[i] ? 1 : 0;
  return changed;
}

}  // namespace

void ChineseScript::Closer::operator()(void* converter) const {
  opencc_close(converter);
}

ChineseScript::ChineseScript(Converter toTraditional, Converter toSimplified)
    : toTraditional_(std::move(toTraditional)), toSimplified_(std::move(toSimplified)) {}

std::optional<ChineseScript> ChineseScript::load() {
  auto open = [](const char* configuration) {
    opencc_t converter = opencc_open(configuration);
    return Converter(converter == kNoConverter ? nullptr : converter);
  };
  Converter toTraditional = open("s2tw.json");
  Converter toSimplified = open("t2s.json");
  if (!toTraditional || !toSimplified) return std::nullopt;
  return ChineseScript(std::move(toTraditional), std::move(toSimplified));
}

std::string ChineseScript::consistent(const std::string& line) const {
  const std::optional<std::string> traditional = convert(toTraditional_.get(), line);
  const std::optional<std::string> simplified = convert(toSimplified_.get(), line);
  if (!traditional || !simplified) return line;
  const std::vector<std::string> points = utf8::codePoints(line);
  // Characters that simplifying changes exist only in traditional form, and
  // the other way round.
  const std::optional<int> traditionalOnly = changedCodePoints(points, *simplified);
  const std::optional<int> simplifiedOnly = changedCodePoints(points, *traditional);
  if (!traditionalOnly || !simplifiedOnly) return line;
  return *traditionalOnly > *simplifiedOnly ? *traditional : line;
}

std::map<std::size_t, std::string> ChineseScript::unknownTraditionalForms(
    const std::vector<std::string>& dictionary) const {
  const std::set<std::string> known(dictionary.begin(), dictionary.end());
  std::map<std::size_t, std::string> forms;
  for (std::size_t i = 0; i < dictionary.size(); ++i) {
    const std::optional<std::string> traditional = convert(toTraditional_.get(), dictionary[i]);
    if (traditional && *traditional != dictionary[i] && known.count(*traditional) == 0)
      forms[i + 1] = *traditional;
  }
  return forms;
}

}  // namespace brindlewox
