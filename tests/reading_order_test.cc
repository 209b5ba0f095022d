#include "pipeline/reading_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace brindlewox {
namespace {

// A page laid out by hand, in page units with y down from the top (as one
// measures a printed page), on a square page unless told otherwise.
class Page {
 public:
  void add(const std::string& text, double left, double top, double right, double bottom,
           bool vertical = false) {
    pieces_.push_back({NormalizedBox{left, 1.0 - bottom, right - left, bottom - top},
                       TextCandidate{text, 1.0F}, vertical});
  }

  // A column of `count` lines named prefix1, prefix2, ..., each filling the
  // column but the last of every `paragraph` lines.
  void column(const std::string& prefix, double left, double right, double top, int count,
              double pitch = 0.02, int paragraph = 6) {
    for (int i = 0; i < count; ++i) {
      const double lineTop = top + i * pitch;
      const bool last = (i + 1) % paragraph == 0;
      add(prefix + std::to_string(i + 1), left, lineTop, last ? left + (right - left) * 0.3 : right,
          lineTop + pitch * 0.7);
    }
  }

  std::vector<std::string> read(double aspect = 1.0) const { return textsIn(pieces_, aspect); }

  static std::vector<std::string> textsIn(const std::vector<TextObservation>& pieces,
                                          double aspect) {
    std::vector<std::string> texts;
    for (const std::size_t i : readingOrder(pieces, aspect))
      texts.push_back(pieces[i].best->string);
    return texts;
  }

  std::vector<TextObservation>& pieces() { return pieces_; }

 private:
  std::vector<TextObservation> pieces_;
};

std::vector<std::string> names(const std::string& prefix, int count) {
  std::vector<std::string> result;
  for (int i = 1; i <= count; ++i) result.push_back(prefix + std::to_string(i));
  return result;
}

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> result;
  for (const std::vector<std::string>& part : parts)
    result.insert(result.end(), part.begin(), part.end());
  return result;
}

TEST(ReadingOrder, DenseColumnReadsTopToBottomWhateverTheLeftEdges) {
  // A pitch of 0.011 of the page, lines touching; every other line starts
  // further left than the one above it (a hanging indent, a quotation).
  Page page;
  for (int i = 0; i < 70; ++i) {
    const double top = 0.05 + i * 0.011;
    page.add("line" + std::to_string(i + 1), i % 2 == 0 ? 0.12 : 0.10, top, 0.9, top + 0.011);
  }
  EXPECT_EQ(page.read(), names("line", 70));
}

TEST(ReadingOrder, ColumnsAreReadOneAfterTheOtherBetweenASpanningTitleAndCaption) {
  // The columns share their baselines, so each row alone looks like one line
  // across the gutter; a figure's caption spans both columns below them.
  Page two;
  two.add("title", 0.2, 0.04, 0.8, 0.07);
  two.column("left", 0.08, 0.47, 0.10, 30);
  two.column("right", 0.53, 0.92, 0.10, 30);
  two.add("caption", 0.1, 0.75, 0.9, 0.77);
  EXPECT_EQ(two.read(), joined({{"title"}, names("left", 30), names("right", 30), {"caption"}}));

  // Three columns whose lines do not line up, a title above, a page number below.
  Page three;
  three.add("title", 0.3, 0.03, 0.7, 0.06);
  three.column("a", 0.05, 0.31, 0.10, 25, 0.022);
  three.column("b", 0.36, 0.63, 0.107, 24, 0.024);
  three.column("c", 0.68, 0.95, 0.113, 20, 0.02);
  three.add("7", 0.49, 0.95, 0.51, 0.97);
  EXPECT_EQ(three.read(),
            joined({{"title"}, names("a", 25), names("b", 24), names("c", 20), {"7"}}));
}

