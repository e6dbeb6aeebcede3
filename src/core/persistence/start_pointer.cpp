#include "core/persistence/start_pointer.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/persistence/file_io.h"

namespace qd {
namespace {

constexpr const char* kFolder = "quindelle";
constexpr const char* kFileName = "Start.pln3";

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return ".";
}

// Creates every missing folder on the way to `dir` (private to the user, as
// configuration folders are). 0 or an errno.
int MakeFolders(const std::string& dir) {
  std::size_t pos = dir.find('/', 1);
  for (;;) {
    const std::string part = pos == std::string::npos ? dir : dir.substr(0, pos);
    struct stat st;
    if (::stat(part.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    } else if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      return errno;
    }
    if (pos == std::string::npos) return 0;
    pos = dir.find('/', pos + 1);
  }
}

void MakeFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return;
  if (const int e = MakeFolders(path.substr(0, slash))) ThrowFileError(e);
}

}  // namespace

std::string StartPointerPath() {
  // A relative XDG_CONFIG_HOME is to be ignored, as for every program that
  // follows the convention.
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
    base = xdg;
  else
    base = HomeFolder() + "/.config";
  return base + "/" + kFolder + "/" + kFileName;
}

bool StartPointerExists(const std::string& path) { return CanOpenForReading(path); }

std::string ReadStartPointer(const std::string& path) {
  const std::vector<std::uint8_t> data = ReadWholeFile(path);
  std::string line;
  for (std::uint8_t b : data) {
    if (b == '\n' || b == '\r') break;
    line += static_cast<char>(b);
  }
  return line;
}

void CreateStartPointer(const std::string& path) {
  MakeFolderOf(path);
  WriteFileSafely(path, "", 0);
}

void WriteStartPointer(const std::string& path, const std::string& name) {
  MakeFolderOf(path);
  WriteFileSafely(path, name.data(), name.size());
}

void RememberStartName(SimState& s, const std::string& path) {
  s.StartFileName = s.CurrentName;
  WriteStartPointer(path, s.StartFileName);
}

}  // namespace qd
