#include "ui/common/designed_look.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QProxyStyle>
#include <QRadioButton>
#include <QStyleOptionComplex>
#include <QTabBar>

namespace qd {
namespace {

class DesignedLookStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    switch (metric) {
      case PM_TabBarTabHSpace:
        return 10;  // narrow tabs: both page tabs end left of the sign-mode buttons
      case PM_CheckBoxLabelSpacing:
      case PM_RadioButtonLabelSpacing:
        return 4;
      default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
  }

  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                       const QWidget* widget) const override {
    QRect r = QProxyStyle::subControlRect(control, option, sub, widget);
    // The caption starts inside the frame, so that a frame placed a few
    // pixels left of its page still shows its caption's first letter.
    if (control == CC_GroupBox && sub == SC_GroupBoxLabel) r.translate(kGroupCaptionIndent, 0);
    return r;
  }

 private:
  static constexpr int kGroupCaptionIndent = 8;
};

}  // namespace

void UseDesignedLook(QWidget* window) {
  auto* style = new DesignedLookStyle;
  style->setParent(window);
  for (QWidget* w : window->findChildren<QWidget*>())
    if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w) || qobject_cast<QGroupBox*>(w) ||
        qobject_cast<QTabBar*>(w))
      w->setStyle(style);
}

}  // namespace qd
