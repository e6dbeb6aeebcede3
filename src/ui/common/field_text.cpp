#include "ui/common/field_text.h"

#include <QFile>
#include <QLineEdit>

namespace qd {

std::string PathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString PathText(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

void ShowFieldText(QLineEdit* field, const QString& text) {
  field->setText(text);
  field->setCursorPosition(0);
}

}  // namespace qd
