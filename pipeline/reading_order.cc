#include "pipeline/reading_order.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <tuple>
#include <utility>

namespace brindlewox {

namespace {

// White space between columns is at least this many line heights wide; the
// space between words of one line, where the detector splits a line, is
// narrower. A typeset gutter is two to three line heights.
constexpr double kMinGutter = 0.8;

// A text column is at least this many line heights wide: a sentence's worth
// of words. A table's cells, a form's labels and a receipt's prices are
// narrower.
constexpr double kMinColumnWidth = 12.0;

// A column's line fills it when it spans this share of the column's width,
// and a text column has at least this share of its lines filling it and at
// least two lines. A table column of ragged cells, or a column of labels,
// does not.
constexpr double kFilledLine = 0.6;
constexpr double kFilledShare = 0.5;
constexpr std::size_t kMinColumnLines = 2;

// A run of rows read as columns is looked for this many rows past the last
// row that ended one: columns can open with a few short lines (a list, a
// heading), but a table's rows never make text columns, and giving up on
// them keeps the search linear in the rows.
constexpr std::size_t kRunPatience = 30;

// Two sides of a gutter are the columns of a table, read row by row, when
// the lines of one side are this many times further apart than those of the
// other: a cell that wraps on one side leaves the other side blank, while
// two text columns in one face run at one pitch whatever their paragraphs.
constexpr double kSparseSide = 1.4;

// A strip beside a text column is a sidebar, read whole, when fewer than
// this share of its pieces are level with the column's lines (tops or
// bottoms within kLevel line heights): labels and values beside their text
// line up and are read row by row.
constexpr double kLevel = 0.3;
constexpr double kLevelShare = 0.6;

// Only a body of text has a sidebar: a column of at least this many lines
// set close (a row pitch under kBodyPitch of its line heights) beside a
// strip of at least this many pieces. A form's few wide fields, with its
// labels beside them, are not one.
constexpr std::size_t kBodyLines = 15;
constexpr double kBodyPitch = 1.6;
constexpr std::size_t kSidebarPieces = 4;

// A piece this many times taller than wide, and this many line heights
// tall, is text standing up among lines lying down (a section tab down the
// page's edge): one unit, which would otherwise join every row it spans.
constexpr double kStanding = 3.0;

// White space this many line heights tall across a whole block parts it into
// sections read one after the other (a title, a table, a band of columns,
// a footnote or page number below them). Between the lines and paragraphs
// of columns, white space across the whole page is much lower.
constexpr double kSectionGap = 3.0;

// Rows are parted by the white space between the middle parts of the boxes,
// without this share of each box's height at its top and at its bottom:
// boxes of neighbouring lines on a dense page touch or overlap a little.
constexpr double kRowCore = 0.3;

// A piece of text in page-height units, y down from the top of the page.
struct Piece {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
  std::size_t rank = 0;   // place in a canonical order of the observations: breaks every tie
  std::size_t index = 0;  // in the caller's list

