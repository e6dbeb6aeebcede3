// quindelle-run: the headless batch runner.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void AskToStop(int sig) { stopSignal = sig; }

}  // namespace

int main(int argc, char** argv) {
  // The run stops at its next step and removes its unfinished files, where
  // the default action would leave them behind.
  struct sigaction action {};
  action.sa_handler = AskToStop;
  sigemptyset(&action.sa_mask);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);

  std::vector<std::string> args(argv + 1, argv + argc);
  const auto start = std::chrono::steady_clock::now();
  qd::cli::Console console{
      std::cout, std::cerr, isatty(STDERR_FILENO) != 0,
      [start] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); },
      [] { return static_cast<int>(stopSignal); }};
  return qd::cli::Main(args, console);
}
