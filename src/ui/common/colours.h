#pragma once
// The named colours of the windows, as the users' older program had them.
#include <QColor>

namespace qd {

inline const QColor kBlack(0, 0, 0);
inline const QColor kWhite(255, 255, 255);
inline const QColor kLime(0, 255, 0);
inline const QColor kYellow(255, 255, 0);
inline const QColor kSilver(192, 192, 192);
inline const QColor kBlue(0, 0, 255);
inline const QColor kNavy(0, 0, 128);
inline const QColor kMaroon(128, 0, 0);
inline const QColor kRed(255, 0, 0);
inline const QColor kGreen(0, 128, 0);

}  // namespace qd