  double width() const { return right - left; }
  double height() const { return bottom - top; }
  double coreTop() const { return top + kRowCore * height(); }
  double coreBottom() const { return bottom - kRowCore * height(); }
};

using Block = std::vector<Piece>;

// Left to right; the canonical rank breaks ties.
// A function object rather than a function, so that the sorts and merges
// that run on every row of a long run inline it.
constexpr auto furtherLeft = [](const Piece& a, const Piece& b) {
  return std::tie(a.left, a.rank) < std::tie(b.left, b.rank);
};

double finite(double value) {
  return std::isfinite(value) ? value : 0.0;
}

// A canonical order of the observations, by everything they hold, so that
// every tie below is broken the same way whatever the listing order.
std::vector<std::size_t> canonicalRanks(const std::vector<TextObservation>& observations) {
  const auto key = [&](std::size_t i) {
    const TextObservation& o = observations[i];
    return std::make_tuple(finite(o.box.y), finite(o.box.x), finite(o.box.height),
                           finite(o.box.width), o.vertical, o.best.has_value(),
                           o.best ? o.best->string : std::string(),
                           o.best ? finite(o.best->confidence) : 0.0);
  };
  std::vector<std::size_t> order(observations.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
  std::vector<std::size_t> ranks(observations.size());
  for (std::size_t position = 0; position < order.size(); ++position)
    ranks[order[position]] = position;
  return ranks;
}

// The observations as pieces. A page whose text mostly runs down the page
// is turned a quarter so that its columns, right to left, become rows, top
// to bottom, and each column's text runs left to right.
Block piecesOf(const std::vector<TextObservation>& observations, double pageAspect) {
  const double aspect = std::isfinite(pageAspect) && pageAspect > 0 ? pageAspect : 1.0;
  const std::vector<std::size_t> ranks = canonicalRanks(observations);
  const auto vertical =
      static_cast<std::size_t>(std::count_if(observations.begin(), observations.end(),
                                             [](const TextObservation& o) { return o.vertical; }));
  const bool runsDown = 2 * vertical > observations.size();
  Block pieces;
  pieces.reserve(observations.size());
  for (std::size_t i = 0; i < observations.size(); ++i) {
    const NormalizedBox& box = observations[i].box;
    const double x0 = finite(box.x) * aspect;
    const double x1 = finite(box.x + box.width) * aspect;
    const double y0 = 1.0 - finite(box.y + box.height);
    const double y1 = 1.0 - finite(box.y);
    Piece piece{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1),
                std::max(y0, y1), ranks[i],         i};
    if (runsDown)
      piece = {piece.top,           aspect - piece.right, piece.bottom,
               aspect - piece.left, piece.rank,           piece.index};
    pieces.push_back(piece);
  }
  return pieces;
}

double medianHeight(const Block& block) {
  std::vector<double> heights;
  heights.reserve(block.size());
  for (const Piece& piece : block) heights.push_back(piece.height());
  const auto middle = heights.begin() + static_cast<std::ptrdiff_t>(heights.size() / 2);
  std::nth_element(heights.begin(), middle, heights.end());
  return *middle;
}

bool isTextColumn(const Block& part, double lineHeight) {
  double left = part.front().left;
  double right = part.front().right;
  for (const Piece& piece : part) {
    left = std::min(left, piece.left);
    right = std::max(right, piece.right);
  }
  const double width = right - left;
  if (part.size() < kMinColumnLines || width < kMinColumnWidth * lineHeight) return false;
  // Weighted by each line's length, so that the digits of a stacked
  // fraction or a formula's scattered symbols count for little.
  double filled = 0;
  double all = 0;
  for (const Piece& piece : part) {
    all += piece.width();
    if (piece.width() >= kFilledLine * width) filled += piece.width();
  }
  return filled >= kFilledShare * all;
}

// Rows top to bottom, parted by horizontal white space between the boxes'
// middle parts.
std::vector<Block> rowsOf(Block block) {
  std::sort(block.begin(), block.end(), [](const Piece& a, const Piece& b) {
    const double topA = a.coreTop();
    const double topB = b.coreTop();
    return std::tie(topA, a.rank) < std::tie(topB, b.rank);
  });
  std::vector<Block> rows;
  double reach = 0;
  for (const Piece& piece : block) {
    if (rows.empty() || piece.coreTop() > reach) {
      rows.emplace_back();
      reach = piece.coreBottom();
    }
    rows.back().push_back(piece);
    reach = std::max(reach, piece.coreBottom());
  }
  return rows;
}

struct ColumnSplit {
  std::vector<Block>
      parts;  // left to right, parted by vertical white space; one when there is none
  bool readApart =
      false;  // the parts are read one after the other: text columns, or a body and its sidebar
  bool table = false;  // the parts are the columns of a table, read row by row
};

// The median distance from one row's top to the next one's in a part; none
// for a part of fewer than three rows.
std::optional<double> rowPitch(const Block& part) {
  const std::vector<Block> rows = rowsOf(part);
  if (rows.size() < 3) return std::nullopt;
  std::vector<double> tops;
  tops.reserve(rows.size());
  for (const Block& row : rows) {
    double top = row.front().top;
    for (const Piece& piece : row) top = std::min(top, piece.top);
    tops.push_back(top);
  }
  std::sort(tops.begin(), tops.end());
  std::vector<double> steps;
  steps.reserve(tops.size() - 1);
  for (std::size_t i = 1; i < tops.size(); ++i) steps.push_back(tops[i] - tops[i - 1]);
  const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
  std::nth_element(steps.begin(), middle, steps.end());
  return *middle;
}

// Whether the lines of one part are much further apart than another's.
bool oneSideSparse(const std::vector<Block>& parts) {
  std::optional<double> densest;
  std::optional<double> sparsest;
  for (const Block& part : parts) {
    const std::optional<double> pitch = rowPitch(part);
    if (!pitch || *pitch <= 0) continue;
    densest = densest ? std::min(*densest, *pitch) : *pitch;
    sparsest = sparsest ? std::max(*sparsest, *pitch) : *pitch;
  }
  return densest && *sparsest >= kSparseSide * *densest;
}

// The share of `strip`'s pieces level with some piece of `column`.
double levelShare(const Block& strip, const Block& column, double lineHeight) {
  std::vector<double> tops;
  std::vector<double> bottoms;
  for (const Piece& piece : column) {
    tops.push_back(piece.top);
    bottoms.push_back(piece.bottom);
  }
  std::sort(tops.begin(), tops.end());
  std::sort(bottoms.begin(), bottoms.end());
  const double tolerance = kLevel * lineHeight;
  const auto near = [&](const std::vector<double>& edges, double edge) {
    const auto found = std::lower_bound(edges.begin(), edges.end(), edge - tolerance);
    return found != edges.end() && *found <= edge + tolerance;
  };
  const auto level = std::count_if(strip.begin(), strip.end(), [&](const Piece& piece) {
    return near(tops, piece.top) || near(bottoms, piece.bottom);
  });
  return static_cast<double>(level) / static_cast<double>(strip.size());
}

// Whether the parts are the columns of a form or table whose rows line up
// across the gutter: the lines of every part are set apart (a row pitch of
// at least kBodyPitch line heights, unlike running text) and most pieces of
// the smaller side are level with a piece of the other. Typeset columns
// that share their baselines are set close, so they stay columns.
bool rowsLineUp(const std::vector<Block>& parts, double lineHeight) {
  if (parts.size() != 2) return false;
  for (const Block& part : parts) {
    const std::optional<double> pitch = rowPitch(part);
    if (pitch && *pitch < kBodyPitch * medianHeight(part)) return false;
  }
  const bool firstSmaller = parts.front().size() <= parts.back().size();
  const Block& smaller = firstSmaller ? parts.front() : parts.back();
  const Block& larger = firstSmaller ? parts.back() : parts.front();
  return levelShare(smaller, larger, lineHeight) >= kLevelShare;
}

// Whether `strip` is a sidebar beside the body `column`, to be read whole.
bool isSidebar(const Block& strip, const Block& column, double lineHeight) {
  if (strip.size() < kSidebarPieces || rowsOf(column).size() < kBodyLines) return false;
  const std::optional<double> pitch = rowPitch(column);
  if (!pitch || *pitch > kBodyPitch * medianHeight(column)) return false;
  return levelShare(strip, column, lineHeight) < kLevelShare;
}

Block unionOf(std::vector<Block>::const_iterator first, std::vector<Block>::const_iterator last) {
  Block joined;
  for (auto part = first; part != last; ++part)
    joined.insert(joined.end(), part->begin(), part->end());
  return joined;
}

// Where the pieces split at vertical white space, and how the parts are
// read. With `tellTables` false, text columns are reported as read apart
// even when they would be a table's columns: a run of rows is grown on
// that cheaper test, and its table test made once on the whole run.
ColumnSplit splitAtGutters(const Block& pieces, bool tellTables = true) {
  const double lineHeight = medianHeight(pieces);
  const double gutter = kMinGutter * lineHeight;
  Block sorted;
  const bool inOrder = std::is_sorted(pieces.begin(), pieces.end(), furtherLeft);
  if (!inOrder) {
    sorted = pieces;
    std::sort(sorted.begin(), sorted.end(), furtherLeft);
  }
  const Block& block = inOrder ? pieces : sorted;
  ColumnSplit split;
  // The cuts first, then each part copied whole: this runs on every row a
  // run of rows grows by.
  std::vector<std::size_t> cuts{0};
  double reach = block.front().right;
  for (std::size_t i = 1; i < block.size(); ++i) {
    if (block[i].left - reach > gutter && block[i].left > reach) cuts.push_back(i);
    reach = std::max(reach, block[i].right);
  }
  if (cuts.size() < 2) {
    split.parts.push_back(block);
    return split;
  }
  cuts.push_back(block.size());
  split.parts.reserve(cuts.size() - 1);
  for (std::size_t part = 0; part + 1 < cuts.size(); ++part) {
    split.parts.emplace_back(block.begin() + static_cast<std::ptrdiff_t>(cuts[part]),
                             block.begin() + static_cast<std::ptrdiff_t>(cuts[part + 1]));
  }
  const bool firstIsColumn = isTextColumn(split.parts.front(), lineHeight);
  const bool lastIsColumn = isTextColumn(split.parts.back(), lineHeight);
  if (firstIsColumn && lastIsColumn &&
      std::all_of(split.parts.begin() + 1, split.parts.end() - 1,
                  [&](const Block& part) { return isTextColumn(part, lineHeight); })) {
    split.table = tellTables && (oneSideSparse(split.parts) || rowsLineUp(split.parts, lineHeight));
    split.readApart = !split.table;
    return split;
  }
  // A body of text at one side and, at the other, a strip whose pieces do
  // not line up with its lines: the strip (itself perhaps a small table) is
  // read whole, before or after the body as it stands left or right of it.
  if (firstIsColumn == lastIsColumn) return split;
  const bool stripOnRight = firstIsColumn;
  const Block& column = stripOnRight ? split.parts.front() : split.parts.back();
  Block strip = stripOnRight ? unionOf(split.parts.begin() + 1, split.parts.end())
                             : unionOf(split.parts.begin(), split.parts.end() - 1);
  if (!isSidebar(strip, column, lineHeight)) return split;
  split.parts = stripOnRight ? std::vector<Block>{column, std::move(strip)}
                             : std::vector<Block>{std::move(strip), column};
  split.readApart = true;
  return split;
}

// A block that cannot be cut: visual lines top to bottom, each left to right.
// A piece joins the line whose middle is nearest its own, within kSameLine
// of the smaller height: measured against the line's mean middle rather
// than any one member, so that a tall box (a field written over two rows)
// cannot chain two rows of a form into one line.
void appendVisualLines(Block block, std::vector<std::size_t>& order) {
  std::sort(block.begin(), block.end(), [](const Piece& a, const Piece& b) {
    const double middleA = a.top + a.bottom;
    const double middleB = b.top + b.bottom;
    return std::tie(middleA, a.rank) < std::tie(middleB, b.rank);
  });
  struct Line {
    double middleSum = 0;
    double heightSum = 0;
    Block pieces;
    double middle() const { return middleSum / static_cast<double>(pieces.size()); }
    double height() const { return heightSum / static_cast<double>(pieces.size()); }
  };
  std::vector<Line> lines;
  for (const Piece& piece : block) {
    const double middle = (piece.top + piece.bottom) / 2;
    std::optional<std::size_t> joined;
    double nearest = 0;
    for (std::size_t line = 0; line < lines.size(); ++line) {
      const double distance = std::abs(lines[line].middle() - middle);
      if (distance <= kSameLine * std::min(piece.height(), lines[line].height()) &&
          (!joined || distance < nearest)) {
        nearest = distance;
        joined = line;
      }
    }
    if (!joined) {
      joined = lines.size();
      lines.emplace_back();
    }
    Line& line = lines[*joined];
    line.middleSum += middle;
    line.heightSum += piece.height();
    line.pieces.push_back(piece);
  }
  std::sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) {
    const double middleA = a.middle();
    const double middleB = b.middle();
    return std::tie(middleA, a.pieces.front().rank) < std::tie(middleB, b.pieces.front().rank);
  });
  for (Line& line : lines) {
    std::sort(line.pieces.begin(), line.pieces.end(), furtherLeft);
    for (const Piece& piece : line.pieces) order.push_back(piece.index);
  }
}

