// Inside the seam on Windows: UTF-8 and UTF-16, and paths as the wide file
// calls take them.
#pragma once

#include <string>

namespace wldmap {
namespace platform {

// UTF-8 to UTF-16 and back.
std::wstring widen(const std::string& utf8);
std::string narrow(const wchar_t* wide, size_t size);

// `utf8` resolved to a full path (\\?\ paths are full already). Throws
// SystemError when the system cannot resolve it; never falls back to the path
// as given.
std::wstring resolve(const std::string& utf8);

// A path for the wide file calls: in full, and with the \\?\ prefix once it
// reaches MAX_PATH, which lifts the limit on every Windows. Throws SystemError.
std::wstring filePath(const std::string& utf8);

}  // namespace platform
}  // namespace wldmap
