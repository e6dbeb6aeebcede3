#include "ui/view/scene.h"

#include <QFontMetrics>
#include <QHash>
#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/view/line_raster.h"
#include "core/view/projection.h"
#include "ui/common/colours.h"
#include "ui/common/fonts.h"

namespace qd {

// The figure's edges in the order they are drawn. The triangle comes first,
// then every point from 4 on is joined to the three points it was built on.
const FigureEdge kFigureEdges[kFigureEdgeCount] = {
    {1, 2, true},    {2, 3, false},   {3, 1, false},  // the triangle
    {4, 1, false},   {4, 2, false},   {4, 3, false},   {5, 1, false},   {5, 2, false},   {5, 3, false},
    {6, 1, false},   {6, 2, false},   {6, 5, false},   {7, 1, false},   {7, 2, false},   {7, 6, false},
    {8, 2, false},   {8, 6, false},   {8, 7, false},   {9, 2, false},   {9, 6, false},   {9, 8, false},
    {10, 2, true},   {10, 8, false},  {10, 9, false},  {11, 2, false},  {11, 8, false},  {11, 10, false},
    {12, 2, false},  {12, 10, false}, {12, 11, false}, {13, 2, false},  {13, 10, false}, {13, 12, false},
    {14, 10, false}, {14, 12, false}, {14, 13, false}, {15, 10, false}, {15, 12, false}, {15, 14, false},
    {16, 10, true},  {16, 14, false}, {16, 15, false}, {17, 10, false}, {17, 14, false}, {17, 16, false},
    {18, 10, false}, {18, 16, false}, {18, 17, false}, {19, 10, false}, {19, 16, false}, {19, 18, false},
};

namespace {

constexpr int kFigurePoints = 19;

// Everything the picture may touch: the cleared area, cut to the image.
QRect PictureRect(const QImage& image, const SceneStyle& style) {
  return QRect(0, 0, std::max(style.outerWidth, 0), std::max(style.panTop, 0)).intersected(image.rect());
}

// The font with smoothing off, so that numbers are drawn in their pure
// colour on their black boxes, pixel for pixel.
QFont CrispFont(const QFont& f) {
  QFont crisp(f);
  crisp.setStyleStrategy(QFont::NoAntialias);
  return crisp;
}

bool Is32Bit(QImage::Format f) {
  return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied;
}

// A 2 x 2 dot with its top-left pixel at (x, y); pixels outside `clip` are dropped.
void PutDot(QImage& image, const QRect& clip, std::int64_t x, std::int64_t y, const QColor& colour) {
  if (x + 1 < clip.left() || x > clip.right() || y + 1 < clip.top() || y > clip.bottom()) return;
  const QRgb rgb = colour.rgb();
  const bool fast = Is32Bit(image.format());
  for (std::int64_t py = y; py <= y + 1; ++py) {
    if (py < clip.top() || py > clip.bottom()) continue;
    for (std::int64_t px = x; px <= x + 1; ++px) {
      if (px < clip.left() || px > clip.right()) continue;
      if (fast)
        reinterpret_cast<QRgb*>(image.scanLine(int(py)))[px] = rgb;
      else
        image.setPixelColor(int(px), int(py), colour);
    }
  }
}

// A number as the window canvas draws it: the text in its colour on an
// opaque black box as wide as the text and as high as the font. Rendering
// text is by far the dearest part of a redraw, so every number is rendered
// once per font and colour and then only copied.
class LabelSprites {
 public:
  // Selects the font of the labels that follow; a new font drops the old labels.
  void Use(const QFont& font) {
    const QString key = font.key();
    if (key == fontKey_) return;
    fontKey_ = key;
    font_ = font;
    sprites_.clear();
  }
  const QImage& Get(int number, const QColor& colour) {
    const quint64 id = (quint64(colour.rgb()) << 32) | quint32(number);
    auto it = sprites_.find(id);
    if (it != sprites_.end()) return it.value();
    const QFontMetrics fm(font_);
    const QString text = QString::number(number);
    QImage sprite(std::max(fm.horizontalAdvance(text), 1), std::max(fm.height(), 1), QImage::Format_RGB32);
    sprite.fill(kBlack);
    {
      QPainter p(&sprite);
      p.setFont(font_);
      p.setPen(colour);
      p.drawText(0, fm.ascent(), text);
    }
    return sprites_.insert(id, sprite).value();
  }

