// File names as this system reads them: its naming rules, and the one full
// path a name stands for.
#pragma once

#include <string>

#include "platform/system_error.h"

namespace wldmap {
namespace platform {

// Whether file names must also follow Windows' rules: no < > : " | ? *, no device
// names such as CON or aux.txt, and valid UTF-8 only.
extern const bool kWindowsFileNames;

// The path that names the file `path` names for the rest of the run, whatever
// the current folders do: on Windows the full path, resolved against the
// current folder of the path's drive (Z:name), which every later call is given
// instead of a relative path; on POSIX `path` as given, since the one current
// folder resolves it alike every time and a full path could pass PATH_MAX where
// the relative one does not. Throws SystemError when it cannot be resolved.
std::string fullPath(const std::string& path);

}  // namespace platform
}  // namespace wldmap
