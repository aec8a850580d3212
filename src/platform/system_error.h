// The one error the platform seam throws.
#pragma once

#include <stdexcept>

namespace wldmap {
namespace platform {

// A failed system call; what() names the operation and the system's reason.
class SystemError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace platform
}  // namespace wldmap
