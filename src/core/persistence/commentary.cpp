#include "core/persistence/commentary.h"

#include <cstring>

#include "core/common/errors.h"
#include "core/persistence/file_io.h"

namespace qd {

std::string CommentaryFileName(const std::string& currentName) {
  // The last four characters, counted as UTF-8 characters so that a name
  // ending in non-ASCII letters is never cut inside a character.
  std::size_t cut = currentName.size();
  int removed = 0;
  while (removed < 4 && cut > 0) {
    --cut;
    if ((static_cast<unsigned char>(currentName[cut]) & 0xC0) != 0x80) ++removed;
  }
  if (removed < 4) cut = currentName.size();  // shorter than four characters: kept whole
  return currentName.substr(0, cut) + ".txt";
}

std::string ReadCommentary(const std::string& path) {
  std::vector<std::uint8_t> data;
  // The caller has just seen the file open; a failure now is reported with
  // the system's own words.
  if (const int err = TryReadWholeFile(path, data))
    throw FileError("Cannot open file \"" + path + "\". " + std::strerror(err));
  std::string text;
  text.reserve(data.size() + data.size() / 16);
  for (std::size_t i = 0; i < data.size(); ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\r') {
      text += "\r\n";
      if (i + 1 < data.size() && data[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      text += "\r\n";
    } else {
      text += c;
    }
  }
  return text;
}

void WriteCommentary(const std::string& path, const std::string& text) {
  const auto failure = TryWriteFileSafely(path, text.data(), text.size());
  if (!failure) return;
  if (failure->stage == WriteFailure::Stage::Write)
    throw FileError("Cannot create file \"" + path + "\". " + std::strerror(failure->err));
  ThrowFileError(failure->err);
}

}  // namespace qd
