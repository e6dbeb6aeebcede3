// Feeds files to a fuzz target's entry function without libFuzzer, so that
// the corpus (and every crash input added to it) runs as a test in every
// build. Arguments: files or folders (each file in a folder, in name order).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int Replay(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  std::printf("%s (%zu bytes)\n", path.c_str(), data.size());
  std::fflush(stdout);
  LLVMFuzzerTestOneInput(data.data(), data.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  int failed = 0, files = 0;
  for (int a = 1; a < argc; ++a) {
    std::vector<fs::path> paths;
    if (fs::is_directory(argv[a])) {
      for (const auto& e : fs::directory_iterator(argv[a]))
        if (e.is_regular_file()) paths.push_back(e.path());
      std::sort(paths.begin(), paths.end());
    } else {
      paths.emplace_back(argv[a]);
    }
    for (const auto& p : paths) {
      failed += Replay(p);
      ++files;
    }
  }
  if (files == 0) {
    std::fprintf(stderr, "no input files\n");
    return 1;
  }
  return failed == 0 ? 0 : 1;
}
