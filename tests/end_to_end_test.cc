// Runs the built binary on generated files, as a parent application does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/run_binary.h"

namespace brindlewox {
namespace {

namespace fs = std::filesystem;
using testing::jsonString;
using testing::kModelFiles;
using testing::lines;
using testing::pageTexts;
using testing::readFile;
using testing::runBinary;
using testing::RunResult;

const std::string kData = BRINDLEWOX_TESTDATA;
const std::string kUsageLine =
    "OCR failed: Usage: brindlewox-ocr INPUT OUTPUT [--pages 1,2,3] [--progress-start 0] "
    "[--progress-end 100]\n";
const std::string kUnreadableLine = "OCR failed: The image or PDF could not be opened.\n";

std::string progress(int percent, int completed, int total) {
  return "BRINDLEWOX_PROGRESS {\"percent\":" + std::to_string(percent) +
         ",\"stage\":\"ocr\",\"completedPages\":" + std::to_string(completed) +
         ",\"totalPages\":" + std::to_string(total) + "}";
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { directory_ = testing::freshTestDirectory("brindlewox-e2e-"); }
  void TearDown() override { fs::remove_all(directory_); }

  std::string output() const { return (directory_ / "out.json").string(); }

  // Runs and checks what holds for every run: nothing on stdout, no signal,
  // and every stderr line a progress line or a failure line.
  RunResult run(const std::vector<std::string>& arguments) const {
    RunResult result = runBinary(arguments, directory_.string());
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.standardOutput, "");
    for (const std::string& line : lines(result.standardError)) {
      EXPECT_TRUE(line.rfind("BRINDLEWOX_PROGRESS {", 0) == 0 || line.rfind("OCR failed: ", 0) == 0)
          << line;
    }
    return result;
  }

  // Each turned page named by a suffix is read exactly as the upright page.
  void expectTurnedPagesReadUpright(const std::vector<std::string>& suffixes) const {
    const std::string english =
        "Quarterly report for the board\nRevenue grew by twelve percent\nCosts fell in every "
        "region\n"
        "The new office opens in March";
    const std::string chinese =
        "从今天开始我们将对所有的项目进行检查\n命令行工具可以帮助用户快速完成工作\n"
        "所有的配置文件都保存在用户目录中\n以上内容仅供参考";
    for (const auto& [name, text] :
         {std::pair{"turned_english", english}, std::pair{"turned_chinese", chinese}}) {
      for (const std::string& suffix : suffixes) {
        const std::string file = name + suffix;
        const RunResult result = run({kData + "/" + file, output()});
        ASSERT_EQ(result.exitStatus, 0) << file;
        EXPECT_EQ(pageTexts(readFile(output())), std::vector<std::string>{text}) << file;
      }
    }
  }

  std::size_t entries() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(directory_), fs::directory_iterator()));
  }

  fs::path directory_;
};

TEST_F(EndToEnd, MissingArgumentsGiveTheUsageLineAndCreateNothing) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, {kData + "/english.png"}}) {
    const RunResult result = run(arguments);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError, kUsageLine);
    EXPECT_EQ(entries(), 0U);
  }
}

TEST_F(EndToEnd, UnsupportedExtensionsAreNamedLowerCased) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"picture.GIF", "out.json"}, "OCR failed: OCR does not support .gif files.\n"},
      {{"notes.TXT", "out.json"}, "OCR failed: OCR does not support .txt files.\n"},
      {{"noextension", "out.json"}, "OCR failed: OCR does not support . files.\n"},
      {{"--pages", "1", kData + "/five_pages.pdf", "out.json"},
       "OCR failed: OCR does not support . files.\n"},
  };
  for (const auto& [arguments, line] : cases) {
    const RunResult result = run(arguments);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError, line);
  }
  EXPECT_EQ(entries(), 0U);
}

