// Platform-internal: the reading stage of the recogniser. The chosen lines
// of one page are read by several readers at once, each on a thread of its
// own (OpenCV's own threads barely speed up the recognition network, so each
// reader has its own copy of it). Each reader takes the next unread batch of
// lines until none is left, and a line's text lands by its index, so the
// output does not depend on the timing. Lines are taken widest first: the
// readers then finish together, lines of similar width share one forward
// (short lines cost the network's fixed overhead per forward), and a reader
// meets the same input width in a row, for which the network is not set up
// again.
//
// The PageReading borrows the found lines, the crops and the readers; they
// must outlive it.
#pragma once

#include <atomic>
#include <future>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "platform/recognizer/line_finder.h"
#include "platform/recognizer/line_reader.h"
#include "platform/recognizer/text_observation.h"

namespace brindlewox {

// Line indices by the width the reader gives each line, widest first.
std::vector<std::size_t> widestFirst(const std::vector<Quad>& crops);

// How the reading stage batches lines: a line joins a batch only if the
// batch's widest line is at most this much wider than the line itself (its
// padding changes what the network sees), and a batch holds at most so many
// lines and so many input columns (its memory). The tool reads one line to a
// forward: on this engine a batch of N lines took longer than N forwards of
// one at every width measured (bench/batch_reading).
struct BatchLimits {
  double padding = 0.15;
  std::size_t lines = 1;
  int columns = 4096;
};

// Runs of `widths` (input widths, widest first) read in one forward each, as
// [first, end) positions covering every position in order. A position in
// `alone` gets a batch of its own.
std::vector<std::pair<std::size_t, std::size_t>> widthBatches(const std::vector<int>& widths,
                                                              const std::vector<bool>& alone,
                                                              const BatchLimits& limits);

// A vertical line on an upright page: a column of CJK text, which the
// network reads turned a quarter to the left, or a label or table header
// running up the page, which reads turned the other way. The better reading wins.
DecodedLine readEitherWay(LineReader& reader, const cv::Mat& turnedLeft);

class PageReading {
 public:
  // The helpers (every reader but the first) start at once; the calling
  // thread joins in with the first reader when finish() is called.
  PageReading(const FoundLines& found, const std::vector<Quad>& crops,
              std::vector<LineReader*> readers, const BatchLimits& limits = {});
  PageReading(const PageReading&) = delete;
  PageReading& operator=(const PageReading&) = delete;
  // A reading that is not finished is abandoned: the helpers stop after
  // their current line and are waited for, so none outlives the page.
  ~PageReading() { stop_ = true; }  // the helpers' futures wait for them

  struct Lines {
    std::vector<TextCandidate> read;
    std::vector<Quad> ink;  // each line's ink, where the text is
  };

  // Reads the remaining lines with the first reader too and waits for the
  // helpers; a failure on any thread is rethrown here, after all have ended.
  Lines finish();

 private:
  void readShare(std::size_t reader);

  const FoundLines& found_;
  const std::vector<Quad>& crops_;
  std::vector<LineReader*> readers_;
  const std::vector<std::size_t> order_;
  std::vector<std::pair<std::size_t, std::size_t>> batches_;  // runs of order_
  std::vector<TextCandidate> read_;
  std::vector<Quad> ink_;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> stop_{false};
  std::vector<std::future<void>> helpers_;  // last: waited for before the rest goes
};

}  // namespace brindlewox
