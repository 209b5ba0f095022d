// The reading order of a page: the order in which a person reads the pieces
// of text the recogniser found. Plain boxes in, an order out; it knows
// nothing of pixels or networks, so it is tested with hand-made boxes.
//
// A page is cut recursively along its white space, as in the classic X-Y cut:
// - white space several lines tall across a whole block parts it into
//   sections read top to bottom (a title, a table between two bands of
//   columns, a footnote);
// - a vertical band of white space that splits a block into text columns
//   (each many words wide, most of its lines filling it) makes the columns
//   read one after the other, left to right, unless one side's lines are
//   much further apart than the other's: that is a table whose cells wrap
//   on one side, read row by row;
// - a body of text beside a strip of short lines whose rows do not line up
//   with its lines (a sidebar of key figures, a list of names) is read body
//   and strip each whole, left to right;
// - otherwise the block is cut into rows at the white space between them,
//   and a run of rows that together split into text columns is read as
//   columns (typeset columns often share their baselines, so each row of
//   such a run alone looks like one line across the gutter);
// - what cannot be cut is read as visual lines: pieces whose middles are
//   level to within a fraction of the smaller height make one line, read
//   left to right, and the lines go top to bottom; two sides of a gutter
//   whose rows are set apart and line up across it (a form's labels and
//   values) are read row by row in this way.
// Text standing up among lines lying down (a tab of upright characters down
// the page's edge, found whole or character by character, a document number
// printed sideways) is one unit, put where its middle falls among the rest,
// never split among their rows.
// Cells of a table, a form's labels and values, a receipt's prices are not
// text columns (too narrow, or their lines do not fill them), so such blocks
// are read row by row. A page of text running down the page is read column
// by column from the right.
//
// The order is total: it depends on the pieces, not on the order in which
// they are listed.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/recognizer/text_observation.h"

namespace brindlewox {

// Two pieces belong to one visual line when their middles are within this
// share of the smaller one's height: neighbouring lines of a dense page,
// whose boxes touch or overlap a little, stay apart, while words of one line
// in different sizes, or a form's fields a little out of level, join.
inline constexpr double kSameLine = 0.6;

// The indices of `observations` in reading order. `pageAspect` is the page's
// width over its height, so that widths and heights compare in one unit.
std::vector<std::size_t> readingOrder(const std::vector<TextObservation>& observations,
                                      double pageAspect);

}  // namespace brindlewox
