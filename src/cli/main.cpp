// quindelle-run: the headless batch runner.
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "core/batch/batch_run.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const auto start = std::chrono::steady_clock::now();
  qd::batch::Console console{
      std::cout, std::cerr, isatty(STDERR_FILENO) != 0,
      [start] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); }};
  return qd::batch::Main(args, console);
}
