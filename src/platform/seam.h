// What the seam shares among its own files and keeps from the stages: the
// system's words for a failure, the clean-up signals, names made unique, and on
// Windows the paths the wide calls take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/files.h"

namespace wldmap {
namespace platform {

// `what` followed by ": " and the system's text for the last error of this
// thread (errno, or GetLastError on Windows).
std::string withReason(const std::string& what);

// The system's text for error code `code`, without a line end.
std::string reasonText(int code);

// Holds the clean-up signals (SIGINT, SIGTERM, SIGHUP and SIGQUIT; on Windows
// the console's Ctrl+C and close events) back on this thread while it lives:
// one that arrives meanwhile is delivered, to the handler then in place, when
// it ends. On Windows, where console events come on a thread of their own, such
// an event waits until then before the process ends.
class HeldSignals {
 public:
  HeldSignals();
  ~HeldSignals();
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  struct Previous;
  std::unique_ptr<Previous> previous_;
};

// Runs `step` with the clean-up signals held back on this thread, as a
// HeldSignals does. (On Windows nothing is held: see the console handler.)
void withSignalsHeld(const std::function<void()>& step);

// From now on, until unwatchFiles(), a clean-up signal removes `temporary` and
// then `copy`, each unless empty, before the process ends as the signal says.
// False, and nothing watched, when a path is too long to keep. Call it with the
// signals held.
bool watchFiles(const std::string& temporary, const std::string& copy);

// Takes a clean-up signal that came while the signals were held as having come
// once the run was over: it ends nothing. Call it with the signals held, once
// the work they were held for is done.
void discardHeldSignals();

// From now on, until unwatchFiles(), a clean-up signal cuts the file open on
// `handle` back to nothing before the process ends (POSIX; nothing on
// Windows).
void watchDescriptor(intptr_t handle);

// No file is removed or cut by a signal any more. Call it with the signals held.
void unwatchFiles();

// This process's number, which makes its temporary names its own.
unsigned long processNumber();

// What making a file of a given name came to.
enum class Made { kMade, kTaken, kFailed };

// The first name `base` + `kind` + this process's number + "-" + n, for n from
// 0 to 100, that `make` makes; empty when all are taken, or when `make` failed.
inline std::string firstFreeName(const std::string& base, const char* kind,
                                 const std::function<Made(const std::string& name)>& make) {
  const std::string stem = base + kind + std::to_string(processNumber()) + "-";
  for (int attempt = 0; attempt <= 100; ++attempt) {
    std::string name = stem + std::to_string(attempt);
    const Made made = make(name);
    if (made == Made::kMade) return name;
    if (made == Made::kFailed) break;
  }
  return std::string();
}

// The calls a safe save is made of, one system's each (a handle is a file
// descriptor on POSIX, a HANDLE on Windows). The save itself, in save.cpp, is
// written once above them.

// Creates `path` exclusively, for writing, with the permissions a new file
// gets (the umask decides); its handle in `handle`. kFailed leaves the
// system's error code in `error`.
Made createNew(const std::string& path, intptr_t& handle, int& error);

// Creates a file without a name in the folder of `target`, for writing, with
// the permissions a new file gets: until linkUnnamed names it, nothing is left
// of it when the process ends, however it ends. kFailed with `error` 0 where
// the system or the file system has no such files.
Made createUnnamed(const std::string& target, intptr_t& handle, int& error);

// Gives the unnamed file on `handle` the name `name`: kTaken when `name` exists
// already, kFailed (with the system's `error`) otherwise.
Made linkUnnamed(intptr_t handle, const std::string& name, int& error);

// The older `target`, opened for reading so that its bytes can be put back
// after it has been replaced; -1 when it is no regular file or cannot be
// opened.
intptr_t openOlder(const std::string& target);

// Writes all of `data` at the handle's position, going on after a signal.
// Throws SystemError ("cannot write it").
void writeAll(intptr_t handle, const char* data, size_t size);

// Whether `target` exists. Where it is a regular file whose permissions a
// rename would not keep (POSIX), the file on `handle` is given them; a file
// system that keeps none is a warning to `onWarning`. Throws SystemError.
bool adoptPermissions(intptr_t handle, const std::string& target,
                      const WarningHandler& onWarning);

// Syncs the file on `handle` to the disk and closes it, whatever happens.
// Throws SystemError ("cannot write it").
void syncAndClose(intptr_t handle);

// Closes `handle`, with nothing to report.
void closeQuietly(intptr_t handle);

// Makes `name` a second name of the file `target` names: kTaken when `name`
// exists, kFailed where the file system (or the system) has no hard links.
Made linkAs(const std::string& target, const std::string& name);

// Puts the file at `path` in `target`'s place in one step, over any file
// there. Throws SystemError ("cannot replace it").
void replaceWith(const std::string& path, const std::string& target);

// Renames `path` to `target`: 0, or the system's error code.
int renameOver(const std::string& path, const std::string& target);

// Removes `path`: 0 (also when it is gone already), or the system's error code.
int removeFile(const std::string& path);

// The folder that holds `target`, open so that a rename in it can be made
// durable; on a system where a rename lasts once made (Windows) it does
// nothing.
class FolderOf {
 public:
  // Throws SystemError ("cannot open its folder").
  explicit FolderOf(const std::string& target);
  ~FolderOf();
  FolderOf(const FolderOf&) = delete;
  FolderOf& operator=(const FolderOf&) = delete;
  // Syncs the folder: 0, or the system's error code.
  int sync() const;

 private:
  intptr_t handle_;
};

// The calls an output written into is made of, one system's each.

// Opens the existing `path` for reading and writing; -1 when there is none.
// Throws SystemError: "is a folder" and "is not a regular file" for anything
// but a regular file, which is refused without waiting on it, and "cannot
// open" with the system's reason.
intptr_t openExisting(const std::string& path);

// The file `path` names: through a symbolic link, the file the link names;
// else `path` itself.
std::string linkTarget(const std::string& path);

// Waits until no other writer holds the whole file, then holds it until the
// handle is closed; a file system without locks goes unlocked. A signal ends
// the wait as it ends any other. Throws SystemError ("cannot open").
void lockWhole(intptr_t handle);

// The size of the file open on `handle`, when `path` still names it; none when
// another program has removed or replaced it meanwhile.
std::optional<uint64_t> sizeIfNamed(intptr_t handle, const std::string& path);

// Syncs the file on `handle` to the disk: 0, or the system's error code.
int syncHandle(intptr_t handle);

// Reads up to `size` bytes at `offset`; 0 only at the file's end. Throws
// SystemError ("cannot read it").
size_t readAt(intptr_t handle, uint64_t offset, char* data, size_t size);

// Cuts (or extends) the file to `size` bytes: 0, or the system's error code.
int cutAt(intptr_t handle, uint64_t size);

// Closes `handle`: 0, or the system's error code.
int closeHandle(intptr_t handle);

#ifdef _WIN32
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
#else
// `argv0` made absolute when it names a folder, else the first executable file
// of that name along PATH (an empty entry is the current folder); empty when
// there is none. For systems that cannot name their running executable.
std::string startedPath(const std::string& argv0);
#endif

}  // namespace platform
}  // namespace wldmap
