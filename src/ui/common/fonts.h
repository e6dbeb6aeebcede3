#pragma once
// The fonts of the windows, at the designed pixel sizes. The designed window
// font is replaced by one with the same character widths, so that every
// caption fits the control it was laid out for; where that font is missing, a
// condensed one comes close.
#include <QFont>

namespace qd {

// The sans-serif window font (Liberation Sans, else DejaVu Sans Condensed),
// also for the captions designed in a wider sans-serif of the same widths.
QFont WindowFont(int pixels, bool bold = false);
// The serif captions (Liberation Serif, else DejaVu Serif Condensed).
QFont SerifCaptionFont(int pixels, bool bold = false);

}  // namespace qd
