#include "document/ocr_document.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "document/json_text.h"
#include "document/ocr_error.h"
#include "document/progress_event.h"

namespace brindlewox {
namespace {

TEST(EncodeDocument, ReproducesTheReferenceLayoutByteForByte) {
  const OCRDocument document{
      kEngineName, 5, {OCRPage{2, "Minutes of 12/05\nApproved", 0.5}, OCRPage{4, "", 0.0}}};
  const Result<std::string> encoded = encodeDocument(document);
  ASSERT_TRUE(encoded.ok());
  EXPECT_EQ(encoded.value(),
            "{\n"
            "  \"engine\" : \"macOS Vision\",\n"
            "  \"pageCount\" : 5,\n"
            "  \"pages\" : [\n"
            "    {\n"
            "      \"confidence\" : 0.5,\n"
            "      \"page\" : 2,\n"
            "      \"text\" : \"Minutes of 12\\/05\\nApproved\"\n"
            "    },\n"
            "    {\n"
            "      \"confidence\" : 0,\n"
            "      \"page\" : 4,\n"
            "      \"text\" : \"\"\n"
            "    }\n"
            "  ]\n"
            "}");
}

TEST(EncodeDocument, KeepsPageCountWithAnEmptyPageList) {
  const Result<std::string> encoded = encodeDocument(OCRDocument{kEngineName, 7, {}});
  ASSERT_TRUE(encoded.ok());
  EXPECT_EQ(encoded.value(),
            "{\n  \"engine\" : \"macOS Vision\",\n  \"pageCount\" : 7,\n  \"pages\" : [\n\n  ]\n}");
}

TEST(EncodeDocument, RefusesNonFiniteConfidence) {
  for (const double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    const Result<std::string> encoded =
        encodeDocument(OCRDocument{kEngineName, 1, {OCRPage{1, "x", bad}}});
    ASSERT_FALSE(encoded.ok());
    EXPECT_NE(localizedDescription(encoded.failure()).find("finite"), std::string::npos);
  }
}

TEST(JSONText, EscapesExactlyTheRequiredCharacters) {
  std::string out;
  appendJSONString(out, "q\"b\\s/n\nr\rt\tb\bf\fc\x01\x1f del\x7f \xc3\xa9\xe4\xb8\xad");
  EXPECT_EQ(out,
            "\"q\\\"b\\\\s\\/n\\nr\\rt\\tb\\bf\\fc\\u0001\\u001f del\x7f \xc3\xa9\xe4\xb8\xad\"");
}

TEST(JSONText, WritesShortestRoundTripNumbers) {
  EXPECT_EQ(jsonNumber(0.0), "0");
  EXPECT_EQ(jsonNumber(-0.0), "0");
  EXPECT_EQ(jsonNumber(1.0), "1");
  EXPECT_EQ(jsonNumber(0.5), "0.5");
  EXPECT_EQ(jsonNumber(0.75), "0.75");
  const double widened = static_cast<double>(0.3F);
  ASSERT_TRUE(jsonNumber(widened).has_value());
  EXPECT_EQ(*jsonNumber(widened), "0.30000001192092896");
  EXPECT_EQ(std::stod(*jsonNumber(0.1 + 0.2)), 0.1 + 0.2);
  EXPECT_FALSE(jsonNumber(std::nan("")).has_value());
  EXPECT_FALSE(jsonNumber(-std::numeric_limits<double>::infinity()).has_value());
}

TEST(OCRError, HasTheFixedMessages) {
  EXPECT_EQ(OCRError::unsupportedType("gif").errorDescription(),
            "OCR does not support .gif files.");
  EXPECT_EQ(OCRError::unsupportedType("").errorDescription(), "OCR does not support . files.");
  EXPECT_EQ(OCRError::pageRenderFailed(3).errorDescription(),
            "Could not render PDF page 3 for OCR.");
  const std::string usage = OCRError::invalidArguments().errorDescription();
  EXPECT_EQ(usage,
            "Usage: brindlewox-ocr INPUT OUTPUT [--pages 1,2,3] [--progress-start 0] "
            "[--progress-end 100]");
  EXPECT_EQ(usage.size(), 92U);
  EXPECT_EQ(OCRError::unreadableInput().errorDescription(),
            "The image or PDF could not be opened.");
  EXPECT_EQ(localizedDescription(PlatformError{"disk full \xe2\x80\x94 sorry"}),
            "disk full \xe2\x80\x94 sorry");
}

TEST(Progress, LineIsMarkerThenCompactJSONThenOneLineFeed) {
  const std::string line = progressLine(makeProgressEvent(10, "ocr", 0, 1));
  EXPECT_EQ(line,
            "BRINDLEWOX_PROGRESS "
            "{\"percent\":10,\"stage\":\"ocr\",\"completedPages\":0,\"totalPages\":1}\n");
  EXPECT_EQ(line.find('{'), 20U);
}

TEST(Progress, ClampsPercentOnlyAndEscapesTheStage) {
  EXPECT_EQ(makeProgressEvent(-5, "ocr", 0, 1).percent, 0);
  EXPECT_EQ(makeProgressEvent(250, "ocr", 0, 1).percent, 100);
  EXPECT_EQ(makeProgressEvent(0, "ocr", 0, 1).percent, 0);
  EXPECT_EQ(makeProgressEvent(100, "ocr", 0, 1).percent, 100);
  const ProgressEvent odd = makeProgressEvent(50, "a\"b/c\nd", -2, 1);
  EXPECT_EQ(odd.completedPages, -2);
  const std::string line = progressLine(odd);
  EXPECT_EQ(
      line,
      "BRINDLEWOX_PROGRESS "
      "{\"percent\":50,\"stage\":\"a\\\"b\\/c\\nd\",\"completedPages\":-2,\"totalPages\":1}\n");
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_NE(progressLine(makeProgressEvent(5, "ocr", 7, 3))
                .find("\"completedPages\":7,\"totalPages\":3}"),
            std::string::npos);
}

}  // namespace
}  // namespace brindlewox
