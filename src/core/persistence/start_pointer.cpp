#include "core/persistence/start_pointer.h"

#include <stdexcept>

namespace qd {

std::string StartPointerPath() { throw std::logic_error("StartPointerPath: not built yet"); }
bool StartPointerExists(const std::string&) { return false; }
std::string ReadStartPointer(const std::string&) { throw std::logic_error("ReadStartPointer: not built yet"); }
void CreateStartPointer(const std::string&) { throw std::logic_error("CreateStartPointer: not built yet"); }
void WriteStartPointer(const std::string&, const std::string&) { throw std::logic_error("WriteStartPointer: not built yet"); }
void RememberStartName(SimState&, const std::string&) { throw std::logic_error("RememberStartName: not built yet"); }

}  // namespace qd
