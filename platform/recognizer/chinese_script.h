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

#include <memory>
#include <optional>
#include <string>

namespace brindlewox {

class ChineseScript {
 public:
  // nullopt when OpenCC's tables cannot be opened.
  static std::optional<ChineseScript> load();

  std::string consistent(const std::string& line) const;

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
