// Watching folders for saved files: what the system tells of changes in them,
// and the clean-up signals turned from an end of the process into an end of
// the wait.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wldmap {
namespace platform {

// A change the system told of in a watched folder.
struct FolderChange {
  enum Kind {
    kWriting,  // written to, and perhaps still open for writing
    kWritten,  // closed after writing, or put there by a rename: whole, as its writer sees it
    kRemoved,  // removed, or renamed away
    kUnknown,  // the system lost count: any file of the folder may have changed
  };
  size_t folder;     // which watched folder, by the order they were added
  std::string name;  // the file's name in it; empty for kUnknown
  Kind kind;
};

// Tells of changes in folders as the system reports them, and of the clean-up
// signals (SIGINT, SIGTERM, SIGHUP; Ctrl+C, Ctrl+Break and closing the console
// on Windows), which from its making on no longer end the process: each ends
// the wait under way, or the next one, after whatever the process is doing.
// A signal the process was started to ignore stays ignored. One at a time.
class FolderWatch {
 public:
  // Throws SystemError.
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Starts watching `folder`. False where the system cannot tell of its
  // changes (a network share, a FUSE mount, no watch to be had): the caller
  // looks for them itself.
  bool add(const std::string& folder);
  // Waits at most `timeout` (without end when negative) for changes: those
  // told since the last wait, none when the time ran out; nullopt once a
  // clean-up signal has come.
  std::optional<std::vector<FolderChange>> wait(std::chrono::milliseconds timeout);

 private:
  struct System;
  std::unique_ptr<System> system_;
};

// Whether every writer of the file at `path` has let it go: on Windows, whether
// it opens without a sharing violation; elsewhere the changes told already say
// so, and this is true.
bool writersDone(const std::string& path);

}  // namespace platform
}  // namespace wldmap