TEST(ReadingOrder, ReceiptsTablesAndFormsStayRowByRow) {
  // A receipt: each item with its price at the right margin.
  Page receipt;
  std::vector<std::string> expected;
  for (int i = 0; i < 12; ++i) {
    const double top = 0.2 + i * 0.03;
    receipt.add("item" + std::to_string(i), 0.1, top, 0.1 + 0.05 * (i % 4 + 2), top + 0.02);
    receipt.add("price" + std::to_string(i), 0.75, top + 0.002, 0.85, top + 0.022);
    expected.insert(expected.end(), {"item" + std::to_string(i), "price" + std::to_string(i)});
  }
  EXPECT_EQ(receipt.read(), expected);

  // A two-column table of short cells, the second column ragged.
  Page table;
  expected.clear();
  for (int i = 0; i < 10; ++i) {
    const double top = 0.3 + i * 0.025;
    table.add("key" + std::to_string(i), 0.15, top, 0.35, top + 0.018);
    table.add("value" + std::to_string(i), 0.5, top, 0.55 + 0.03 * (i % 5), top + 0.018);
    expected.insert(expected.end(), {"key" + std::to_string(i), "value" + std::to_string(i)});
  }
  EXPECT_EQ(table.read(), expected);

  // A form: labels, each with its value beside it, some values a little higher or lower.
  Page form;
  expected.clear();
  for (int i = 0; i < 8; ++i) {
    const double top = 0.1 + i * 0.05;
    form.add("label" + std::to_string(i), 0.1, top, 0.25, top + 0.02);
    form.add("value" + std::to_string(i), 0.3, top + (i % 2 == 0 ? 0.006 : -0.006), 0.6,
             top + 0.02);
    expected.insert(expected.end(), {"label" + std::to_string(i), "value" + std::to_string(i)});
  }
  EXPECT_EQ(form.read(), expected);

  // A form whose labels and answers are both long enough to pass for text
  // columns: its rows are set apart and line up across the gutter, each
  // answer a little out of level with its label, so it is read row by row.
  Page wideForm;
  expected.clear();
  for (int i = 0; i < 10; ++i) {
    const double top = 0.1 + i * 0.045;
    const double shift = i % 2 == 0 ? 0.004 : -0.003;
    wideForm.add("question" + std::to_string(i), 0.05, top, 0.33 + 0.02 * (i % 3), top + 0.015);
    wideForm.add("answer" + std::to_string(i), 0.5, top + shift, 0.8 + 0.04 * (i % 3),
                 top + shift + 0.015);
    expected.insert(expected.end(), {"question" + std::to_string(i), "answer" + std::to_string(i)});
  }
  EXPECT_EQ(wideForm.read(), expected);
}

TEST(ReadingOrder, ATableOfTwoWideColumnsIsReadRowByRow) {
  // File | description: both sides wide and filled like text columns, but a
  // description that wraps leaves the file side blank beside it.
  Page table;
  std::vector<std::string> expected;
  double top = 0.2;
  for (int row = 0; row < 8; ++row) {
    const std::string name = std::to_string(row);
    table.add("file" + name, 0.1, top, 0.3 + 0.02 * (row % 4), top + 0.015);
    expected.push_back("file" + name);
    const int lines = row % 3 + 1;
    for (int line = 0; line < lines; ++line) {
      const std::string text = "description" + name + "." + std::to_string(line);
      table.add(text, 0.5, top, line + 1 == lines ? 0.7 : 0.9, top + 0.015);
      expected.push_back(text);
      top += 0.02;
    }
    top += 0.005;
  }
  EXPECT_EQ(table.read(), expected);

  // The same table after a paragraph, before another: the table's rows
  // are read in turn between them.
  Page page;
  page.column("before", 0.1, 0.9, 0.05, 5);
  for (const TextObservation& cell : table.pieces()) page.pieces().push_back(cell);
  page.column("after", 0.1, 0.9, top + 0.01, 5);
  EXPECT_EQ(page.read(), joined({names("before", 5), expected, names("after", 5)}));
}

// A body column of 30 lines beside a strip of key figures (label | value
// rows at their own pitch), the strip on the left or on the right.
Page sidebarPage(bool stripOnLeft) {
  Page page;
  const double bodyLeft = stripOnLeft ? 0.38 : 0.08;
  page.column("body", bodyLeft, bodyLeft + 0.54, 0.1, 30, 0.022, 8);
  for (int row = 0; row < 10; ++row) {
    const double top = 0.113 + row * 0.024;
    const double stripLeft = stripOnLeft ? 0.06 : 0.68;
    page.add("label" + std::to_string(row), stripLeft, top, stripLeft + 0.12, top + 0.016);
    page.add("value" + std::to_string(row), stripLeft + 0.17, top, stripLeft + 0.25, top + 0.016);
  }
  return page;
}