 private:
  QString fontKey_;
  QFont font_;
  QHash<quint64, QImage> sprites_;
};

LabelSprites& Sprites() {
  static LabelSprites sprites;
  return sprites;
}

// Copies a label with its top-left corner at (x, y), cut to `clip`.
void PutLabel(QImage& image, const QRect& clip, std::int64_t x, std::int64_t y, const QImage& sprite) {
  if (x + sprite.width() <= clip.left() || x > clip.right() || y + sprite.height() <= clip.top() ||
      y > clip.bottom())
    return;
  const QRect target = QRect(int(x), int(y), sprite.width(), sprite.height()).intersected(clip);
  if (!Is32Bit(image.format())) {
    QPainter p(&image);
    p.drawImage(target.topLeft(), sprite, target.translated(-int(x), -int(y)));
    return;
  }
  const int sx = target.left() - int(x);
  for (int ty = target.top(); ty <= target.bottom(); ++ty) {
    const QRgb* from = reinterpret_cast<const QRgb*>(sprite.constScanLine(ty - int(y))) + sx;
    QRgb* to = reinterpret_cast<QRgb*>(image.scanLine(ty)) + target.left();
    std::copy(from, from + target.width(), to);
  }
}

}  // namespace

QFont PictureFont() { return WindowFont(11); }

QColor SlotColour(int slot, int taonCount, const SceneStyle& style) {
  if (style.taoscope) return (slot % 2 != 0) ? kRed : kLime;
  return slot <= taonCount - style.secondKindCount ? kLime : kYellow;
}

void ClearPicture(QImage& image, const SceneStyle& style) {
  const QRect r = PictureRect(image, style);
  if (r.isEmpty()) return;
  if (Is32Bit(image.format())) {
    // Cleared before every step's drawing: one row by hand, the others
    // copied from it, which is several times faster than storing pixel by
    // pixel.
    const QRgb black = kBlack.rgb();
    const std::size_t bytes = std::size_t(r.width()) * sizeof(QRgb);
    QRgb* first = reinterpret_cast<QRgb*>(image.scanLine(r.top())) + r.left();
    std::fill(first, first + r.width(), black);
    for (int y = r.top() + 1; y <= r.bottom(); ++y)
      std::memcpy(reinterpret_cast<QRgb*>(image.scanLine(y)) + r.left(), first, bytes);
    return;
  }
  QPainter p(&image);
  p.fillRect(r, kBlack);
}

namespace {

// The part of `clip` that an item of w x h pixels at (x, y) covers.
QRect Covered(const QRect& clip, std::int64_t x, std::int64_t y, int w, int h) {
  const std::int64_t l = std::max<std::int64_t>(x, clip.left()), t = std::max<std::int64_t>(y, clip.top());
  const std::int64_t r = std::min<std::int64_t>(x + w - 1, clip.right());
  const std::int64_t b = std::min<std::int64_t>(y + h - 1, clip.bottom());
  if (l > r || t > b) return {};
  return QRect(QPoint(int(l), int(t)), QPoint(int(r), int(b)));
}

// What the last particle drawing lit, and on which image: the image's key
// right after it (any later change to the image changes the key) and the
// cleared area.
struct LitByLastDrawing {
  qint64 key = 0;
  QRect area;
  std::vector<QRect> rects;
};

LitByLastDrawing& LastDrawing() {
  static LitByLastDrawing last;
  return last;
}

}  // namespace

void DrawParticles(QImage& image, SimState& s, const SceneStyle& style) {
  ProjectParticles(s);
  const QRect clip = PictureRect(image, style);
  LitByLastDrawing& last = LastDrawing();
  if (Is32Bit(image.format()) && last.key != 0 && image.cacheKey() == last.key && clip == last.area) {
    // Nothing has touched the picture since the last drawing, so it is black
    // but for what that drawing lit: blackening that is the same as clearing
    // the whole area, at a fraction of the cost, after every step of a run.
    const QRgb black = kBlack.rgb();
    for (const QRect& r : last.rects)
      for (int y = r.top(); y <= r.bottom(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(row + r.left(), row + r.right() + 1, black);
      }
  } else {
    ClearPicture(image, style);
  }
  last.rects.clear();
  const int count = LastSlot(s);

  for (int slot = 1; slot <= count; ++slot) {
    if (!s.Present[slot]) continue;
    PutDot(image, clip, s.ScreenX[slot], s.ScreenY[slot], SlotColour(slot, s.TaonCount, style));
    const QRect lit = Covered(clip, s.ScreenX[slot], s.ScreenY[slot], 2, 2);
    if (!lit.isEmpty()) last.rects.push_back(lit);
  }

  if (style.numbersOn && !clip.isEmpty()) {
    LabelSprites& sprites = Sprites();
    sprites.Use(CrispFont(style.font));
    for (int slot = 1; slot <= count; ++slot) {
      if (!s.Present[slot]) continue;
      const std::int64_t x = std::int64_t(s.ScreenX[slot]) + 2, y = std::int64_t(s.ScreenY[slot]) + 2;
      const QImage& sprite = sprites.Get(slot, SlotColour(slot, s.TaonCount, style));
      PutLabel(image, clip, x, y, sprite);
      const QRect lit = Covered(clip, x, y, sprite.width(), sprite.height());
      if (!lit.isEmpty()) last.rects.push_back(lit);
    }
  }
  last.key = image.cacheKey();
  last.area = clip;
}

void DrawFigure(QImage& image, SimState& s, const SceneStyle& style) {
  BuildStepMatrix(s);
  ClearPicture(image, style);
  RotateFigurePoints(s, kFigurePoints);

  const QRect clip = PictureRect(image, style);
  if (clip.isEmpty()) return;
  // Move-to and line-to: each edge lights its start pixel but not its end
  // pixel, pixel for pixel as the integer line rule says; a painter's pen
  // would light both ends and round differently.
  const PixelClip pixels{clip.left(), clip.top(), clip.right(), clip.bottom()};
  const bool fast = Is32Bit(image.format());
  for (const FigureEdge& e : kFigureEdges) {
    const QColor& colour = e.white ? kWhite : kRed;
    const QRgb rgb = colour.rgb();
    RasterLine(s.ScreenX[e.from], s.ScreenY[e.from], s.ScreenX[e.to], s.ScreenY[e.to], pixels,
               [&](std::int64_t x, std::int64_t y) {
                 if (fast)
                   reinterpret_cast<QRgb*>(image.scanLine(int(y)))[x] = rgb;
                 else
                   image.setPixelColor(int(x), int(y), colour);
               });
  }

  if (!style.numbersOn) return;
  LabelSprites& sprites = Sprites();
  sprites.Use(CrispFont(style.font));
  for (int k = 1; k <= kFigurePoints; ++k)
    PutLabel(image, clip, s.ScreenX[k], s.ScreenY[k], sprites.Get(k, kLime));
}

}  // namespace qd
