#include "core/batch/start_from.h"

#include <sys/stat.h>

#include <charconv>

#include "core/common/errors.h"
#include "core/persistence/xyz.h"

namespace qd::batch {

StartPointer SplitStartPointer(const std::string& text) {
  StartPointer p{text, std::nullopt, IsXyzName(text), {}};
  const std::size_t at = text.rfind('@');
  if (at == std::string::npos || at == 0) return p;
  const std::string path = text.substr(0, at);
  if (!IsXyzName(path)) return p;
  p.xyz = true;
  // A file whose name holds an '@' stays one name: "e.xyz@1" that exists is
  // that file.
  struct stat st;
  if (::stat(text.c_str(), &st) == 0) return p;
  p.path = path;
  // A sign, a blank or anything after the digits is no frame number.
  const std::string number = text.substr(at + 1);
  const char* first = number.data();
  const char* last = first + number.size();
  long index = 0;
  const auto r = std::from_chars(first, last, index);
  const bool digits = !number.empty() && (number[0] == '-' || (number[0] >= '0' && number[0] <= '9'));
  if (!digits || r.ec == std::errc::invalid_argument || r.ptr != last)
    p.problem = "frame " + XyzQuote(number) + " is not a whole number";
  else if (r.ec != std::errc())
    p.problem = "frame " + XyzQuote(number) + " is too far from 0";
  else
    p.index = index;
  return p;
}

void InstallStartFrom(RunState& s, const std::string& from, int secondKindCount) {
  const StartPointer p = SplitStartPointer(from);
  if (!p.problem.empty()) throw FileError(p.problem);
  if (p.xyz) {
    InstallXyzFrame(s, ReadXyzFrame(p.path, p.index, secondKindCount));
    return;
  }
  throw FileError("not a file to start from (--from takes an extended XYZ file, .xyz or .extxyz)");
}

}  // namespace qd::batch
