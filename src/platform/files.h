// Files: read without blocking, replaced whole or not at all, rewritten in
// place, and told apart whatever names them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace wldmap {
namespace platform {

// A failed system call; what() names the operation and the system's reason.
class SystemError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Receives what went wrong without failing the call: one line, no line end.
using WarningHandler = std::function<void(const std::string& warning)>;

// The most one read or write asks of Windows, or of a stream Explorer hands
// over: a gigabyte, which their counts (a DWORD, a ULONG) hold with room to
// spare. POSIX calls take any size_t and are not cut.
constexpr size_t kLargestCall = size_t(1) << 30;

// Whether file names must also follow Windows' rules: no < > : " | ? *, no device
// names such as CON or aux.txt, and valid UTF-8 only.
extern const bool kWindowsFileNames;

// The path that names the file `path` names for the rest of the run, whatever
// the current folders do: on Windows the full path, resolved against the
// current folder of the path's drive (Z:name), which every later call is given
// instead of a relative path; on POSIX `path` as given, since the one current
// folder resolves it alike every time and a full path could pass PATH_MAX where
// the relative one does not. Throws SystemError when it cannot be resolved.
std::string fullPath(const std::string& path);

// The folder of the file at `path`, a path as the system gives it (a module's,
// a full one): up to and including its last separator, or empty for a bare
// name. (A dropped path follows the drop's own rule, which the driver keeps.)
inline std::string folderOfFile(const std::string& path) {
#ifdef _WIN32
  const size_t cut = path.find_last_of("/\\");
#else
  const size_t cut = path.find_last_of('/');
#endif
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// What tells one file from every other: the same for every path that names it,
// through links, other spellings, or the case a system folds.
struct FileId {
  uint64_t device = 0;
  uint64_t file = 0;
  friend bool operator==(const FileId& a, const FileId& b) {
    return a.device == b.device && a.file == b.file;
  }
};

// The identity of the existing file `path` names, through links, or none when
// there is none (or it cannot be asked).
std::optional<FileId> fileId(const std::string& path);

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
  // When the file was last written, in seconds since 1970 (UTC), as it was
  // when opened; 0 where the system does not tell.
  int64_t modified() const { return modified_; }
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
  int64_t modified_ = 0;
};

// A file read as bytes through a standard input stream, for the readers that
// take one: small reads come from a buffer, and a seek within what is buffered
// costs no call (one to the end does, unless the buffer reaches it). A failed read is thrown as the file's own SystemError ("cannot read
// it: <reason>"), never taken for the end of the file: the stream's exception
// mask holds badbit, so the stream passes it on.
class InputFileStream : public std::istream {
 public:
  // Opens `path` without blocking. Throws SystemError ("cannot open: <reason>").
  explicit InputFileStream(const std::string& path);
  ~InputFileStream() override;

  // The opened file: what kind it is, and its size.
  const InputFile& file() const;

 private:
  class Buffer;
  std::unique_ptr<Buffer> buffer_;
};

// Throws SystemError ("cannot replace it: <reason>") when no rename could put a
// new file in `target`'s place: `target` is a folder, or, in a folder with the
// sticky bit (such as /tmp), a file of another user's, which only its owner,
// the folder's owner or root may replace. Nothing when there is no `target`.
void checkReplaceable(const std::string& target);

// A new file beside `target` that replaces `target` only when committed, so
// `target` holds either its old content or the whole new one, also after a
// power loss. Each system saves in its own file (save-posix.cpp,
// save-win32.cpp), in these steps:
//  1. the new file is made beside the target: on Linux without a name until it
//     is whole (O_TMPFILE), so that even a kill leaves nothing behind; else
//     named TARGET.tmpPID-N, which the clean-up signals (SIGINT, SIGTERM,
//     SIGHUP, SIGQUIT; Ctrl+C and closing the console on Windows) remove;
//  2. it is written, given the older target's permissions, and synced;
//  3. it takes the target's place in one rename, with the clean-up signals
//     held until the rename lasts (POSIX syncs the folder; where the folder
//     cannot be synced, the older target is put back, from its bytes or from
//     a second name TARGET.oldPID-N made just before the rename);
//  4. uncommitted, it is removed, and a file the save made and cannot remove
//     is named to the warning handler.
class PendingFile {
 public:
  // Creates the new file; the caller has checked with checkReplaceable, before
  // anything was made, that `target` could be replaced at all. `product` names
  // what it is in the warnings ("map", "page", "thumbnail"). Throws
  // SystemError. What goes wrong without failing the save goes to
  // `onWarning`: a mode the file system cannot set, a file this object made
  // and could not remove.
  PendingFile(const std::string& target, const std::string& product,
              const WarningHandler& onWarning);
  // Removes the new file unless it was committed. Throws nothing.
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Appends bytes to the new file. Throws SystemError.
  void write(const char* data, size_t size);
  // Steps 2 and 3 above. With `keepHeld`, once the new file lasts as the
  // target the clean-up signals stay held until the process ends: a signal
  // never ends the run over the new content. Throws SystemError.
  void commit(bool keepHeld = false);

  // Each system's state of the new file.
  struct System;

 private:
  const std::string target_;
  const std::string product_;
  const WarningHandler& onWarning_;
  std::unique_ptr<System> system_;
  bool committed_ = false;
};

// The output a thumbnail service names: whole or as it was, whatever fails.
// Where it is missing, or empty (a file the service made and will read back),
// there is nothing to lose: the new content goes into that very file, created
// where missing as a PendingFile creates a file, and writers of one empty file
// take turns. Where it holds something, it is replaced as a map is, through a
// PendingFile beside the file it names (through a symbolic link, the file the
// link names), keeping its permissions.
class OutputFile {
 public:
  // Opens `path`, refusing anything but a regular file, and, where it is empty,
  // waits until no other writer has it; a signal ends the wait, and the run,
  // at once. Throws SystemError.
  OutputFile(const std::string& path, const WarningHandler& onWarning);
  // Unless committed, the output as it was: an empty file written into is cut
  // back to nothing, whatever reached it (as a clean-up signal also does
  // meanwhile), a new file removed. A file it made and cannot remove, or cannot
  // cut back, is named to `onWarning`. Throws nothing.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes the next bytes of the new content. Throws SystemError.
  void write(const char* data, size_t size);
  // Makes the new content the output's, synced; from then on the clean-up
  // signals stay held until the process ends. Throws SystemError.
  void commit();

 private:
  const WarningHandler& onWarning_;
  std::unique_ptr<PendingFile> replacement_;  // where the output is missing or holds something
  intptr_t handle_ = -1;                      // the empty output, written into
  bool committed_ = false;
};

}  // namespace platform
}  // namespace wldmap
