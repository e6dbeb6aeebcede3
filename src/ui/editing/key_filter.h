#pragma once
class QLineEdit;

namespace qd {

// Lets through only the characters a number can be typed with (digits, ',',
// '-', '.', backspace); keys that type no character (Enter among them, for
// the default button) pass untouched, and the clipboard shortcuts are refused.
void InstallNumericKeyFilter(QLineEdit* field);

}  // namespace qd
