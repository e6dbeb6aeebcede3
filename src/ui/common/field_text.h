#pragma once
// How the program puts text into its one-line fields, and how file names
// travel between the file system and the window.
#include <QString>
#include <string>

class QLineEdit;

namespace qd {

// File names are the file system's bytes; the window shows them decoded.
std::string PathBytes(const QString& path);
QString PathText(const std::string& path);

// Every field the program fills shows the start of its text, as a freshly
// shown field does: a long number or path shows its leading digits or
// folders, never only its tail.
void ShowFieldText(QLineEdit* field, const QString& text);

}  // namespace qd