TEST_F(EndToEnd, AnExistingOutputSurvivesEveryFailure) {
  std::ofstream(output()) << "previous document";
  const std::vector<std::vector<std::string>> failing = {
      {"x.gif", output()},
      {kData + "/text_file.png", output()},
      {kData + "/not_a_pdf.pdf", output()},
      {kData + "/zero_width_page2.pdf", output()},
      {(directory_ / "missing.png").string(), output()},
  };
  for (const auto& arguments : failing) {
    const RunResult result = run(arguments);
    EXPECT_EQ(result.exitStatus, 1) << arguments[0];
    EXPECT_EQ(readFile(output()), "previous document") << arguments[0];
  }
  EXPECT_EQ(entries(), 1U);
}

TEST_F(EndToEnd, ReadsEnglishInEveryImageFormatWithTwoProgressLines) {
  for (const char* file :
       {"english.png", "english.jpg", "english.bmp", "english.webp", "english.tiff", "english.heic",
        "png_named.jpg", "exif_rotated.jpg", "transparent.png", "multipage.tiff"}) {
    const RunResult result =
        run({kData + "/" + file, output(), "--progress-start", "10", "--progress-end", "90"});
    ASSERT_EQ(result.exitStatus, 0) << file << ": " << result.standardError;
    EXPECT_EQ(lines(result.standardError),
              (std::vector<std::string>{progress(10, 0, 1), progress(90, 1, 1)}))
        << file;
    const std::string document = readFile(output());
    EXPECT_EQ(pageTexts(document),
              std::vector<std::string>{
                  "Quarterly report for the board\n\nRevenue grew by twelve percent"})
        << file;
    EXPECT_NE(document.find("\"pageCount\" : 1,"), std::string::npos) << file;
    EXPECT_NE(document.find("\"page\" : 1,"), std::string::npos) << file;
    EXPECT_EQ(document.back(), '}');
  }
}

// traditional_forms.png holds characters the network tends to write in
// their simplified form; a traditional line keeps them traditional.
TEST_F(EndToEnd, ReadsSimplifiedAndTraditionalChinese) {
  for (const auto& [file, text] :
       {std::pair{"simplified.png", "今天天气很好\n\n我们去公园散步"},
        std::pair{"traditional.png", "這是繁體中文測試\n\n經濟發展與環境保護"},
        std::pair{"traditional_forms.png", "我們的學校沒有問題\n\n這個價格很合理"}}) {
    const RunResult result = run({kData + "/" + file, output()});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(pageTexts(readFile(output())), std::vector<std::string>{text});
  }
}

// Tight screenshots of one line: the text runs to within 2 pixels of every
// edge, where the detector sees no margin of its own.
TEST_F(EndToEnd, ReadsAOneLineImageWholeAtEveryHeight) {
  for (const int height : {24, 32, 44, 64}) {
    for (const auto& [language, text] : {std::pair{"en", "Quarterly report for the board"},
                                         std::pair{"zh", "比较文学成为一个有缺陷的词"}}) {
      const std::string name =
          "line_" + std::string(language) + "_" + std::to_string(height) + ".png";
      const RunResult result = run({kData + "/" + name, output()});
      ASSERT_EQ(result.exitStatus, 0) << name;
      EXPECT_EQ(pageTexts(readFile(output())), std::vector<std::string>{text}) << name;
    }
  }
  const RunResult dark = run({kData + "/line_dark.png", output()});
  ASSERT_EQ(dark.exitStatus, 0);
  EXPECT_EQ(pageTexts(readFile(output())), std::vector<std::string>{"Invoice total"});
}

// At 16 pixels the text may be too small to read, but it never comes out as
// fragments: either the whole line or nothing.
TEST_F(EndToEnd, AVerySmallLineIsReadWholeOrNotAtAll) {
  for (const auto& [language, text] : {std::pair{"en", "Quarterly report for the board"},
                                       std::pair{"zh", "比较文学成为一个有缺陷的词"}}) {
    const std::string name = "line_" + std::string(language) + "_16.png";
    const RunResult result = run({kData + "/" + name, output()});
    ASSERT_EQ(result.exitStatus, 0) << name;
    const std::vector<std::string> texts = pageTexts(readFile(output()));
    ASSERT_EQ(texts.size(), 1U);
    EXPECT_TRUE(texts[0].empty() || texts[0] == text) << name << ": " << texts[0];
  }
}

