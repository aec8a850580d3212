#include "platform/pending_file.h"

#include <windows.h>

#include "platform/reasons.h"
#include "platform/signals.h"
#include "platform/wide_paths.h"

namespace wldmap {
namespace platform {

void checkReplaceable(const std::string& target) {
  const DWORD attributes = GetFileAttributesW(filePath(target).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw SystemError("cannot replace it: " + reasonText(ERROR_ACCESS_DENIED));
  }
}

PendingFile::PendingFile(const std::string& target, const WarningHandler& onWarning)
    : target_(target), onWarning_(onWarning), handle_(-1) {
  checkReplaceable(target);
  std::wstring wide;
  for (int attempt = 0;; ++attempt) {
    path_ = target + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(attempt);
    wide = filePath(path_);
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(file);
      break;
    }
    const DWORD code = GetLastError();
    if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt == 100) {
      throw SystemError("cannot create a temporary file beside it: " + reasonText(static_cast<int>(code)));
    }
  }
  watchFiles(path_, "");
}

PendingFile::~PendingFile() {
  unwatchFiles();
  if (!committed_) {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    try {
      if (!DeleteFileW(filePath(path_).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        onWarning_(withReason("cannot remove " + path_) + "; remove it by hand");
      }
    } catch (const SystemError&) {
      // The path resolved when the file was created; it cannot fail now.
    }
  }
}

void PendingFile::write(const char* data, size_t size) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr)) {
      throw SystemError(withReason("cannot write it"));
    }
    data += written;
    size -= written;
  }
}

namespace {

// Puts the temporary file in the map's place in one step. An older map is
// replaced with ReplaceFileW, which keeps its security descriptor and
// attributes; its read-only attribute, which would refuse the replacement, is
// lifted for the moment and set again on the new map. Throws SystemError.
void replaceMap(const std::wstring& temporary, const std::wstring& map) {
  const DWORD attributes = GetFileAttributesW(map.c_str());
  const bool old = attributes != INVALID_FILE_ATTRIBUTES &&
                   (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  const bool readOnly = old && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly && !SetFileAttributesW(map.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY))) {
    throw SystemError(withReason("cannot replace it"));
  }
  BOOL replaced = old && ReplaceFileW(map.c_str(), temporary.c_str(), nullptr,
                                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
  // No older map (or it went meanwhile): the temporary file is simply renamed.
  if (!replaced && (!old || GetLastError() == ERROR_FILE_NOT_FOUND)) {
    replaced = MoveFileExW(temporary.c_str(), map.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  const DWORD code = GetLastError();
  // Read-only again: the new map, or the old one when it stays.
  if (readOnly) SetFileAttributesW(map.c_str(), attributes);
  if (!replaced) throw SystemError("cannot replace it: " + reasonText(static_cast<int>(code)));
}

}  // namespace

void PendingFile::commit() {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  if (!FlushFileBuffers(file)) throw SystemError(withReason("cannot write it"));
  handle_ = -1;
  if (!CloseHandle(file)) throw SystemError(withReason("cannot write it"));
  // Full paths: Wine's ReplaceFileW cannot place its own temporary file beside a
  // bare file name.
  replaceMap(filePath(path_), filePath(target_));
  committed_ = true;
}

}  // namespace platform
}  // namespace wldmap
