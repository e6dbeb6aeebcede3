#pragma once
// The error kinds the program reports to the user. Each carries the exact
// text the user sees in the error box.
#include <stdexcept>
#include <string>

namespace qd {

// A floating-point fault: invalid operation, division by zero or overflow.
class FpFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file operation failed ("File not found", "Disk full", ...).
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Text that is not a number ("'%s' is not a valid floating point value").
class ConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace qd