// Dense single columns (10-point text on 12-point leading): neighbouring lines
// lie within the same-line tolerance and compare by their left edges, so
// lines that share the margin must report one left edge, whatever their
// first glyph, and be listed top to bottom. The scan is turned by 2 degrees.
TEST_F(EndToEnd, DenseColumnsComeOutTopToBottom) {
  const std::string english =
      "The committee met on Tuesday to review the annual\n"
      "of budget and the plans for the coming winter season.\n"
      "Water samples showed H2O levels within the limits,\n"
      "jumps in demand were expected after the new year,\n"
      "Arrangements for the spring term were approved.\n"
      "(see the minutes of the previous meeting for details)\n"
      "All members agreed.";
  const std::string chinese =
      "从今天开始我们将对所有的项目进行一次全面的检查和评估\n"
      "命令行工具可以帮助用户快速完成大量重复性的日常工作\n"
      "一般来说水的化学式是H2O并且在常温下为液体状态\n"
      "《用户手册》中详细说明了每一个选项的含义和用法\n"
      "（参见第三章）所有的配置文件都保存在用户目录中\n"
      "以上内容仅供参考。";
  for (const auto& [file, text] :
       {std::pair{"dense_english.pdf", english}, std::pair{"dense_english_skewed.png", english},
        std::pair{"dense_chinese.pdf", chinese}, std::pair{"dense_chinese_skewed.png", chinese}}) {
    const RunResult result = run({kData + "/" + file, output()});
    ASSERT_EQ(result.exitStatus, 0) << file;
    EXPECT_EQ(pageTexts(readFile(output())), std::vector<std::string>{text}) << file;
  }
}

// A page fed the wrong way round is read as if upright: turned by 90, 180
// and 270 degrees, as a scan and as a PDF page whose content is drawn turned.
// Two tests, so that the scans and the PDF pages (each minutes in the
// sanitizer build) run side by side.
TEST_F(EndToEnd, TurnedScansAreReadUpright) {
  expectTurnedPagesReadUpright({".png", "_90.png", "_180.png", "_270.png"});
}

TEST_F(EndToEnd, TurnedPDFPagesAreReadUpright) {
  expectTurnedPagesReadUpright({"_90.pdf", "_180.pdf", "_270.pdf"});
}

// Text running up an upright page (a margin label, turned table headers) is
// read the way it runs, and the page around it is not turned.
TEST_F(EndToEnd, AnUprightPageWithVerticalTextIsNotTurned) {
  ASSERT_EQ(run({kData + "/vertical_label.png", output()}).exitStatus, 0);
  EXPECT_EQ(pageTexts(readFile(output())),
            std::vector<std::string>{
                "Quarterly report for the board\nRevenue grew by twelve percent\n"
                "Costs fell in every region\nThe new office opens in March\n\nDRAFT COPY ONLY"});

  ASSERT_EQ(run({kData + "/turned_headers.png", output()}).exitStatus, 0);
  const std::vector<std::string> table = pageTexts(readFile(output()));
  ASSERT_EQ(table.size(), 1U);
  EXPECT_EQ(table[0].rfind("Figures by quarter\n", 0), 0U) << table[0];
  for (const char* cell : {"Revenue", "Expenses", "Balance", "1,120", "4,205", "8,327"}) {
    EXPECT_NE(table[0].find(cell), std::string::npos) << cell << " in " << table[0];
  }
}

