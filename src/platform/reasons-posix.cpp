#include "platform/reasons.h"

#include <cerrno>
#include <cstring>

namespace wldmap {
namespace platform {

std::string withReason(const std::string& what) { return what + ": " + reasonText(errno); }

std::string reasonText(int code) { return std::strerror(code); }

}  // namespace platform
}  // namespace wldmap
