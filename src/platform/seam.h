// What the seam shares among its own files and keeps from the stages: the
// system's words for a failure, the clean-up signals (POSIX), names made
// unique, and on Windows the paths the wide calls take. Every call here that
// can fail throws SystemError.
#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/files.h"

namespace wldmap {
namespace platform {

// `what` followed by ": " and the system's text for the last error of this
// thread (errno, or GetLastError on Windows).
std::string withReason(const std::string& what);

// The system's text for error code `code`, without a line end.
std::string reasonText(int code);

// This process's number, which makes its temporary names its own.
unsigned long processNumber();

// The first name `base` + `kind` + this process's number + "-" + n, for n from
// 0 to 100, that `make` makes (true; false when the name is taken); empty when
// all are taken. What `make` throws passes through.
inline std::string firstFreeName(const std::string& base, const char* kind,
                                 const std::function<bool(const std::string& name)>& make) {
  const std::string stem = base + kind + std::to_string(processNumber()) + "-";
  for (int attempt = 0; attempt <= 100; ++attempt) {
    std::string name = stem + std::to_string(attempt);
    if (make(name)) return name;
  }
  return std::string();
}

#ifndef _WIN32
// Holds the clean-up signals (SIGINT, SIGTERM, SIGHUP and SIGQUIT) back on this
// thread while it lives: one that arrives meanwhile is delivered, to the
// handler then in place, when it ends, unless it is kept. Allocates nothing.
class HeldSignals {
 public:
  HeldSignals();
  ~HeldSignals();
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;
  // Keeps the signals held after this goes, until the process ends: one that
  // comes is taken as having come after the run.
  void keep() { kept_ = true; }

 private:
  sigset_t previous_;
  bool kept_ = false;
};

// From now on, until unwatchFiles(), a clean-up signal removes `temporary` and
// then `copy`, each unless empty, before the process ends as the signal says.
// False, and nothing watched, when a path is too long to keep. Call it with the
// signals held.
bool watchFiles(const std::string& temporary, const std::string& copy);

// From now on, until unwatchFiles(), a clean-up signal cuts the file open on
// descriptor `fd` back to nothing before the process ends.
void watchDescriptor(int fd);

// No file is removed or cut by a signal any more. Call it with the signals held.
void unwatchFiles();

// `argv0` made absolute when it names a folder, else the first executable file
// of that name along PATH (an empty entry is the current folder); empty when
// there is none. For systems that cannot name their running executable.
std::string startedPath(const std::string& argv0);
#else
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
#endif

}  // namespace platform
}  // namespace wldmap
