#include "platform/in_place_file.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/reasons.h"
#include "platform/wide_paths.h"

namespace wldmap {
namespace platform {

namespace {

// One call reads or writes at most what a DWORD counts; a gigabyte keeps clear of that.
constexpr size_t kLargestCall = size_t(1) << 30;

OVERLAPPED at(uint64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(offset);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

// Writes all of `data` at `offset`. Throws SystemError.
void writeAt(HANDLE file, const char* data, size_t size, uint64_t offset) {
  while (size > 0) {
    DWORD written = 0;
    OVERLAPPED where = at(offset);
    if (!WriteFile(file, data, static_cast<DWORD>(std::min(size, kLargestCall)), &written,
                   &where)) {
      throw SystemError(withReason("cannot write it"));
    }
    data += written;
    size -= written;
    offset += written;
  }
}

bool cutAt(HANDLE file, uint64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) != 0;
}

}  // namespace

InPlaceFile::InPlaceFile(const std::string& path, const WarningHandler& onWarning)
    : path_(path), onWarning_(onWarning) {
  const std::wstring wide = filePath(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw SystemError("is a folder");
  }
  // Shared, so that another writer waits at the lock rather than failing here.
  // A writer that gave up deletes a file it made; one that waited for it then
  // holds a file about to go, and opens the name again.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  for (int attempt = 0;; ++attempt) {
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool created = file != INVALID_HANDLE_VALUE;
    if (!created && GetLastError() == ERROR_FILE_EXISTS) {
      file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) throw SystemError(withReason("cannot open"));
    // Consoles (CON), pipes and other devices are not files on a disk.
    if (GetFileType(file) != FILE_TYPE_DISK) {
      CloseHandle(file);
      throw SystemError("is not a regular file");
    }
    OVERLAPPED whole{};
    FILE_STANDARD_INFO info{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) ||
        !GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info)) {
      const std::string why = withReason("cannot open");
      CloseHandle(file);
      throw SystemError(why);
    }
    if (!info.DeletePending) {
      handle_ = reinterpret_cast<intptr_t>(file);
      created_ = created;
      oldSize_ = static_cast<uint64_t>(info.EndOfFile.QuadPart);
      return;
    }
    CloseHandle(file);
    if (attempt == 100) throw SystemError("cannot open: another program keeps replacing it");
  }
}

InPlaceFile::~InPlaceFile() {
  if (handle_ == -1) return;
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  if (!committed_ && !cutAt(file, oldSize_)) {
    onWarning_(withReason("cannot cut it back to its old content"));
  }
  CloseHandle(file);
  if (!committed_ && created_ && oldSize_ == 0) {
    try {
      if (!DeleteFileW(filePath(path_).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        onWarning_(withReason("cannot remove the file it made") + "; remove it by hand");
      }
    } catch (const SystemError&) {
      // The path resolved when the file was made; it cannot fail now.
    }
  }
}

void InPlaceFile::write(const char* data, size_t size) {
  writeAt(reinterpret_cast<HANDLE>(handle_), data, size, oldSize_ + written_);
  written_ += size;
}

void InPlaceFile::commit() {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  if (oldSize_ > 0) {
    // The old content is at stake from here on: the new one goes to the disk
    // first, then moves down over the old, a piece at a time.
    if (!FlushFileBuffers(file)) throw SystemError(withReason("cannot write it"));
    std::vector<char> piece(size_t(1) << 20);
    for (uint64_t done = 0; done < written_;) {
      const auto size = static_cast<DWORD>(std::min<uint64_t>(piece.size(), written_ - done));
      DWORD got = 0;
      OVERLAPPED where = at(oldSize_ + done);
      if (!ReadFile(file, piece.data(), size, &got, &where) || got != size) {
        throw SystemError(withReason("cannot write it"));
      }
      writeAt(file, piece.data(), size, done);
      done += size;
    }
  }
  if (!cutAt(file, written_)) throw SystemError(withReason("cannot write it"));
  committed_ = true;
  handle_ = -1;
  if (!CloseHandle(file)) throw SystemError(withReason("cannot write it"));
}

}  // namespace platform
}  // namespace wldmap
