#include "core/persistence/commentary.h"

#include <stdexcept>

namespace qd {

std::string CommentaryFileName(const std::string&) { throw std::logic_error("CommentaryFileName: not built yet"); }
std::string ReadCommentary(const std::string&) { throw std::logic_error("ReadCommentary: not built yet"); }
void WriteCommentary(const std::string&, const std::string&) { throw std::logic_error("WriteCommentary: not built yet"); }

}  // namespace qd
