// Files written whole or not at all: a new file beside the target, renamed over
// it once complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/system_error.h"

namespace wldmap {
namespace platform {

// A new file beside `target` that replaces `target` only when committed, so
// `target` holds either its old content or the whole new one, also after a
// power loss. Until it is committed or destroyed, SIGINT, SIGTERM, SIGHUP and
// SIGQUIT (closing the console, Ctrl+C, on Windows) remove it before the process
// ends.
class PendingFile {
 public:
  // Creates the temporary file exclusively. Throws SystemError.
  explicit PendingFile(const std::string& target);
  // Removes the temporary file unless it was committed.
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Appends bytes to the temporary file. Throws SystemError.
  void write(const char* data, size_t size);
  // Syncs the file, gives it the permissions of the file it replaces, renames it
  // over the target and syncs the folder; a folder that cannot be synced puts
  // the older target back. Throws SystemError.
  void commit();

 private:
  std::string target_;
  std::string path_;
  intptr_t handle_;
  bool committed_ = false;
};

}  // namespace platform
}  // namespace wldmap
