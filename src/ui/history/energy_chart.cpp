#include "ui/history/energy_chart.h"

#include <QImage>
#include <algorithm>
#include <cmath>

namespace qd {

namespace {

// 1, 2 or 5 times a power of ten, at least `raw`.
double NiceStep(double raw) {
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= raw * (1 - 1e-12)) return m * power;
  return 10 * power;
}

}  // namespace

std::vector<AxisTick> LinearTicks(double low, double high, int most) {
  std::vector<AxisTick> ticks;
  if (!std::isfinite(low) || !std::isfinite(high) || !(low < high) || most < 2) return ticks;
  const double step = NiceStep((high - low) / (most - 1));
  if (!std::isfinite(step) || step <= 0) return ticks;
  const double first = std::ceil(low / step), last = std::floor(high / step);
  // The step's own exponent decides the format, the same for every label.
  const int exponent = int(std::floor(std::log10(step)));
  const double largest = std::max(std::fabs(first), std::fabs(last)) * step;
  const bool scientific = largest >= 1e6 || exponent < -4;
  for (double k = first; k <= last && int(ticks.size()) <= most; k += 1) {
    // A whole multiple of the step: zero is exactly zero.
    const double v = k * step;
    QString label;
    if (k == 0) {
      label = QStringLiteral("0");
    } else if (scientific) {
      // As many digits as tell the ticks apart: the step's leading digit
      // sits `shift` places below the largest tick's.
      const int shift = int(std::floor(std::log10(largest))) - exponent;
      label = QString::number(v, 'e', std::clamp(shift, 0, 15));
    } else {
      label = QString::number(v, 'f', std::max(0, -exponent));
    }
    ticks.push_back({v, label});
  }
  return ticks;
}

double SymLog(double v) { return std::copysign(std::log10(1 + std::fabs(v)), v); }

double SymLogInverse(double t) { return std::copysign(std::pow(10.0, std::fabs(t)) - 1, t); }

std::vector<AxisTick> SymLogTicks(double low, double high, int most) {
  std::vector<AxisTick> ticks;
  if (!std::isfinite(low) || !std::isfinite(high) || !(low < high) || most < 2) return ticks;
  // SymLog(10^p) is about p: the powers of ten stand about one unit apart,
  // every `every`-th of them a tick, at the exact place of the value it names.
  // A round number of decades between ticks: 1, 2, 5, 10, 20 ...
  const int every = std::max(1, int(std::lround(NiceStep(std::max((high - low) / (most - 1), 1.0)))));
  const int top = int(std::ceil(std::max(std::fabs(low), std::fabs(high)))) + 1;
  if (low <= 0 && 0 <= high) ticks.push_back({0, QStringLiteral("0")});
  for (double sign : {-1.0, 1.0}) {
    for (int p = 0; p <= top; p += every) {
      const double value = sign * std::pow(10.0, p);
      const double at = SymLog(value);
      if (at >= low && at <= high) ticks.push_back({at, QString::number(value, 'e', 0)});
    }
  }
  std::sort(ticks.begin(), ticks.end(), [](const AxisTick& a, const AxisTick& b) { return a.value < b.value; });
  return ticks;
}

QImage Thickened(const QImage& image) {
  const QImage source = image.convertToFormat(QImage::Format_RGB32);
  QImage out = source;
  const int w = source.width(), h = source.height();
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(source.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      const QRgb c = row[x];
      if (qGray(c) == 0) continue;
      for (int dy = -1; dy <= 1; ++dy) {
        if (y + dy < 0 || y + dy >= h) continue;
        auto* target = reinterpret_cast<QRgb*>(out.scanLine(y + dy));
        for (int dx = -1; dx <= 1; ++dx)
          if (x + dx >= 0 && x + dx < w && qGray(target[x + dx]) == 0) target[x + dx] = c;
      }
    }
  }
  return out;
}

}  // namespace qd