// A heading, a paragraph whose first line is indented, and two short
// columns of two rows each 40 points apart: too narrow for text columns, so
// they are read row by row, as a table would be.
TEST_F(EndToEnd, IndentsHeadingsAndShortColumnsKeepTheirPlace) {
  const std::string text =
      "Annual Report\n\n"
      "Indented opening line of the paragraph here\n"
      "second line starts at the margin as usual\n"
      "third line starts at the margin as well\n\n"
      "Left column first\nRight column first\nLeft column second\nRight column second";
  for (const char* file : {"layout.pdf", "layout_skewed.png"}) {
    const RunResult result = run({kData + "/" + std::string(file), output()});
    ASSERT_EQ(result.exitStatus, 0) << file;
    EXPECT_EQ(pageTexts(readFile(output())), std::vector<std::string>{text}) << file;
  }
}

// Two columns under a title, their lines on shared baselines: the first
// column is read to its end before the second, as a PDF and as a scan
// turned by 2 degrees.
TEST_F(EndToEnd, ColumnsAreReadOneAfterTheOther) {
  const std::string english =
      "River Survey Results\n\n"
      "The survey of the river began in early May,\n"
      "when the water was still high after the rain.\n"
      "Teams walked along the banks from the mill\n"
      "down to the harbour and counted the birds.\n"
      "Most of the nests were found near the bridge,\n"
      "where the reeds grow thick in the summer.\n"
      "In the second week the teams took samples\n"
      "of the water at twelve points on the river.\n"
      "The samples were clean at every point but\n"
      "one, below the factory on the north bank.\n"
      "The council will check the water again soon\n"
      "and publish the results before the winter.";
  const std::string chinese =
      "河流调查报告\n\n"
      "五月初我们开始对这条河流进行调查\n"
      "当时雨后的河水仍然很高而且很急\n"
      "调查小组从旧磨坊一直走到港口边\n"
      "沿途记录了看到的每一种鸟类数量\n"
      "大部分鸟巢都在大桥附近被发现的\n"
      "那里夏天的芦苇长得又高又密\n"
      "第二周调查小组在河上十二个地点\n"
      "分别采集了水样并送到实验室化验\n"
      "结果显示几乎所有地点的水都干净\n"
      "只有北岸工厂下游的一个地点例外\n"
      "市政府决定在秋天再做一次检测\n"
      "并在冬天之前公布全部检测结果";
  for (const auto& [file, text] :
       {std::pair{"columns_english.pdf", english}, std::pair{"columns_english_skewed.png", english},
        std::pair{"columns_chinese.pdf", chinese},
        std::pair{"columns_chinese_skewed.png", chinese}}) {
    const RunResult result = run({kData + "/" + file, output()});
    ASSERT_EQ(result.exitStatus, 0) << file;
    EXPECT_EQ(pageTexts(readFile(output())), std::vector<std::string>{text}) << file;
  }
}

// A table of two wide columns (command | what it does), both sides wide
// enough to pass for text columns: read row by row, a wrapped description's
// second line kept with its row, not as two columns one after the other.
TEST_F(EndToEnd, ATableOfTwoWideColumnsIsReadRowByRow) {
  const RunResult result = run({kData + "/wide_table.pdf", output()});
  ASSERT_EQ(result.exitStatus, 0);
  EXPECT_EQ(pageTexts(readFile(output())),
            std::vector<std::string>{"Commands and what they do\n\n"
                                     "archive create --level 9 --threads 4\n"
                                     "Packs the chosen folders into one file\n"
                                     "archive list --long --sort by-date\n"
                                     "Shows every file in it with its size and\n"
                                     "the date on which it was last changed\n"
                                     "archive extract --keep --into here\n"
                                     "Unpacks the files, keeping the archive\n"
                                     "archive verify --strict --all-files\n"
                                     "Reads each file back to compare sums,\n"
                                     "stopping at the first file that differs\n"
                                     "archive delete --dry-run --verbose\n"
                                     "Names the files it would remove, stops"});
}