TEST(ReadingOrder, ASidebarBesideTheBodyIsReadWholeInItsPlace) {
  std::vector<std::string> strip;
  for (int row = 0; row < 10; ++row) {
    strip.push_back("label" + std::to_string(row));
    strip.push_back("value" + std::to_string(row));
  }
  EXPECT_EQ(sidebarPage(true).read(), joined({strip, names("body", 30)}));
  EXPECT_EQ(sidebarPage(false).read(), joined({names("body", 30), strip}));

  // Labels level with the lines of the text beside them are read with them.
  Page labelled;
  std::vector<std::string> expected;
  for (int i = 0; i < 20; ++i) {
    const double top = 0.1 + i * 0.022;
    const std::string name = std::to_string(i + 1);
    if (i % 4 == 0) {
      labelled.add("label" + name, 0.05, top + 0.001, 0.2, top + 0.016);
      expected.push_back("label" + name);
    }
    labelled.add("text" + name, 0.3, top, 0.9, top + 0.016);
    expected.push_back("text" + name);
  }
  EXPECT_EQ(labelled.read(), expected);
}

TEST(ReadingOrder, NarrowColumnsOfALowResolutionScan) {
  // A 612 x 792 pixel gazette page: a headline, then three columns of 40
  // lines at a 10-pixel pitch, 11 pixels high (neighbours overlap by a
  // pixel), baselines level across the columns, gutters of 12 pixels.
  Page page;
  const auto x = [](double pixels) { return pixels / 792.0; };
  page.add("headline", x(40), x(30), x(572), x(52));
  const double lefts[] = {40, 230, 420};
  const char* prefixes[] = {"a", "b", "c"};
  for (int column = 0; column < 3; ++column) {
    for (int line = 0; line < 40; ++line) {
      const double top = 70 + line * 10;
      const bool last = line % 7 == 6;
      page.add(prefixes[column] + std::to_string(line + 1), x(lefts[column]), x(top),
               x(lefts[column] + (last ? 80 : 178)), x(top + 11));
    }
  }
  EXPECT_EQ(page.read(612.0 / 792.0),
            joined({{"headline"}, names("a", 40), names("b", 40), names("c", 40)}));
}

TEST(ReadingOrder, AVerticalTabInTheMarginIsOneUnitInItsPlace) {
  // A section tab of upright characters down the page's edge, beside the
  // middle of a column of text under a title: read where its middle falls,
  // before the first line whose middle is lower (line17, middle 0.50875),
  // on the left edge or the right.
  const std::vector<std::string> lines = names("line", 30);
  std::vector<std::string> expected = {"title"};
  expected.insert(expected.end(), lines.begin(), lines.begin() + 16);
  expected.push_back("tab");
  expected.insert(expected.end(), lines.begin() + 16, lines.end());
  for (const double tabLeft : {0.03, 0.92}) {
    Page page;
    page.add("title", 0.1, 0.03, 0.6, 0.06);
    page.column("line", 0.12, 0.88, 0.1, 30, 0.025);
    page.add("tab", tabLeft, 0.3, tabLeft + 0.03, 0.7, true);
    EXPECT_EQ(page.read(), expected) << "tab at " << tabLeft;
  }

  // The same tab found character by character, each box square and set a
  // little apart: the characters stay together, top to bottom, in the same
  // place. Listed bottom first, so that the listing cannot give the order.
  std::vector<std::string> characters;
  for (int i = 0; i < 8; ++i) characters.push_back("char" + std::to_string(i + 1));
  expected = {"title"};
  expected.insert(expected.end(), lines.begin(), lines.begin() + 16);
  expected.insert(expected.end(), characters.begin(), characters.end());
  expected.insert(expected.end(), lines.begin() + 16, lines.end());
  for (const double tabLeft : {0.03, 0.92}) {
    Page page;
    page.add("title", 0.1, 0.03, 0.6, 0.06);
    page.column("line", 0.12, 0.88, 0.1, 30, 0.025);
    for (int i = 7; i >= 0; --i) {
      const double top = 0.4 + i * 0.026;
      page.add(characters[static_cast<std::size_t>(i)], tabLeft, top, tabLeft + 0.02, top + 0.02);
    }
    EXPECT_EQ(page.read(), expected) << "characters at " << tabLeft;
  }

  // Line numbers beside the lines they number are not a tab: each is read
  // with its line.
  Page numbered;
  expected.clear();
  for (int i = 0; i < 12; ++i) {
    const double top = 0.1 + i * 0.026;
    numbered.add("n" + std::to_string(i), 0.08, top, 0.1, top + 0.02);
    numbered.add("text" + std::to_string(i), 0.105, top, 0.8, top + 0.02);
    expected.insert(expected.end(), {"n" + std::to_string(i), "text" + std::to_string(i)});
  }
  EXPECT_EQ(numbered.read(), expected);
}

