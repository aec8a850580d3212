// Inside the seam: the system's own words for why a call failed.
#pragma once

#include <string>

namespace wldmap {
namespace platform {

// `what` followed by ": " and the system's text for the last error of this
// thread (errno, or GetLastError on Windows).
std::string withReason(const std::string& what);

// The system's text for error code `code`, without a line end.
std::string reasonText(int code);

}  // namespace platform
}  // namespace wldmap
