#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/page_rendering.h"
#include "pipeline/pdf_conversion.h"

namespace brindlewox {
namespace {

TEST(RenderSize, MatchesTheWorkedSizes) {
  struct Case {
    double width, height, scale;
    int pixelWidth, pixelHeight;
  };
  const Case cases[] = {
      {612, 792, 2.6, 1592, 2060},
      {792, 612, 2.6, 2060, 1592},
      {595, 842, 2.6, 1547, 2190},
      {1230, 1230, 2.6, 3198, 3198},
      {1231, 1231, 3200.0 / 1231, 3200, 3200},
      {1248, 1000, 3200.0 / 1248, 3201, 2565},
      {2000, 1000, 1.6, 3200, 1600},
      {10000, 10, 0.32, 3200, 4},
      {0.1, 0.1, 2.6, 1, 1},
  };
  for (const Case& c : cases) {
    const std::optional<RenderSize> size = renderSize(c.width, c.height);
    ASSERT_TRUE(size.has_value()) << c.width << "x" << c.height;
    EXPECT_DOUBLE_EQ(size->scale, c.scale) << c.width << "x" << c.height;
    EXPECT_EQ(size->pixelWidth, c.pixelWidth) << c.width << "x" << c.height;
    EXPECT_EQ(size->pixelHeight, c.pixelHeight) << c.width << "x" << c.height;
  }
}

TEST(RenderSize, RefusesSidesThatAreNotPositiveAndFinite) {
  const double nan = std::nan("");
  const double infinity = std::numeric_limits<double>::infinity();
  for (const auto& [width, height] : {std::pair{0.0, 792.0},
                                      {612.0, 0.0},
                                      {nan, 792.0},
                                      {612.0, nan},
                                      {infinity, 792.0},
                                      {612.0, infinity},
                                      {0.0, 0.0}}) {
    EXPECT_FALSE(renderSize(width, height).has_value()) << width << "x" << height;
  }
  // Page boxes are taken by magnitude, whatever corner they were written from.
  EXPECT_EQ(renderSize(-612, 792)->pixelWidth, 1592);
}

TEST(RenderSize, ExchangesSidesForQuarterTurns) {
  for (const int rotation : {90, 270}) {
    const std::optional<RenderSize> size = renderSize(612, 792, rotation);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->pixelWidth, 2060);
    EXPECT_EQ(size->pixelHeight, 1592);
    EXPECT_DOUBLE_EQ(size->scale, 2.6);
  }
  for (const int rotation : {0, 180}) {
    EXPECT_EQ(renderSize(612, 792, rotation)->pixelWidth, 1592);
  }
  EXPECT_EQ(renderSize(1248, 1000, 90)->pixelHeight, 3201);
}

TEST(PDFWorkList, KeepsSelectedExistingPagesInAscendingOrder) {
  using Pages = std::vector<std::int64_t>;
  EXPECT_EQ(pdfWorkList(3, std::nullopt), (Pages{1, 2, 3}));
  EXPECT_EQ(pdfWorkList(5, std::set<std::int64_t>{3, 1}), (Pages{1, 3}));
  EXPECT_EQ(pdfWorkList(5, std::set<std::int64_t>{7}), Pages{});
  EXPECT_EQ(pdfWorkList(5, std::set<std::int64_t>{}), Pages{});
  EXPECT_EQ(pdfWorkList(3, std::set<std::int64_t>{2, 9}), Pages{2});
  EXPECT_EQ(pdfWorkList(3, std::set<std::int64_t>{-1, 0, 3}), Pages{3});
  EXPECT_EQ(pdfWorkList(0, std::nullopt), Pages{});
}

std::vector<std::int64_t> percents(std::int64_t start, std::int64_t end, std::int64_t total) {
  std::vector<std::int64_t> out;
  for (std::int64_t completed = 1; completed <= total; ++completed) {
    out.push_back(progressPercent(start, end, completed, total));
  }
  return out;
}

TEST(ProgressPercent, MatchesTheWorkedSequences) {
  using P = std::vector<std::int64_t>;
  EXPECT_EQ(percents(0, 100, 1), (P{100}));
  EXPECT_EQ(percents(0, 100, 3), (P{33, 67, 100}));
  EXPECT_EQ(percents(0, 100, 4), (P{25, 50, 75, 100}));
  EXPECT_EQ(percents(0, 100, 7), (P{14, 29, 43, 57, 71, 86, 100}));
  EXPECT_EQ(percents(0, 100, 8), (P{13, 25, 38, 50, 63, 75, 88, 100}));  // 12.5 rounds up
  EXPECT_EQ(percents(10, 90, 3), (P{37, 63, 90}));
  EXPECT_EQ(percents(20, 60, 6), (P{27, 33, 40, 47, 53, 60}));
  EXPECT_EQ(percents(50, 50, 2), (P{50, 50}));
}

// What the page-ahead loop did, in order, from both of its threads.
class PageLog {
 public:
  void add(const std::string& event) {
    const std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    changed_.notify_all();
  }
  // Whether `event` happens within two seconds.
  bool awaits(const std::string& event) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(2), [&] {
      return std::find(events_.begin(), events_.end(), event) != events_.end();
    });
  }
  std::vector<std::string> events() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::ptrdiff_t position(const std::string& event) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = std::find(events_.begin(), events_.end(), event);
    return found == events_.end() ? -1 : found - events_.begin();
  }
  std::atomic<int> alive{0};
  std::atomic<int> mostAlive{0};

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
};