// Two columns, a full-width table of four cells a row, two columns again.
Page mixedPage() {
  Page page;
  page.column("upperLeft", 0.08, 0.47, 0.05, 12);
  page.column("upperRight", 0.53, 0.92, 0.05, 12);
  for (int row = 0; row < 5; ++row) {
    const double top = 0.35 + row * 0.03;
    for (int cell = 0; cell < 4; ++cell) {
      page.add("cell" + std::to_string(row) + std::to_string(cell), 0.1 + cell * 0.22, top,
               0.2 + cell * 0.22, top + 0.018);
    }
  }
  page.column("lowerLeft", 0.08, 0.47, 0.55, 15);
  page.column("lowerRight", 0.53, 0.92, 0.55, 15);
  return page;
}

std::vector<std::string> mixedPageInOrder() {
  std::vector<std::string> cells;
  for (int row = 0; row < 5; ++row) {
    for (int cell = 0; cell < 4; ++cell)
      cells.push_back("cell" + std::to_string(row) + std::to_string(cell));
  }
  return joined({names("upperLeft", 12), names("upperRight", 12), cells, names("lowerLeft", 15),
                 names("lowerRight", 15)});
}

TEST(ReadingOrder, FullWidthTableBetweenTwoColumnBodies) {
  EXPECT_EQ(mixedPage().read(), mixedPageInOrder());
}

TEST(ReadingOrder, TheOrderDoesNotDependOnTheListing) {
  Page page = mixedPage();
  // Two identical boxes with different texts, and two identical pieces.
  page.add("twinA", 0.1, 0.9, 0.3, 0.92);
  page.add("twinB", 0.1, 0.9, 0.3, 0.92);
  page.add("same", 0.5, 0.9, 0.6, 0.92);
  page.add("same", 0.5, 0.9, 0.6, 0.92);
  const std::vector<std::string> first = page.read();
  std::mt19937 random(7);
  for (int trial = 0; trial < 20; ++trial) {
    std::shuffle(page.pieces().begin(), page.pieces().end(), random);
    EXPECT_EQ(page.read(), first);
  }
  EXPECT_EQ(std::vector<std::string>(first.begin(), first.end() - 4), mixedPageInOrder());
}

TEST(ReadingOrder, TextRunningDownThePageIsReadFromTheRightColumnFirst) {
  Page page;
  // Columns of vertical text, a title column at the far right taller than the rest.
  page.add("title", 0.88, 0.05, 0.92, 0.6, true);
  for (int i = 0; i < 8; ++i) {
    const double right = 0.8 - i * 0.06;
    page.add("col" + std::to_string(i + 1), right - 0.04, 0.1, right, 0.9 - 0.02 * i, true);
  }
  // On a tall page too: the columns are compared in one unit.
  EXPECT_EQ(page.read(), joined({{"title"}, names("col", 8)}));
  EXPECT_EQ(page.read(0.7), joined({{"title"}, names("col", 8)}));
}

TEST(ReadingOrder, WordsOfOneLineInDifferentSizesStayOneLine) {
  Page page;
  page.add("Total", 0.1, 0.50, 0.2, 0.52);
  page.add("$12.00", 0.6, 0.495, 0.75, 0.525);  // larger print, a little lower
  page.add("next", 0.1, 0.53, 0.2, 0.55);
  page.add("small", 0.1, 0.45, 0.15, 0.46);
  EXPECT_EQ(page.read(), (std::vector<std::string>{"small", "Total", "$12.00", "next"}));
}

TEST(ReadingOrder, OddBoxesStillGiveEveryIndexOnce) {
  Page page;
  page.add("flat", 0.1, 0.5, 0.4, 0.5);       // no height
  page.add("point", 0.3, 0.5, 0.3, 0.5);      // no width either
  page.add("reversed", 0.9, 0.6, 0.1, 0.55);  // corners given the wrong way round
  page.add("outside", -0.5, 1.2, 1.5, 1.3);
  page.pieces().push_back(
      {NormalizedBox{std::nan(""), 0.1, 0.1, 0.1}, TextCandidate{"nan", 1}, false});
  std::vector<std::string> read = page.read(std::nan(""));
  std::sort(read.begin(), read.end());
  EXPECT_EQ(read, (std::vector<std::string>{"flat", "nan", "outside", "point", "reversed"}));
  EXPECT_TRUE(readingOrder({}, 1.0).empty());
}

}  // namespace
}  // namespace brindlewox
