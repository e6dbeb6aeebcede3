#include "ui/view/listing.h"

#include <QString>
#include <array>

#include "core/editing/number_text.h"
#include "ui/view/string_grid.h"

namespace qd {

namespace {

// The slot numbers never change; build their texts once.
const QString& SlotText(int slot) {
  static const std::array<QString, kSlotCount + 1> texts = [] {
    std::array<QString, kSlotCount + 1> t;
    for (int i = 0; i <= kSlotCount; ++i) t[std::size_t(i)] = QString::number(i);
    return t;
  }();
  return texts[std::size_t(slot)];
}

}  // namespace

void FillListing(StringGrid& grid, const SimState& s, char separator) {
  if (s.ListVelocities) {
    grid.SetCell(1, 0, QStringLiteral("u(x)"));
    grid.SetCell(2, 0, QStringLiteral("u(y)"));
    grid.SetCell(3, 0, QStringLiteral("u(z)"));
  } else {
    grid.SetCell(1, 0, QStringLiteral("X"));
    grid.SetCell(2, 0, QStringLiteral("Y"));
    grid.SetCell(3, 0, QStringLiteral("Z"));
  }

  const int count = LastSlot(s);
  for (int slot = 1; slot <= count; ++slot) grid.SetCell(0, slot, SlotText(slot));

  const auto& a = s.ListVelocities ? s.UX : s.X;
  const auto& b = s.ListVelocities ? s.UY : s.Y;
  const auto& c = s.ListVelocities ? s.UZ : s.Z;
  for (int slot = 1; slot <= count; ++slot) {
    if (s.Present[slot]) {
      grid.SetCell(1, slot, QString::fromStdString(FloatToText(a[slot], separator)));
      grid.SetCell(2, slot, QString::fromStdString(FloatToText(b[slot], separator)));
      grid.SetCell(3, slot, QString::fromStdString(FloatToText(c[slot], separator)));
    } else {
      grid.SetCell(1, slot, QString());
      grid.SetCell(2, slot, QString());
      grid.SetCell(3, slot, QString());
    }
  }
}

}  // namespace qd

namespace qd {

void SetUpListingGrid(StringGrid& grid) {
  grid.setDefaultColumnWidth(80);
  grid.setDefaultRowHeight(18);
  grid.setRowHeight(1, 20);
}

}  // namespace qd
