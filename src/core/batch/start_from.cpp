#include "core/batch/start_from.h"

#include <charconv>

#include "core/common/errors.h"
#include "core/persistence/xyz.h"

namespace qd::batch {

StartPointer SplitStartPointer(const std::string& text) {
  const std::size_t at = text.rfind('@');
  if (at == std::string::npos || at == 0) return {text, std::nullopt};
  // A file whose name holds an '@' stays one name unless a number follows.
  const char* first = text.data() + at + 1;
  const char* last = text.data() + text.size();
  long index = 0;
  const auto r = std::from_chars(first, last, index);
  if (first == last || r.ec != std::errc() || r.ptr != last) return {text, std::nullopt};
  return {text.substr(0, at), index};
}

void InstallStartFrom(RunState& s, const std::string& from) {
  const StartPointer p = SplitStartPointer(from);
  if (IsXyzName(p.path)) {
    InstallXyzFrame(s, ReadXyzFrame(p.path, p.index));
    return;
  }
  throw FileError("not a file to start from (--from takes an extended XYZ file, .xyz or .extxyz)");
}

}  // namespace qd::batch
