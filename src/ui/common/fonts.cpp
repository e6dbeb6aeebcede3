#include "ui/common/fonts.h"

#include <QStringList>

namespace qd {
namespace {

QFont Make(const QStringList& families, QFont::StyleHint hint, int pixels, bool bold) {
  QFont f;
  f.setFamilies(families);
  f.setStyleHint(hint);
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

}  // namespace

QFont WindowFont(int pixels, bool bold) {
  return Make({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans Condensed")}, QFont::SansSerif,
              pixels, bold);
}

QFont SerifCaptionFont(int pixels, bool bold) {
  return Make({QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif Condensed")}, QFont::Serif,
              pixels, bold);
}

}  // namespace qd
