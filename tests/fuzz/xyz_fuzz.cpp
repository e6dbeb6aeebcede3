// The extended XYZ reader over any text: every frame parsed and installed,
// then the file read the way --from and the Python module read it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/batch/start_from.h"
#include "core/common/errors.h"
#include "core/persistence/xyz.h"
#include "fuzz_support.h"

namespace {
constexpr std::size_t kLongestMessage = 300;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qd;
  static fuzz::ScratchFile file("fuzz.xyz");
  const std::string text(reinterpret_cast<const char*>(data), size);

  std::size_t frames = 0;
  bool parsed = true;
  try {
    for (const XyzFrame& f : ParseXyz(text)) {
      const std::string which = "in frame " + std::to_string(frames);
      QD_FUZZ_CHECK(f.count >= 0 && f.count <= kSlotCount, which);
      QD_FUZZ_CHECK(f.Present[0] == 0, which);
      const auto present =
          std::count_if(f.Present.begin(), f.Present.end(), [](std::uint8_t p) { return p != 0; });
      QD_FUZZ_CHECK(present == f.count, which);
      RunState s;
      InstallXyzFrame(s, f);
      ++frames;
    }
  } catch (const FileError& e) {
    // A message quotes a short piece of the file, never a whole line.
    QD_FUZZ_CHECK(std::strlen(e.what()) <= kLongestMessage, e.what());
    parsed = false;
  }

  // The file says the same as the text, except that it refuses binary data.
  file.Write(data, size);
  const bool binary = std::find(text.begin(), text.end(), '\0') != text.end();
  const bool readable = parsed && frames > 0 && !binary;
  for (const std::string& from : {file.Path(), file.Path() + "@0"}) {
    RunState s;
    bool read = true;
    try {
      batch::InstallStartFrom(s, from);
    } catch (const FileError& e) {
      QD_FUZZ_CHECK(std::strlen(e.what()) <= kLongestMessage, e.what());
      read = false;
    }
    QD_FUZZ_CHECK(read == readable, from);
  }
  return 0;
}
