// What differs between the systems wldmap runs on: the executable's own path,
// large page-backed blocks, threads and signals, file names, reading files, and
// creating, syncing and atomically replacing files. posix.cpp and windows.cpp each
// implement all of it; paths are UTF-8 on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace wldmap {
namespace platform {

// A failed system call; what() names the operation and the system's reason.
class SystemError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Sets the process up for the tool's run: a closed output pipe or a file size
// limit become ordinary write failures instead of killing the process, and the
// console shows UTF-8.
void prepareProcess();

// The program's arguments as UTF-8, argument 0 first.
std::vector<std::string> arguments(int argc, char** argv);

// The running executable's path: as the system reports it where it can, else the
// started path `argv0` found as a shell finds it (against the current folder
// when it names a folder, else along PATH); empty when neither tells.
std::string executablePath(const std::string& argv0);

// The folders after the started path's own where data files are looked for,
// given the executable's folder: beside it, and where an install puts them.
std::vector<std::string> dataFolders(const std::string& exeFolder);

// Whether file names must also follow Windows' rules: no < > : " | ? *, no device
// names such as CON or aux.txt, and valid UTF-8 only.
extern const bool kWindowsFileNames;

// Starts `job` on a new thread that leaves the process's signals to the others:
// SIGINT and the like must reach the main thread, which holds them back around
// creating and renaming the map's temporary file.
std::thread startThread(std::function<void()> job);

// Reserves and commits `bytes` of zeroed pages; nullptr when that fails. The
// pages may not be present yet: the first touch of each can still fault.
void* allocatePages(size_t bytes);
// Makes pages from allocatePages present without writing to them, so it may run
// while other threads write there. Does nothing where faults are all there is.
void populatePages(void* pages, size_t bytes);
// Returns pages from allocatePages.
void freePages(void* pages, size_t bytes);

// A file opened for reading. Opening never blocks, whatever the path names: a
// FIFO or a device is opened without waiting for a writer, so that the caller
// can refuse it.
class InputFile {
 public:
  // Opens `path`. Throws SystemError ("cannot open: <reason>").
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Whether the path named a folder; a regular file; anything else (a FIFO, a
  // device, a socket) is neither.
  bool isFolder() const { return folder_; }
  bool isRegular() const { return regular_; }
  // The file's size in bytes when it was opened (regular files).
  uint64_t size() const { return size_; }
  // Reads up to `size` bytes at the current offset, retrying a read that a
  // signal interrupted; returns 0 only at the end of the file. Throws
  // SystemError ("cannot read it: <reason>"): a failed read is never an end.
  size_t read(char* data, size_t size);
  // Moves to `offset` bytes from the start. Throws SystemError.
  void seek(uint64_t offset);

 private:
  intptr_t handle_;
  bool folder_ = false;
  bool regular_ = false;
  uint64_t size_ = 0;
};

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
  // over the target and syncs the folder. Throws SystemError.
  void commit();

 private:
  std::string target_;
  std::string path_;
  intptr_t handle_;
  bool committed_ = false;
};

// Writes `bytes` to the file `path` through one open, in place: created when
// missing (with the permissions the umask leaves), else truncated and
// rewritten. A file this call created is removed again when the write fails.
// Throws SystemError.
void writeInPlace(const std::string& path, std::string_view bytes);

// What tells one file from every other: the same for every path that names it,
// through links, other spellings, or the case a system folds.
struct FileId {
  uint64_t device = 0;
  uint64_t file = 0;
  friend bool operator==(const FileId& a, const FileId& b) {
    return a.device == b.device && a.file == b.file;
  }
};

// The path that names the file `path` names for the rest of the run, whatever
// the current folders do: on Windows the full path, resolved against the
// current folder of the path's drive (Z:name), which every later call is given
// instead of a relative path; on POSIX `path` as given, since the one current
// folder resolves it alike every time and a full path could pass PATH_MAX where
// the relative one does not. Throws SystemError when it cannot be resolved.
std::string fullPath(const std::string& path);

// The identity of the existing file `path` names, or none when there is none
// (or it cannot be asked).
std::optional<FileId> fileId(const std::string& path);

}  // namespace platform
}  // namespace wldmap
