#pragma once
// Drawing the picture area: the particles of the present slots, or the
// built-in figure, onto an image the size of the picture area.
#include <QFont>
#include <QImage>

#include "core/state/sim_state.h"

namespace qd {

struct SceneStyle {
  bool taoscope = false;      // colour by slot parity instead of by kind
  int secondKindCount = 30;   // Ak 30, Bk 15, Ck 10
  bool numbersOn = false;
  QFont font;                 // the window font
  int outerWidth = 604;       // the window's outer width
  int panTop = 176;           // top edge of the bottom panel
};

// Black filled rectangle from (0, 0) to (outerWidth, panTop), edges exclusive, clipped.
void ClearPicture(QImage& image, const SceneStyle& style);
// Projects the present slots by the view angles, clears, draws dots then numbers.
void DrawParticles(QImage& image, SimState& s, const SceneStyle& style);
// Turns the figure by the step angles, clears, draws the 51 edges and the labels.
void DrawFigure(QImage& image, SimState& s, const SceneStyle& style);

}  // namespace qd
