// The one error the platform seam throws, and where its warnings go.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace wldmap {
namespace platform {

// A failed system call; what() names the operation and the system's reason.
class SystemError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Receives what went wrong without failing the call: one line, no line end.
using WarningHandler = std::function<void(const std::string& warning)>;

}  // namespace platform
}  // namespace wldmap
