#include <windows.h>

#include <atomic>

#include "platform/seam.h"
#include "platform/watch.h"

namespace wldmap {
namespace platform {

namespace {

// Raised by the console's events while a FolderWatch lives; the handler runs
// on a thread of its own.
HANDLE stopEvent = nullptr;
std::atomic<bool> waiting{false};  // the watch's thread is in a wait, between renders

BOOL WINAPI noteStop(DWORD event) {
  if (!stopEvent) return FALSE;
  SetEvent(stopEvent);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;  // the watch ends itself
  // Closing the console, logging off, shutting down: the system ends the
  // process once this returns, so a render under way is given a few seconds.
  for (int i = 0; i < 40 && !waiting.load(); ++i) Sleep(100);
  return TRUE;
}

// The bytes of one folder's changes, read as the system has them.
constexpr DWORD kChangeBytes = 64 << 10;

}  // namespace

struct FolderWatch::System {
  struct Folder {
    HANDLE handle = INVALID_HANDLE_VALUE;  // the folder, opened to be watched; none where looked at
    OVERLAPPED pending{};                   // its read of changes under way
    alignas(DWORD) unsigned char changes[kChangeBytes];

    // Asks for the folder's next changes; where it cannot, the folder is no
    // longer watched (it was removed, say).
    bool readChanges() {
      ResetEvent(pending.hEvent);
      if (ReadDirectoryChangesW(handle, changes, kChangeBytes, FALSE,
                                FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                    FILE_NOTIFY_CHANGE_SIZE,
                                nullptr, &pending, nullptr)) {
        return true;
      }
      CloseHandle(handle);
      handle = INVALID_HANDLE_VALUE;
      return false;
    }
  };
  std::vector<std::unique_ptr<Folder>> folders;
};

FolderWatch::FolderWatch() : system_(std::make_unique<System>()) {
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!stopEvent) throw SystemError(withReason("cannot wait for changes"));
  SetConsoleCtrlHandler(noteStop, TRUE);
}

FolderWatch::~FolderWatch() {
  for (const auto& folder : system_->folders) {
    if (folder->handle != INVALID_HANDLE_VALUE) {
      CancelIoEx(folder->handle, &folder->pending);
      DWORD ignored = 0;
      GetOverlappedResult(folder->handle, &folder->pending, &ignored, TRUE);
      CloseHandle(folder->handle);
    }
    if (folder->pending.hEvent) CloseHandle(folder->pending.hEvent);
  }
  SetConsoleCtrlHandler(noteStop, FALSE);
  CloseHandle(stopEvent);
  stopEvent = nullptr;
}

bool FolderWatch::add(const std::string& path) {
  auto folder = std::make_unique<System::Folder>();
  // A wait takes 64 objects at most: the stop and 63 folders.
  if (system_->folders.size() < MAXIMUM_WAIT_OBJECTS - 1) {
    folder->handle = CreateFileW(filePath(path).c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                 nullptr);
    folder->pending.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (folder->handle != INVALID_HANDLE_VALUE && !folder->pending.hEvent) {
      CloseHandle(folder->handle);
      folder->handle = INVALID_HANDLE_VALUE;
    }
    if (folder->handle != INVALID_HANDLE_VALUE) folder->readChanges();
    if (folder->handle == INVALID_HANDLE_VALUE && folder->pending.hEvent) {
      CloseHandle(folder->pending.hEvent);
      folder->pending.hEvent = nullptr;
    }
  }
  const bool told = folder->handle != INVALID_HANDLE_VALUE;
  system_->folders.push_back(std::move(folder));
  return told;
}

std::optional<std::vector<FolderChange>> FolderWatch::wait(std::chrono::milliseconds timeout) {
  std::vector<HANDLE> events{stopEvent};
  std::vector<size_t> of{0};
  for (size_t i = 0; i < system_->folders.size(); ++i) {
    if (system_->folders[i]->handle == INVALID_HANDLE_VALUE) continue;
    events.push_back(system_->folders[i]->pending.hEvent);
    of.push_back(i);
  }
  waiting = true;
  const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                            timeout.count() < 0 ? INFINITE
                                                                : static_cast<DWORD>(timeout.count()));
  waiting = false;
  if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) return std::nullopt;
  std::vector<FolderChange> changes;
  if (woke == WAIT_FAILED) throw SystemError(withReason("cannot wait for changes"));
  if (woke == WAIT_TIMEOUT) return changes;
  // Every folder whose changes have come, not only the first.
  for (size_t e = 1; e < events.size(); ++e) {
    if (WaitForSingleObject(events[e], 0) != WAIT_OBJECT_0) continue;
    System::Folder& folder = *system_->folders[of[e]];
    DWORD bytes = 0;
    const bool read = GetOverlappedResult(folder.handle, &folder.pending, &bytes, FALSE) != 0;
    if (!read || bytes == 0) {
      // Too many changes for the buffer, or the read failed: any file may have changed.
      changes.push_back({of[e], std::string(), FolderChange::kUnknown});
    }
    for (DWORD at = 0; read && bytes > 0;) {
      const auto* change = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(folder.changes + at);
      const FolderChange::Kind kind =
          change->Action == FILE_ACTION_REMOVED || change->Action == FILE_ACTION_RENAMED_OLD_NAME
              ? FolderChange::kRemoved
              : FolderChange::kWritten;  // no close is told: writersDone says when it is let go
      changes.push_back({of[e], narrow(change->FileName, change->FileNameLength / sizeof(wchar_t)), kind});
      if (change->NextEntryOffset == 0) break;
      at += change->NextEntryOffset;
    }
    if (!folder.readChanges()) changes.push_back({of[e], std::string(), FolderChange::kUnknown});
  }
  return changes;
}

bool writersDone(const std::string& path) {
  // A writer that has the file open denies a reader that will not share writing.
  const HANDLE file = CreateFileW(filePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_SHARING_VIOLATION;
  CloseHandle(file);
  return true;
}

}  // namespace platform
}  // namespace wldmap
