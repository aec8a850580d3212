// The safe save on Windows, and the output a thumbnail service names. A save:
// a new file beside the target with a temporary name, which Ctrl+C or closing
// the console removes; written and flushed; put in the target's place by
// ReplaceFileW, which keeps the older target's security and attributes, or a
// rename written through. A rename lasts once made: there is no folder to sync
// and nothing to put back.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>

#include "platform/files.h"
#include "platform/seam.h"

namespace wldmap {
namespace platform {

namespace {

// The temporary file the console's handler removes (Ctrl+C, closing the
// window). It is opened with FILE_SHARE_DELETE, so it goes when the process
// ends. The handler runs on a thread of its own: the path is written before
// the flag is raised, and read only after the flag is seen.
wchar_t pendingPath[32768];
std::atomic<bool> pendingSet{false};
std::atomic<bool> handlerInstalled{false};

BOOL WINAPI removePending(DWORD) {
  if (pendingSet.load(std::memory_order_acquire)) DeleteFileW(pendingPath);
  return FALSE;  // go on to the next handler, and then the default one
}

// From now on a console event removes `path` (nothing when empty) before the
// process ends. Without a path it can keep, nothing is removed.
void removeOnEvent(const std::wstring& path) {
  pendingSet.store(false, std::memory_order_release);
  if (path.empty() || path.size() >= std::size(pendingPath)) return;
  wcscpy(pendingPath, path.c_str());
  pendingSet.store(true, std::memory_order_release);
  if (!handlerInstalled.exchange(true)) SetConsoleCtrlHandler(removePending, TRUE);
}

// Writes all of `data` at the file's position. Throws SystemError ("cannot
// write it").
void writeAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file, data, static_cast<DWORD>(std::min(size, kLargestCall)), &written,
                   nullptr)) {
      throw SystemError(withReason("cannot write it"));
    }
    data += written;
    size -= written;
  }
}

// Puts the file at `path` in `target`'s place in one step. An older target is
// replaced with ReplaceFileW, which keeps its security descriptor and
// attributes; its read-only attribute, which would refuse the replacement, is
// lifted for the moment and set again on the new file. Throws SystemError
// ("cannot replace it").
void replaceWith(const std::wstring& path, const std::wstring& target) {
  // Another writer replacing the same file at this moment makes Windows deny
  // access for a moment: the replacement is tried again, for a second at most.
  for (int attempt = 0;; ++attempt) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool old = attributes != INVALID_FILE_ATTRIBUTES &&
                     (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    const bool readOnly = old && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly &&
        !SetFileAttributesW(target.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY))) {
      throw SystemError(withReason("cannot replace it"));
    }
    BOOL replaced = old && ReplaceFileW(target.c_str(), path.c_str(), nullptr,
                                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    // No older target (or it went meanwhile), or another writer's replacement
    // took its place while this one ran (ERROR_UNABLE_TO_MOVE_REPLACEMENT: the
    // older target is gone, the new one still has its temporary name): the
    // temporary file is simply renamed.
    const DWORD failed = replaced ? 0 : GetLastError();
    if (!replaced && (!old || failed == ERROR_FILE_NOT_FOUND ||
                      failed == ERROR_UNABLE_TO_MOVE_REPLACEMENT)) {
      replaced = MoveFileExW(path.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    const DWORD code = GetLastError();
    // Read-only again: the new file, or the old one when it stays.
    if (readOnly) SetFileAttributesW(target.c_str(), attributes);
    if (replaced) return;
    const bool contended = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION ||
                           code == ERROR_UNABLE_TO_REMOVE_REPLACED;
    if (!contended || attempt == 50) {
      throw SystemError("cannot replace it: " + reasonText(static_cast<int>(code)));
    }
    Sleep(20);
  }
}

}  // namespace

void checkReplaceable(const std::string& target) {
  const DWORD attributes = GetFileAttributesW(filePath(target).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw SystemError("cannot replace it: " + reasonText(ERROR_ACCESS_DENIED));
  }
}

struct PendingFile::System {
  HANDLE file = INVALID_HANDLE_VALUE;
  std::string path;  // the temporary file's name, as made
};

