// Files written whole or not at all: a new file beside the target, renamed over
// it once complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/system_error.h"

namespace wldmap {
namespace platform {

// Throws SystemError ("cannot replace it: <reason>") when no rename could put a
// new file in `target`'s place: `target` is a folder, or, in a folder with the
// sticky bit (such as /tmp), a file of another user's, which only its owner,
// the folder's owner or root may replace. Nothing when there is no `target`.
void checkReplaceable(const std::string& target);

// A new file beside `target` that replaces `target` only when committed, so
// `target` holds either its old content or the whole new one, also after a
// power loss. Until it is committed or destroyed, SIGINT, SIGTERM, SIGHUP and
// SIGQUIT (closing the console, Ctrl+C, on Windows) remove it before the process
// ends.
class PendingFile {
 public:
  // Creates the temporary file exclusively, once checkReplaceable has found
  // that `target` could be replaced at all. Throws SystemError. What goes wrong without
  // failing the save goes to `onWarning`: a mode the file system cannot set, a
  // file this object made and could not remove.
  PendingFile(const std::string& target, const WarningHandler& onWarning);
  // Removes the temporary file unless it was committed.
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Appends bytes to the temporary file. Throws SystemError.
  void write(const char* data, size_t size);
  // Syncs the file, gives it the permissions of the file it replaces (where
  // they differ, and where the file system has them), renames it over the
  // target and syncs the folder; a folder that cannot be synced puts the older
  // target back. Throws SystemError.
  void commit();

 private:
  std::string target_;
  const WarningHandler& onWarning_;
  std::string path_;
  intptr_t handle_;
  bool committed_ = false;
};

}  // namespace platform
}  // namespace wldmap