TEST_F(EndToEnd, ABlankImageGivesEmptyTextAndZeroConfidence) {
  const RunResult result = run({kData + "/blank.png", output()});
  ASSERT_EQ(result.exitStatus, 0);
  const std::string document = readFile(output());
  EXPECT_NE(document.find("\"confidence\" : 0,\n      \"page\" : 1,\n      \"text\" : \"\"\n"),
            std::string::npos)
      << document;
}

TEST_F(EndToEnd, AnUndecodableImageFailsAfterItsStartLine) {
  for (const std::string& input : {kData + "/text_file.png", (directory_ / "missing.webp").string(),
                                   directory_.string() + "/dir.png"}) {
    if (input.ends_with("dir.png")) fs::create_directory(input);
    const RunResult result =
        run({input, output(), "--progress-start", "40", "--progress-end", "40"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError, progress(40, 0, 1) + "\n" + kUnreadableLine) << input;
  }
  EXPECT_FALSE(fs::exists(output()));
}

TEST_F(EndToEnd, ConvertsEveryPageOfAPDFWithOneLinePerPage) {
  const RunResult result = run({kData + "/three_pages.pdf", output()});
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(
      lines(result.standardError),
      (std::vector<std::string>{progress(33, 1, 3), progress(67, 2, 3), progress(100, 3, 3)}));
  const std::string document = readFile(output());
  EXPECT_EQ(pageTexts(document),
            (std::vector<std::string>{"Page one is about apples", "今天天气很好\n我们去公园散步",
                                      "這是繁體中文測試\n經濟發展與環境保護"}));
  EXPECT_NE(document.find("\"pageCount\" : 3,"), std::string::npos);
}

TEST_F(EndToEnd, SelectedPagesComeInAscendingOrderAndKeepThePageCount) {
  const RunResult result = run({kData + "/five_pages.pdf", output(), "--pages", "3,1"});
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(lines(result.standardError),
            (std::vector<std::string>{progress(50, 1, 2), progress(100, 2, 2)}));
  const std::string document = readFile(output());
  EXPECT_EQ(pageTexts(document),
            (std::vector<std::string>{"This is page number one", "This is page number three"}));
  EXPECT_NE(document.find("\"pageCount\" : 5,"), std::string::npos);
  EXPECT_NE(document.find("\"page\" : 1,"), std::string::npos);
  EXPECT_NE(document.find("\"page\" : 3,"), std::string::npos);
}

TEST_F(EndToEnd, ASelectionBeyondTheDocumentGivesNoPagesAndNoProgress) {
  const RunResult result = run({kData + "/five_pages.pdf", output(), "--pages", "7"});
  ASSERT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.standardError, "");
  EXPECT_EQ(readFile(output()),
            "{\n  \"engine\" : \"macOS Vision\",\n  \"pageCount\" : 5,\n  \"pages\" : [\n\n  ]\n}");

  const RunResult partly = run({kData + "/three_pages.pdf", output(), "--pages", "2,9"});
  ASSERT_EQ(partly.exitStatus, 0);
  EXPECT_EQ(lines(partly.standardError), std::vector<std::string>{progress(100, 1, 1)});
}

TEST_F(EndToEnd, AnOptionBetweenThePathsBecomesTheOutputName) {
  const RunResult result = run({kData + "/five_pages.pdf", "--pages", "2", "ignored.json"});
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(pageTexts(readFile((directory_ / "--pages").string())),
            std::vector<std::string>{"This is page number two"});
}

TEST_F(EndToEnd, PDFFailuresNameThePageAndKeepEarlierProgress) {
  const RunResult notPDF = run({kData + "/not_a_pdf.pdf", output()});
  EXPECT_EQ(notPDF.exitStatus, 1);
  EXPECT_EQ(notPDF.standardError, kUnreadableLine);

  const RunResult zeroWidth = run({kData + "/zero_width_page2.pdf", output()});
  EXPECT_EQ(zeroWidth.exitStatus, 1);
  EXPECT_EQ(zeroWidth.standardError,
            progress(33, 1, 3) + "\nOCR failed: Could not render PDF page 2 for OCR.\n");
  EXPECT_FALSE(fs::exists(output()));
}

