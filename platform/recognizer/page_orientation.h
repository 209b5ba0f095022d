// Platform-internal: how a page lies, decided from its lines. A page fed the
// wrong way round, or photographed sideways, is turned upright before it is
// read; a page that is upright, or whose evidence is unclear, is left as it is.
// Plain sizes and scores in, a turn out: tested without any network.
//
// The evidence, cheapest first:
//  - the lines' shapes: on a sideways page most of the text runs in tall lines;
//  - the line classifier's verdict (upright or upside down) on a few long
//    lines, asked on every page with lines running across; it costs a few
//    milliseconds;
//  - the recognition confidence of those lines read as cut and read turned
//    half a circle, only where the first two point away from upright. It
//    decides: a page is turned only where the turned reading is clearly the
//    better one and reads well.
#pragma once

#include <cstddef>
#include <vector>

namespace brindlewox {

// The turn that brings the page upright.
enum class PageTurn { none, clockwise, half, counterClockwise };

// A detected line's straightened size on the page as found, in pixels.
struct LineShape {
  double width = 0;
  double height = 0;
};

// Whether the line runs down the page: much taller than wide.
bool isTall(const LineShape& line);

// Whether the text of the page runs mostly down it: tall lines hold at least
// `kSidewaysShare` of the length of all the lines that clearly run one way.
// A few vertical labels or a row of turned table headers do not.
bool mostlySideways(const std::vector<LineShape>& lines);

// Up to `count` of the longest lines that run the way the page's text does
// (down the page when `sideways`), longest first.
std::vector<std::size_t> sampleLines(const std::vector<LineShape>& lines, bool sideways,
                                     std::size_t count);

// Whether the classifier finds the sampled lines upside down: most of them,
// with a clear mean probability. Each value is one line's probability of
// being upside down.
bool classifierSaysUpsideDown(const std::vector<float>& upsideDown);

// The mean confidence of a sample's readings, each line weighted by its length.
struct SampleReading {
  double asCut = 0;   // each line read as cut (tall lines turned a quarter to the left)
  double turned = 0;  // each line read turned half a circle
};

// The page's turn from the sample's readings. On a page of lines running
// across, the choice is between none and half; on a sideways page, the
// crops as cut (turned a quarter to the left) read upright when the page is
// to be turned counter-clockwise, and turned half a circle when it is to be
// turned clockwise. Unclear evidence, or a best reading that is poor (a
// column of vertical Chinese reads poorly either way), leaves the page as it is.
PageTurn turnFromReadings(const SampleReading& reading, bool sideways);

// Whether a sideways page's columns, cut into square cells laid side by side,
// read well as a line of upright characters (`cellsReading` is the mean
// confidence): then they are columns of vertical CJK text on an upright page.
bool uprightCharacters(double cellsReading);

}  // namespace brindlewox
