#pragma once
// The few measures of the style that the designed layout depends on: the
// padding of tabs, the gap between a check box or radio button and its
// caption, and the indent of a group frame's caption. The toolkit's own style
// is kept for everything else.
class QWidget;

namespace qd {

// Gives every check box, radio button, group frame and tab row inside
// `window` those measures. Call once the window's controls exist.
void UseDesignedLook(QWidget* window);

}  // namespace qd
