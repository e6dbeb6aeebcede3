#include "core/editing/number_text.h"

#include <stdexcept>

namespace qd {

char LocaleDecimalSeparator() { return '.'; }
std::string FloatToText(Extended, char) { throw std::logic_error("FloatToText: not built yet"); }
Extended TextToFloat(const std::string&, char) { throw std::logic_error("TextToFloat: not built yet"); }
std::int32_t TextToInteger(const std::string&) { throw std::logic_error("TextToInteger: not built yet"); }
bool KeyAccepted(char32_t c) { return (c >= U'0' && c <= U'9') || c == U',' || c == U'-' || c == U'.' || c == 8; }

}  // namespace qd
