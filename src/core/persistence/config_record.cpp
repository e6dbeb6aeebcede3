#include "core/persistence/config_record.h"

#include <stdexcept>

namespace qd {

void FillConfigRecord(SimState&) { throw std::logic_error("FillConfigRecord: not built yet"); }
void ApplyConfigRecord(SimState&) { throw std::logic_error("ApplyConfigRecord: not built yet"); }
void ReadConfigFile(SimState&, const std::string&) { throw std::logic_error("ReadConfigFile: not built yet"); }
void WriteConfigFile(const SimState&, const std::string&) { throw std::logic_error("WriteConfigFile: not built yet"); }

}  // namespace qd
