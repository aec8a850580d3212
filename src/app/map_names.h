// A map's path: the world's folder, and the world's own name made safe as a file
// name.
#pragma once

#include <string>

namespace wldmap {

// The folder part of a path: up to and including its last '/' or '\', or empty.
// With `windowsRules`, the folder of a drive-relative path such as Z:w.wld is Z:
// (the current folder of that drive).
std::string folderOf(const std::string& path, bool windowsRules);

// The world's name as a file name. Everywhere: '/', '\', control characters (C0,
// DEL, and C1 whether encoded in UTF-8 or as bare bytes) become '_'. With
// `windowsRules` also: < > : " | ? * and every byte that is not part of valid
// UTF-8 become '_', and a device name (CON, aux, CONIN$, LPT1, COM0 and the like,
// alone or before a dot) gets a leading '_'.
std::string safeFileName(const std::string& name, bool windowsRules);

}  // namespace wldmap