TEST_F(EndToEnd, RendersTheWholeMediaBoxFromItsOwnOrigin) {
  const RunResult result = run({kData + "/offset_media_box.pdf", output()});
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(pageTexts(readFile(output())),
            std::vector<std::string>{"INSIDE THE CROP BOX\n\nOUTSIDE THE CROP BOX"});
}

TEST_F(EndToEnd, DrawsRotatedPagesUpright) {
  const std::pair<const char*, const char*> cases[] = {
      {"rotate90.pdf", "LEFT WORDS\nRIGHT WORDS"},
      {"rotate270.pdf", "TURNED THE OTHER WAY"},
      {"rotate180.pdf", "UPSIDE DOWN TEXT"},
  };
  for (const auto& [file, text] : cases) {
    const RunResult result = run({kData + "/" + file, output()});
    ASSERT_EQ(result.exitStatus, 0) << file << ": " << result.standardError;
    EXPECT_EQ(pageTexts(readFile(output())), std::vector<std::string>{text}) << file;
  }
}

TEST_F(EndToEnd, AMissingEngineWorkerOrModelsAreNamedWithHowToRestoreThem) {
  // A copy of the binary away from the build tree's engine and models.
  const fs::path binary = directory_ / "brindlewox-ocr";
  fs::copy_file(BRINDLEWOX_BINARY, binary);
  auto runCopy = [&] {
    return runBinary({kData + "/english.png", output()}, directory_.string(), {}, binary.string());
  };
  const RunResult noEngine = runCopy();
  EXPECT_EQ(noEngine.exitStatus, 1);
  EXPECT_EQ(noEngine.standardError.rfind("OCR failed: The recognition engine \"", 0), 0U)
      << noEngine.standardError;
  EXPECT_NE(noEngine.standardError.find("libbrindlewox-engine.so"), std::string::npos);
  // Command-line failures never need the engine.
  EXPECT_EQ(runBinary({"x.gif", output()}, directory_.string(), {}, binary.string()).standardError,
            "OCR failed: OCR does not support .gif files.\n");

  fs::copy_file(BRINDLEWOX_ENGINE, directory_ / "libbrindlewox-engine.so");
  const RunResult noWorker = runCopy();
  EXPECT_EQ(noWorker.exitStatus, 1);
  const std::string noWorkerLine = lines(noWorker.standardError).back();
  EXPECT_EQ(noWorkerLine.rfind("OCR failed: The decoding worker \"", 0), 0U) << noWorkerLine;
  EXPECT_NE(noWorkerLine.find("brindlewox-ocr-image-decoder\" could not be started"),
            std::string::npos)
      << noWorkerLine;
  EXPECT_NE(noWorkerLine.find("Reinstall brindlewox-ocr"), std::string::npos) << noWorkerLine;

  fs::copy_file(BRINDLEWOX_IMAGE_WORKER, directory_ / "brindlewox-ocr-image-decoder");
  const RunResult missing = runCopy();
  EXPECT_EQ(missing.exitStatus, 1);
  const std::string missingLine = lines(missing.standardError).back();
  EXPECT_NE(missingLine.find("ppocrv4_det_opencv.onnx\" is missing"), std::string::npos)
      << missingLine;
  EXPECT_NE(missingLine.find("Reinstall brindlewox-ocr"), std::string::npos) << missingLine;

  fs::create_directory(directory_ / "models");
  for (const char* name : kModelFiles) {
    std::ofstream(directory_ / "models" / name) << "not a model";
  }
  const RunResult damaged = runCopy();
  EXPECT_EQ(damaged.exitStatus, 1);
  const std::string damagedLine = lines(damaged.standardError).back();
  EXPECT_NE(damagedLine.find("ppocrv4_det_opencv.onnx\" is damaged"), std::string::npos)
      << damagedLine;
  EXPECT_FALSE(fs::exists(output()));
}

}  // namespace
}  // namespace brindlewox