void appendInOrder(const Block& block, std::vector<std::size_t>& order);

// The white space between a row and the row under it.
double rowGap(const Block& above, const Block& below) {
  double bottom = above.front().coreBottom();
  for (const Piece& piece : above) bottom = std::max(bottom, piece.coreBottom());
  double top = below.front().coreTop();
  for (const Piece& piece : below) top = std::min(top, piece.coreTop());
  return top - bottom;
}

// Rows one after the other, where a run of rows that together split into
// text columns is read as those columns.
void appendRows(const std::vector<Block>& rows, std::vector<std::size_t>& order) {
  std::size_t first = 0;
  while (first < rows.size()) {
    // Kept left to right as it grows, so that each split merges one row in.
    Block grown = rows[first];
    std::sort(grown.begin(), grown.end(), furtherLeft);
    std::size_t end = first + 1;
    for (std::size_t next = first + 1; next < rows.size() && next < end + kRunPatience; ++next) {
      const auto middle = static_cast<std::ptrdiff_t>(grown.size());
      grown.insert(grown.end(), rows[next].begin(), rows[next].end());
      std::sort(grown.begin() + middle, grown.end(), furtherLeft);
      std::inplace_merge(grown.begin(), grown.begin() + middle, grown.end(), furtherLeft);
      const ColumnSplit split = splitAtGutters(grown, false);
      if (split.parts.size() < 2) break;  // more rows cannot open a gutter again
      if (split.readApart) end = next + 1;
    }
    // The longest run decides whether it is a table: a table's first rows
    // may look like columns before a cell wraps, and a column's first lines,
    // between headings, may look like a table's sparse side.
    bool table = false;
    if (end > first + 1) {
      Block run;
      for (std::size_t row = first; row < end; ++row)
        run.insert(run.end(), rows[row].begin(), rows[row].end());
      table = splitAtGutters(run).table;
    }
    if (table) {
      for (std::size_t row = first; row < end; ++row) appendInOrder(rows[row], order);
    } else {
      Block run;
      for (std::size_t row = first; row < end; ++row)
        run.insert(run.end(), rows[row].begin(), rows[row].end());
      appendInOrder(run, order);
    }
    first = end;
  }
}

