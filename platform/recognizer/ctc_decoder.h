// Greedy CTC decoding of the recognition network's per-frame class
// probabilities into a line of text and its confidence. Class 0 is the CTC
// blank, classes 1..N are the dictionary's lines, class N+1 is a space.
// Plain arrays in, plain text out: no engine is needed to test it.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace brindlewox {

struct DecodedLine {
  std::string text;
  float confidence = 0;  // mean probability of the emitted characters; 0 when none
};

class CTCDecoder {
 public:
  // `restoreSpaces` off keeps exactly the spaces the network emitted (for
  // measuring what the restoration gains).
  explicit CTCDecoder(std::vector<std::string> dictionary, bool restoreSpaces = true);

  std::size_t classCount() const { return dictionary_.size() + 2; }

  // Characters the network writes only in simplified form (软), by class,
  // with the traditional form it lacks (軟). Where such a character is the
  // likely runner-up in a gap between Han characters with room for one more,
  // the glyph was that traditional form, lost to the blank: it is restored
  // in that form. Without them nothing is restored.
  void restoreUnknownTraditional(std::map<std::size_t, std::string> forms) { unknownTraditional_ = std::move(forms); }

  // `probabilities` holds `frames` rows of classCount() values each.
  DecodedLine decode(const float* probabilities, int frames) const;

 private:
  std::vector<std::string> dictionary_;
  bool restoreSpaces_;
  std::vector<std::size_t> fullWidthPunctuation_;  // their classes, for reading a lone mark in CJK text
  std::map<std::size_t, std::string> unknownTraditional_;
};

}  // namespace brindlewox
