#include "ui/editing/key_filter.h"

namespace qd {

void InstallNumericKeyFilter(QLineEdit*) {}

}  // namespace qd