void appendInOrder(const Block& block, std::vector<std::size_t>& order) {
  if (block.size() <= 1) {
    if (!block.empty()) order.push_back(block.front().index);
    return;
  }
  // Sections parted by wide white space across the whole block come one
  // after the other, before any gutter is looked for: a table or figure
  // between two bands of columns may leave white space where their gutter
  // runs, and must not be read as part of the columns for that.
  const std::vector<Block> rows = rowsOf(block);
  const double sectionGap = kSectionGap * medianHeight(block);
  std::vector<Block> sections(1);
  for (std::size_t row = 0; row < rows.size(); ++row) {
    if (row > 0 && rowGap(rows[row - 1], rows[row]) > sectionGap) sections.emplace_back();
    sections.back().insert(sections.back().end(), rows[row].begin(), rows[row].end());
  }
  if (sections.size() > 1) {
    for (const Block& section : sections) appendInOrder(section, order);
    return;
  }
  const ColumnSplit split = splitAtGutters(block);
  if (split.readApart) {
    for (const Block& column : split.parts) appendInOrder(column, order);
    return;
  }
  if (rows.size() > 1) {
    appendRows(rows, order);
    return;
  }
  appendVisualLines(block, order);
}

// Upright characters that the detector found one by one (a tab's letters
// set apart) stand up as a stack: at least kStackPieces pieces, each about
// as wide as tall, one under the other with less than kStackGap of a
// character's height between them, and no other text within a gutter of
// either side. The lines of a list or a column of figures have their text
// beside them, or are wider than tall.
constexpr std::size_t kStackPieces = 3;
constexpr double kStackGap = 0.5;
constexpr double kSquare = 1.3;

