#pragma once
// Switches LC_NUMERIC to a locale with a decimal comma for the lifetime of
// the object, so that the locale-dependent paths run with both separators.
#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/editing/number_text.h"
#include "test_files.h"

namespace qd::testing {

// Switches LC_NUMERIC to a locale with a decimal comma: an installed one, or
// else a minimal one compiled into a scratch folder. Restores everything.
class CommaNumericLocale {
 public:
  CommaNumericLocale() {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    saved_ = previous ? previous : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8"})
      if (std::setlocale(LC_NUMERIC, name) != nullptr) return;
    const std::string src = dir_ / "comma.src";
    WriteText(src,
              "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"<U002E>\"\n"
              "grouping 3;3\nEND LC_NUMERIC\n");
    const std::string cmd =
        "localedef -c -i '" + src + "' -f UTF-8 '" + (dir_ / "qd_comma.UTF-8") + "' >/dev/null 2>&1";
    [[maybe_unused]] const int rc = std::system(cmd.c_str());  // warnings give a non-zero status
    if (const char* old = std::getenv("LOCPATH")) oldLocpath_ = old;
    ::setenv("LOCPATH", dir_.path().c_str(), 1);
    if (std::setlocale(LC_NUMERIC, "qd_comma.UTF-8") == nullptr) restore();
  }
  ~CommaNumericLocale() { restore(); }
  bool active() const { return LocaleDecimalSeparator() == ','; }

 private:
  void restore() {
    std::setlocale(LC_NUMERIC, saved_.c_str());
    if (oldLocpath_)
      ::setenv("LOCPATH", oldLocpath_->c_str(), 1);
    else
      ::unsetenv("LOCPATH");
  }
  TempDir dir_;
  std::string saved_;
  std::optional<std::string> oldLocpath_;
};

}  // namespace qd::testing
