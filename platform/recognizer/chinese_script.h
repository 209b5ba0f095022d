// Platform-internal: keeps a recognised line in one Chinese script. The
// recognition network learnt mostly from Simplified Chinese and writes the
// simplified form of some traditional characters (学 for 學, 没 for 沒) even
// in a line that is otherwise traditional. A line with more characters that
// exist only in traditional form than characters that exist only in
// simplified form is converted to traditional (Taiwan standard, with
// OpenCC's phrase tables); every other line is left as it is.
//
// Owns its two OpenCC converters. Converting is read-only: one instance may
// serve several threads.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindlewox {

class ChineseScript {
 public:
  // nullopt when OpenCC's tables cannot be opened.
  static std::optional<ChineseScript> load();

  std::string consistent(const std::string& line) const;

  // The dictionary's characters whose traditional form (Taiwan standard) is
  // not in the dictionary, by class (the dictionary's line number plus one),
  // with that form: 软 -> 軟. The network meets those traditional glyphs
  // without a class of their own.
  std::map<std::size_t, std::string> unknownTraditionalForms(
      const std::vector<std::string>& dictionary) const;

 private:
  struct Closer {
    void operator()(void* converter) const;
  };
  using Converter = std::unique_ptr<void, Closer>;

  ChineseScript(Converter toTraditional, Converter toSimplified);

  Converter toTraditional_;
  Converter toSimplified_;
};

}  // namespace brindlewox
