// The decoding worker gives the tool the very pixels drawing in-process
// gives: the same fonts found, the same codecs, nothing lost in the
// hand-over. A filter that refused what fontconfig or Poppler read while
// drawing would change the text's shapes here first.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/landlock.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

#include "pipeline/page_rendering.h"
#include "platform/image/bitmap_pixels.h"
#include "platform/image/image_decoder.h"
#include "platform/pdf/pdf_document.h"
#include "platform/worker/confinement.h"
#include "platform/worker/decoding_worker.h"
#include "platform/worker/page_server.h"
#include "platform/worker/worker_process.h"
#include "platform/worker/worker_protocol.h"
#include "platform/worker/worker_run.h"

namespace brindlewox {
namespace {

const std::string kData = BRINDLEWOX_TESTDATA;

std::chrono::steady_clock::time_point aMinute() {
  return std::chrono::steady_clock::now() + std::chrono::minutes(1);
}

void expectSamePixels(const Bitmap& got, const Bitmap& want) {
  ASSERT_EQ(got.width(), want.width());
  ASSERT_EQ(got.height(), want.height());
  EXPECT_EQ(cv::norm(got.pixels().bgr, want.pixels().bgr, cv::NORM_INF), 0.0);
}

TEST(DecodingWorker, DrawsEveryPageAsThisProcessDoes) {
  // Standard fonts found through fontconfig, embedded CJK fonts, a turned page, bilevel scans.
  for (const char* file : {"rotate90.pdf", "columns_chinese.pdf", "bilevel_scans.pdf"}) {
    SCOPED_TRACE(file);
    Result<DecodingWorker> worker = DecodingWorker::openPDF(kData + "/" + file);
    Result<PDFDocument> document = PDFDocument::open(kData + "/" + file);
    ASSERT_TRUE(worker);
    ASSERT_TRUE(document);
    ASSERT_EQ(worker.value().pageCount(), document.value().pageCount());
    for (std::int64_t number = 1; number <= document.value().pageCount(); ++number) {
      const Result<Bitmap> drawn = renderPDFPage(worker.value(), number);
      const std::optional<PDFPage> page = document.value().page(number - 1);
      ASSERT_TRUE(page);
      const Result<Bitmap> own = renderPDFPage(document.value(), *page, number);
      ASSERT_TRUE(drawn);
      ASSERT_TRUE(own);
      expectSamePixels(drawn.value(), own.value());
    }
    // A page past the end fails that page, and the worker still answers.
    EXPECT_FALSE(worker.value().describePage(document.value().pageCount() + 1, aMinute()));
    EXPECT_TRUE(worker.value().describePage(1, aMinute()));
  }
}

// The worker's side of a request, with page numbers no document has: each
// is a failed reply with no pixels (the smallest once overflowed on its way
// to a page index).
TEST(DecodingWorker, AnswersPageNumbersOutsideTheDocumentWithAFailure) {
  Result<PDFDocument> document = PDFDocument::open(kData + "/rotate90.pdf");
  ASSERT_TRUE(document);
  for (const std::int64_t number :
       {std::int64_t{0}, std::int64_t{-1}, document.value().pageCount() + 1,
        std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()}) {
    SCOPED_TRACE(number);
    for (const worker::Command command :
         {worker::Command::describePage, worker::Command::drawPage}) {
      worker::Request request;
      request.command = command;
      request.page = number;
      request.scale = 1;
      request.width = 100;
      request.height = 100;
      UniqueFd pixels;
      EXPECT_EQ(worker::answer(document.value(), request, pixels).outcome, worker::Outcome::failed);
      EXPECT_FALSE(pixels.valid());
    }
  }
}

TEST(DecodingWorker, DecodesEveryImageFormatAsThisProcessDoes) {
  for (const char* file : {"english.png", "english.jpg", "english.tiff", "english.bmp",
                           "english.webp", "english.heic", "exif_rotated.jpg"}) {
    SCOPED_TRACE(file);
    const Result<Bitmap> decoded = DecodingWorker::decodeImage(kData + "/" + file);
    const Result<Bitmap> own = imageFromFile(kData + "/" + file);
    ASSERT_TRUE(decoded);
    ASSERT_TRUE(own);
    expectSamePixels(decoded.value(), own.value());
  }
  EXPECT_FALSE(DecodingWorker::decodeImage(kData + "/hostile_gif_named.png"));
  EXPECT_FALSE(DecodingWorker::decodeImage(kData + "/no such file.png"));
}

// An allocation the worker's address-space limit refuses ends the worker
// with its own status, every time. Left to return null, it let Poppler draw
// a soft mask nested in itself down to one-pixel groups now and then, and
// the page came back blank, as if read. Seen without reaping, so that the
// handle still ends the process it owns. At this size the page came back
// drawn on every try.
TEST(DecodingWorker, EndsWhenAnAllocationIsRefused) {
#ifdef BRINDLEWOX_SANITIZED
  GTEST_SKIP() << "the sanitizer's allocator stands in for glibc's";
#endif
  std::optional<WorkerProcess> started =
      WorkerProcess::start(WorkerKind::pdf, kData + "/hostile_contained_pages.pdf");
  ASSERT_TRUE(started);
  worker::ReplyRecord opened{};
  ASSERT_EQ(worker::receiveRecord(started->socket(), opened.data(), opened.size()).size,
            opened.size());
  worker::Request draw;
  draw.command = worker::Command::drawPage;
  draw.page = 2;
  draw.scale = 4;
  draw.width = 612 * 4;
  draw.height = 792 * 4;
  const worker::RequestRecord record = worker::encode(draw);
  ASSERT_TRUE(worker::sendRecord(started->socket(), record.data(), record.size()));
  worker::ReplyRecord reply{};
  ASSERT_EQ(worker::receiveRecord(started->socket(), reply.data(), reply.size()).size, 0U)
      << "the page was drawn";
  siginfo_t ended{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(started->id()), &ended, WEXITED | WNOWAIT), 0);
  EXPECT_EQ(ended.si_code, CLD_EXITED);
  EXPECT_EQ(ended.si_status, worker::kOutOfMemoryStatus);
}

// The front end starts the worker before the engine loads and hands it
// over: the conversation goes on with that process. A worker of the other
// kind is not used (one of the right kind is started), and one dropped
// unused is killed and reaped, not left running or as a zombie.
TEST(DecodingWorker, TakesAWorkerStartedBeforehandAndEndsOneDroppedUnused) {
  // Started on one image and handed over with another's name: the pixels
  // that come back are the started worker's, so it was the one asked.
  const std::string image = kData + "/english.png";
  std::optional<WorkerProcess> started = WorkerProcess::start(WorkerKind::image, image);
  ASSERT_TRUE(started);
  const pid_t id = started->id();
  ASSERT_GT(id, 0);
  const Result<Bitmap> decoded =
      DecodingWorker::decodeImage(kData + "/exif_rotated.jpg", std::move(started));
  const Result<Bitmap> own = imageFromFile(image);
  ASSERT_TRUE(decoded);
  ASSERT_TRUE(own);
  expectSamePixels(decoded.value(), own.value());
  EXPECT_EQ(::waitpid(id, nullptr, WNOHANG), -1);  // the handle reaped it when done

  const std::string pdf = kData + "/rotate90.pdf";
  Result<DecodingWorker> document =
      DecodingWorker::openPDF(pdf, WorkerProcess::start(WorkerKind::image, pdf));
  ASSERT_TRUE(document);
  EXPECT_GT(document.value().pageCount(), 0);

  pid_t dropped = -1;
  {
    std::optional<WorkerProcess> unused = WorkerProcess::start(WorkerKind::pdf, pdf);
    ASSERT_TRUE(unused);
    dropped = unused->id();
    EXPECT_EQ(::waitpid(dropped, nullptr, WNOHANG), 0);  // running
  }
  EXPECT_EQ(::waitpid(dropped, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

// Once restricted, a PDF's worker reads fonts as before and nothing outside
// the folders drawing reads: a file beside the test (as a user's documents
// would be) cannot be opened, nor can anything be opened to write. An
// image's worker reads no fonts either. Checked in a child each, since the
// restriction cannot be lifted.
TEST(DecodingWorker, ReadsOnlyWhereDecodingReads) {
  if (::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION) < 1) {
    GTEST_SKIP() << "this kernel has no Landlock";
  }
  std::string made =
      (std::filesystem::temp_directory_path() / "brindlewox-landlock-XXXXXX").string();
  ASSERT_NE(::mkdtemp(made.data()), nullptr);
  const std::filesystem::path directory = made;
  const std::string secret = (directory / "secret.txt").string();
  std::ofstream(secret) << "not for the worker";
  const std::string font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  ASSERT_TRUE(std::filesystem::exists(font));
  for (const bool fonts : {true, false}) {
    SCOPED_TRACE(fonts ? "a PDF's worker" : "an image's worker");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int code = 0;
      if (!worker::restrictReading(fonts)) code |= 1;
      const int fontFile = ::open(font.c_str(), O_RDONLY | O_CLOEXEC);
      if ((fontFile >= 0) != fonts) code |= 2;
      const int secretFile = ::open(secret.c_str(), O_RDONLY | O_CLOEXEC);
      if (secretFile >= 0 || errno != EACCES) code |= 4;
      const int written =
          ::open((directory / "new.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      if (written >= 0) code |= 8;
      ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status) & 1, 0) << "the kernel refused the rules";
    EXPECT_EQ(WEXITSTATUS(status) & 2, 0)
        << "fonts readable where they should not be, or not where they should";
    EXPECT_EQ(WEXITSTATUS(status) & 4, 0) << "a file outside the allowed folders was read";
    EXPECT_EQ(WEXITSTATUS(status) & 8, 0) << "a file was created";
  }
  EXPECT_FALSE(std::filesystem::exists(directory / "new.txt"));
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace brindlewox