bool stacksOn(const Piece& below, const Piece& above) {
  const double overlap = std::min(below.right, above.right) - std::max(below.left, above.left);
  const double gap = below.top - above.bottom;
  const double height = std::min(below.height(), above.height());
  return overlap > 0.5 * std::min(below.width(), above.width()) && gap > -0.25 * height &&
         gap < kStackGap * height && std::max(below.height(), above.height()) < 1.5 * height;
}

// Takes the stacks of upright characters out of `pieces`.
std::vector<Block> takeStacks(Block& pieces, double lineHeight) {
  Block squares;
  for (const Piece& piece : pieces) {
    if (piece.height() > 0 && piece.width() < kSquare * piece.height() &&
        piece.width() * kSquare > piece.height()) {
      squares.push_back(piece);
    }
  }
  std::sort(squares.begin(), squares.end(), [](const Piece& a, const Piece& b) {
    return std::tie(a.top, a.rank) < std::tie(b.top, b.rank);
  });
  std::vector<Block> chains;
  std::vector<std::size_t> open;  // chains whose last piece may still have one under it
  for (const Piece& piece : squares) {
    std::optional<std::size_t> extended;
    std::size_t kept = 0;
    for (const std::size_t chain : open) {
      const Piece& last = chains[chain].back();
      if (!extended && stacksOn(piece, last)) {
        extended = chain;
      } else if (piece.top - last.bottom < kStackGap * last.height()) {
        open[kept++] = chain;
      }
    }
    open.resize(kept);
    if (!extended) {
      extended = chains.size();
      chains.emplace_back();
    }
    chains[*extended].push_back(piece);
    open.push_back(*extended);
  }
  std::vector<Block> stacks;
  for (Block& chain : chains) {
    if (chain.size() < kStackPieces) continue;
    double left = chain.front().left;
    double right = chain.front().right;
    for (const Piece& piece : chain) {
      left = std::min(left, piece.left);
      right = std::max(right, piece.right);
    }
    const double top = chain.front().top;
    const double bottom = chain.back().bottom;
    if (bottom - top < kStanding * (right - left) || bottom - top < kStanding * lineHeight)
      continue;
    const double reach = kMinGutter * lineHeight;
    const bool alone = std::none_of(pieces.begin(), pieces.end(), [&](const Piece& other) {
      return other.bottom > top && other.top < bottom && other.right > left - reach &&
             other.left < right + reach &&
             std::none_of(chain.begin(), chain.end(),
                          [&](const Piece& member) { return member.index == other.index; });
    });
    if (alone) stacks.push_back(std::move(chain));
  }
  if (!stacks.empty()) {
    std::vector<std::size_t> takenIndices;
    for (const Block& stack : stacks) {
      for (const Piece& piece : stack) takenIndices.push_back(piece.index);
    }
    std::sort(takenIndices.begin(), takenIndices.end());
    std::erase_if(pieces, [&](const Piece& piece) {
      return std::binary_search(takenIndices.begin(), takenIndices.end(), piece.index);
    });
  }
  return stacks;
}

