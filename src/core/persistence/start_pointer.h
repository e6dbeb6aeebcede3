#pragma once
// The start-pointer file: its first line names the configuration loaded at
// start-up.
#include <string>

#include "core/state/sim_state.h"

namespace qd {

// $XDG_CONFIG_HOME/quindelle/Start.pln3, or $HOME/.config/quindelle/Start.pln3.
std::string StartPointerPath();

// Whether the file opens for reading; never throws.
bool StartPointerExists(const std::string& path);
// The first line (ending at LF, CR LF or CR, or at the end). Throws FileError.
std::string ReadStartPointer(const std::string& path);
// Creates the file empty, with its folder. Throws FileError.
void CreateStartPointer(const std::string& path);
// Rewrites the file to hold exactly `name`, no line break. Throws FileError.
void WriteStartPointer(const std::string& path, const std::string& name);

// StartFileName := CurrentName, then the file is rewritten to hold it.
void RememberStartName(SimState& s, const std::string& path);

}  // namespace qd
