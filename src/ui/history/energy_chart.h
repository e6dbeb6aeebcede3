#pragma once
// The energy axis of the Run History chart: round tick values with labels in
// one format, and the symmetric logarithmic scale that keeps both a blow-up
// to 1e71 and the small values before it readable.
#include <QString>
#include <QStringList>
#include <vector>

class QImage;

namespace qd {

struct AxisTick {
  double value;  // where the tick sits, in the axis's own units
  QString label;
};

// Ticks at whole multiples of 1, 2 or 5 times a power of ten inside
// low..high, at most `most` of them; zero, when in range, is a tick and
// reads "0". All labels share one format: plain decimals with the digits the
// step needs, or, for very large or very small steps, the same scientific
// form throughout.
std::vector<AxisTick> LinearTicks(double low, double high, int most = 7);

// The symmetric logarithm: sign(v) * log10(1 + |v|). Odd, increasing, linear
// near zero and logarithmic far from it, so that values of either sign and of
// any size share one axis.
double SymLog(double v);
double SymLogInverse(double t);

// Ticks for a symmetric-log axis whose range is low..high in SymLog units:
// 0 and the powers of ten of either sign (every k-th one, at most `most`),
// labelled with the energies they stand for ("1e+12", "-1e+3", "0").
std::vector<AxisTick> SymLogTicks(double low, double high, int most = 9);

// The picture with every lit pixel grown to a 3 x 3 block, so that its dots
// survive being shown at half size.
QImage Thickened(const QImage& image);

}  // namespace qd