// Puts a standing unit (one piece, or a stack top to bottom) into the order
// of the pieces lying down where its middle falls among them: before the
// first, in their order, whose middle is lower.
void insertStanding(const Block& standing, const std::vector<Piece>& byIndex,
                    std::vector<std::size_t>& order) {
  double top = standing.front().top;
  double bottom = standing.front().bottom;
  for (const Piece& piece : standing) {
    top = std::min(top, piece.top);
    bottom = std::max(bottom, piece.bottom);
  }
  const double middle = top + bottom;
  auto at = std::find_if(order.begin(), order.end(), [&](std::size_t index) {
    return byIndex[index].top + byIndex[index].bottom > middle;
  });
  for (const Piece& piece : standing) at = order.insert(at, piece.index) + 1;
}

}  // namespace

std::vector<std::size_t> readingOrder(const std::vector<TextObservation>& observations,
                                      double pageAspect) {
  std::vector<std::size_t> order;
  order.reserve(observations.size());
  Block pieces = piecesOf(observations, pageAspect);
  if (pieces.empty()) return order;
  const double lineHeight = medianHeight(pieces);
  const auto standsUp = [&](const Piece& piece) {
    return piece.height() > kStanding * piece.width() && piece.height() > kStanding * lineHeight;
  };
  const auto lying = std::partition(pieces.begin(), pieces.end(),
                                    [&](const Piece& piece) { return !standsUp(piece); });
  std::vector<Block> standing;
  for (auto piece = lying; piece != pieces.end(); ++piece) standing.push_back({*piece});
  pieces.erase(lying, pieces.end());
  for (Block& stack : takeStacks(pieces, lineHeight)) standing.push_back(std::move(stack));
  std::sort(standing.begin(), standing.end(),
            [](const Block& a, const Block& b) { return furtherLeft(a.front(), b.front()); });
  appendInOrder(pieces, order);
  std::vector<Piece> byIndex(observations.size());
  for (const Piece& piece : pieces) byIndex[piece.index] = piece;
  for (const Block& unit : standing) {
    insertStanding(unit, byIndex, order);
    for (const Piece& piece : unit) byIndex[piece.index] = piece;
  }
  return order;
}

}  // namespace brindlewox