PendingFile::PendingFile(const std::string& target, const std::string& product,
                         const WarningHandler& onWarning)
    : target_(target), product_(product), onWarning_(onWarning),
      system_(std::make_unique<System>()) {
  System& s = *system_;
  s.path = firstFreeName(target, ".tmp", [&s](const std::string& name) {
    s.file = CreateFileW(filePath(name).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (s.file != INVALID_HANDLE_VALUE) return true;
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return false;
    throw SystemError("cannot create a temporary file beside it: " + reasonText(static_cast<int>(code)));
  });
  if (s.path.empty()) {
    throw SystemError("cannot create a temporary file beside it: " + reasonText(ERROR_FILE_EXISTS));
  }
  removeOnEvent(filePath(s.path));
}

PendingFile::~PendingFile() {
  if (committed_) return;
  System& s = *system_;
  removeOnEvent(std::wstring());
  if (s.file != INVALID_HANDLE_VALUE) CloseHandle(s.file);
  try {
    if (!DeleteFileW(filePath(s.path).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
      onWarning_(withReason("cannot remove " + s.path) + "; remove it by hand");
    }
  } catch (...) {
    // No memory left for the path or the warning: the file stays, unnamed.
  }
}

void PendingFile::write(const char* data, size_t size) { writeAll(system_->file, data, size); }

void PendingFile::commit(bool keepHeld) {
  System& s = *system_;
  const HANDLE file = s.file;
  s.file = INVALID_HANDLE_VALUE;
  if (!FlushFileBuffers(file)) {
    const std::string why = withReason("cannot write it");
    CloseHandle(file);
    throw SystemError(why);
  }
  if (!CloseHandle(file)) throw SystemError(withReason("cannot write it"));
  // Full paths: Wine's ReplaceFileW cannot place its own temporary file beside
  // a bare file name.
  replaceWith(filePath(s.path), filePath(target_));
  removeOnEvent(std::wstring());
  committed_ = true;
  // Whole: Ctrl+C from now on is taken as having come after the run.
  if (keepHeld) SetConsoleCtrlHandler(nullptr, TRUE);
}

OutputFile::OutputFile(const std::string& path, const WarningHandler& onWarning)
    : onWarning_(onWarning) {
  const std::wstring wide = filePath(path);
  // A writer that gave up on an empty output leaves it empty; one that wrote it
  // while this one waited leaves something to lose, to be replaced.
  for (int attempt = 0;; ++attempt) {
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      throw SystemError("is a folder");
    }
    // Shared, so that another writer waits at the lock rather than failing here.
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) {
      throw SystemError(withReason("cannot open"));
    }
    if (file != INVALID_HANDLE_VALUE) {
      // Its size, unless another program removed it meanwhile (a file being
      // deleted keeps its name until the last handle goes).
      const auto sizeIfNamed = [file]() -> std::optional<int64_t> {
        FILE_STANDARD_INFO info{};
        if (!GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info)) {
          throw SystemError(withReason("cannot open"));
        }
        if (info.DeletePending) return std::nullopt;
        return info.EndOfFile.QuadPart;
      };
      std::optional<int64_t> size;
      try {
        // Consoles (CON), pipes and other devices are not files on a disk.
        if (GetFileType(file) != FILE_TYPE_DISK) throw SystemError("is not a regular file");
        size = sizeIfNamed();
        if (size == int64_t{0}) {
          // Writers of one empty output take turns.
          OVERLAPPED whole{};
          if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
            throw SystemError(withReason("cannot open"));
          }
          size = sizeIfNamed();
        }
      } catch (const SystemError&) {
        CloseHandle(file);
        throw;
      }
      if (size == int64_t{0}) {
        handle_ = reinterpret_cast<intptr_t>(file);
        return;
      }
      CloseHandle(file);
      if (!size) {
        if (attempt == 100) throw SystemError("cannot open: another program keeps replacing it");
        continue;
      }
    }
    // Missing, or holding something: a new file takes its place, whole.
    checkReplaceable(path);
    replacement_ = std::make_unique<PendingFile>(path, "thumbnail", onWarning);
    return;
  }
}

OutputFile::~OutputFile() {
  if (handle_ == -1) return;
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  // Anything written, even by a write that then failed, is cut back.
  LARGE_INTEGER size{};
  if (!committed_ && GetFileSizeEx(file, &size) && size.QuadPart != 0) {
    FILE_END_OF_FILE_INFO end{};
    if (!SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end)) {
      try {
        onWarning_(withReason("cannot cut it back to its old content"));
      } catch (...) {
        // No memory left for the warning.
      }
    }
  }
  CloseHandle(file);
}

void OutputFile::write(const char* data, size_t size) {
  if (replacement_) return replacement_->write(data, size);
  writeAll(reinterpret_cast<HANDLE>(handle_), data, size);
}

void OutputFile::commit() {
  if (replacement_) {
    replacement_->commit(true);
    committed_ = true;
    return;
  }
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  if (!FlushFileBuffers(file)) throw SystemError(withReason("cannot write it"));
  committed_ = true;
  // Whole: Ctrl+C from now on is taken as having come after the run.
  SetConsoleCtrlHandler(nullptr, TRUE);
  CloseHandle(file);
  handle_ = -1;
}

}  // namespace platform
}  // namespace wldmap