// A drawn page: logs when it goes, and counts how many are held at once.
class DrawnPage {
 public:
  DrawnPage(PageLog& log, std::int64_t page) : log_(&log), page_(page) {
    const int now = ++log.alive;
    int most = log.mostAlive;
    while (now > most && !log.mostAlive.compare_exchange_weak(most, now)) {
    }
  }
  DrawnPage(DrawnPage&& other) noexcept
      : log_(std::exchange(other.log_, nullptr)), page_(other.page_) {}
  DrawnPage& operator=(DrawnPage&&) = delete;
  DrawnPage(const DrawnPage&) = delete;
  DrawnPage& operator=(const DrawnPage&) = delete;
  ~DrawnPage() {
    if (log_ == nullptr) return;
    --log_->alive;
    log_->add("drop " + std::to_string(page_));
  }
  std::int64_t page() const { return page_; }

 private:
  PageLog* log_;
  std::int64_t page_;
};

struct PagesAhead {
  PageLog log;
  std::int64_t failingDraw = 0;
  std::int64_t failingRead = 0;
  std::vector<std::int64_t> done;

  Result<std::vector<OCRPage>> run(const std::vector<std::int64_t>& pages) {
    auto draw = [this](std::int64_t page) -> Result<DrawnPage> {
      if (page == failingDraw) {
        log.add("draw " + std::to_string(page));
        return OCRError::pageRenderFailed(page);
      }
      // Held before it is logged, so that a reader who has seen "draw k"
      // knows page k is held: logged first, the reader could let its own
      // page go before this one was made, and two were never seen at once.
      DrawnPage drawn(log, page);
      log.add("draw " + std::to_string(page));
      return drawn;
    };
    auto read = [this, &pages](DrawnPage drawn, std::int64_t page) -> Result<OCRPage> {
      if (drawn.page() != page) return PlatformError{"read a page other than the one drawn"};
      log.add("read " + std::to_string(page));
      // The next page is drawn while this one is read: wait for it.
      if (page != pages.back() && !log.awaits("draw " + std::to_string(page + 1))) {
        log.add("not ahead at " + std::to_string(page));
      }
      if (page == failingRead) return PlatformError{"recognition failed"};
      return OCRPage{page, "page " + std::to_string(page), 0.5};
    };
    return readPagesAhead<DrawnPage>(pages, draw, read,
                                     [this](std::int64_t count) { done.push_back(count); });
  }
};

TEST(PagesAhead, ComeOutInOrderWithTheNextPageDrawnDuringTheReadingAndNoFurther) {
  PagesAhead ahead;
  const Result<std::vector<OCRPage>> pages = ahead.run({1, 2, 3, 4, 5});
  ASSERT_TRUE(pages.ok());
  ASSERT_EQ(pages.value().size(), 5U);
  for (std::int64_t i = 0; i < 5; ++i) {
    EXPECT_EQ(pages.value()[static_cast<std::size_t>(i)].page, i + 1);
    EXPECT_EQ(pages.value()[static_cast<std::size_t>(i)].text, "page " + std::to_string(i + 1));
  }
  EXPECT_EQ(ahead.done, (std::vector<std::int64_t>{1, 2, 3, 4, 5}));
  for (int page = 1; page <= 5; ++page) {
    EXPECT_EQ(ahead.log.position("not ahead at " + std::to_string(page)), -1) << page;
  }
  // Page k goes before page k + 2 is drawn: at most two pages are held.
  for (int page = 1; page <= 3; ++page) {
    EXPECT_LT(ahead.log.position("drop " + std::to_string(page)),
              ahead.log.position("draw " + std::to_string(page + 2)));
  }
  EXPECT_EQ(ahead.log.mostAlive, 2);
  EXPECT_EQ(ahead.log.alive, 0);
  EXPECT_TRUE(
      readPagesAhead<DrawnPage>(
          {}, [](std::int64_t) -> Result<DrawnPage> { return OCRError::invalidArguments(); },
          [](DrawnPage, std::int64_t) -> Result<OCRPage> { return OCRPage{}; }, [](std::int64_t) {})
          .value()
          .empty());
}

TEST(PagesAhead, APageThatFailsToDrawFailsAsItselfAfterThePagesBeforeItAreRead) {
  PagesAhead ahead;
  ahead.failingDraw = 3;
  const Result<std::vector<OCRPage>> pages = ahead.run({1, 2, 3, 4});
  ASSERT_FALSE(pages.ok());
  EXPECT_EQ(localizedDescription(pages.failure()),
            localizedDescription(OCRError::pageRenderFailed(3)));
  EXPECT_EQ(ahead.done, (std::vector<std::int64_t>{1, 2}));
  EXPECT_GE(ahead.log.position("read 2"), 0);
  EXPECT_EQ(ahead.log.position("read 3"), -1);
  EXPECT_EQ(ahead.log.position("draw 4"), -1);
  EXPECT_EQ(ahead.log.alive, 0);

  // A page whose reading fails stops the run there, its own failure unchanged.
  PagesAhead failingRead;
  failingRead.failingRead = 2;
  const Result<std::vector<OCRPage>> stopped = failingRead.run({1, 2, 3, 4});
  ASSERT_FALSE(stopped.ok());
  EXPECT_EQ(localizedDescription(stopped.failure()), "recognition failed");
  EXPECT_EQ(failingRead.done, (std::vector<std::int64_t>{1}));
  EXPECT_EQ(failingRead.log.position("read 3"), -1);
  EXPECT_EQ(failingRead.log.alive, 0);
}

}  // namespace
}  // namespace brindlewox
