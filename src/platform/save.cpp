// The safe save and the rewrite in place, each written once over the seam's
// calls. The save: a new file beside the target, synced, renamed over it, the
// rename made durable, and the older target put back when it cannot be. The
// rewrite: the new bytes after the old ones, moved to the start only once they
// are all written and synced.
#include <algorithm>
#include <vector>

#include "platform/files.h"
#include "platform/seam.h"

namespace wldmap {
namespace platform {

namespace {

// Removes a file this process made, or names it to `onWarning` for the user to
// remove.
void remove(const std::string& path, const WarningHandler& onWarning) {
  if (const int error = removeFile(path)) {
    onWarning("cannot remove " + path + ": " + reasonText(error) + "; remove it by hand");
  }
}

// A second name for the older target, made just before the new file replaces
// it, so that a replacement the folder cannot make durable is taken back.
// Empty where the file system has no hard links (then the replacement cannot
// be taken back, only reported).
std::string linkOlder(const std::string& target) {
  return firstFreeName(target, ".old",
                       [&target](const std::string& name) { return linkAs(target, name); });
}

// Renames `path` over `target`, first giving an older target a second name when
// there is one; the name, or empty. From then on only that copy is removed by
// a signal. Throws SystemError, with the copy removed.
std::string replace(const std::string& path, const std::string& target, bool older,
                    const WarningHandler& onWarning) {
  std::string backup = older ? linkOlder(target) : std::string();
  if (!backup.empty() && !watchFiles(path, backup)) {
    remove(backup, onWarning);
    backup.clear();
  }
  try {
    replaceWith(path, target);
  } catch (const SystemError&) {
    if (!backup.empty()) remove(backup, onWarning);
    watchFiles(path, "");
    throw;
  }
  watchFiles("", backup);
  return backup;
}

}  // namespace

PendingFile::PendingFile(const std::string& target, const WarningHandler& onWarning)
    : target_(target), onWarning_(onWarning), handle_(-1) {
  withSignalsHeld([this, &target] {
    int error = 0;
    path_ = firstFreeName(target, ".tmp", [this, &error](const std::string& name) {
      return createNew(name, handle_, error);
    });
    if (path_.empty()) {
      throw SystemError("cannot create a temporary file beside it: " + reasonText(error));
    }
    watchFiles(path_, "");
  });
}

PendingFile::~PendingFile() {
  withSignalsHeld([this] {
    if (!committed_) {
      if (handle_ != -1) closeQuietly(handle_);
      if (!path_.empty()) remove(path_, onWarning_);
    }
    unwatchFiles();
  });
}

void PendingFile::write(const char* data, size_t size) { writeAll(handle_, data, size); }

void PendingFile::commit() {
  // A replaced target keeps its permissions: a private map stays private.
  const bool older = adoptPermissions(handle_, target_, onWarning_);
  const intptr_t handle = handle_;
  handle_ = -1;
  syncAndClose(handle);
  const FolderOf folder(target_);
  // Once renamed, the file is the target: no handler may remove it after that.
  std::string backup;
  withSignalsHeld([&] {
    backup = replace(path_, target_, older, onWarning_);
    committed_ = true;
  });
  const int error = folder.sync();
  withSignalsHeld([&] {
    // Not durable: the older target is put back, or, when there was none, the
    // new one removed, so that the target is as it was before the run. An
    // older target on a file system without hard links has no copy; the new
    // one stays.
    if (error != 0 && !backup.empty()) {
      if (const int failed = renameOver(backup, target_)) {
        onWarning_("cannot put the older map back from " + backup + ": " + reasonText(failed) +
                   "; it is there still");
      }
    } else if (error != 0 && !older) {
      remove(target_, onWarning_);
    } else if (!backup.empty()) {
      remove(backup, onWarning_);
    }
    unwatchFiles();
  });
  if (error != 0) throw SystemError("cannot sync its folder: " + reasonText(error));
}

InPlaceFile::InPlaceFile(const std::string& path, const WarningHandler& onWarning)
    : path_(path), onWarning_(onWarning), held_(std::make_unique<HeldSignals>()) {
  // A writer that gave up removes a file it made; one that waited for it then
  // holds a file nobody names, and opens the name again.
  for (int attempt = 0;; ++attempt) {
    bool created = false;
    const intptr_t handle = openForRewrite(path, created);
    std::optional<uint64_t> size;
    try {
      lockWhole(handle);
      size = sizeIfNamed(handle, path);
      if (size) seekTo(handle, *size);  // the new bytes go after the old ones
    } catch (const SystemError&) {
      closeQuietly(handle);
      throw;
    }
    if (size) {
      handle_ = handle;
      created_ = created;
      oldSize_ = *size;
      return;
    }
    closeQuietly(handle);
    if (attempt == 100) throw SystemError("cannot open: another program keeps replacing it");
  }
}

InPlaceFile::~InPlaceFile() {
  if (handle_ == -1) return;
  if (!committed_) {
    // Nothing old was touched: only the new bytes after the old ones go.
    if (created_ && oldSize_ == 0) {
      if (isStillNamed(handle_, path_)) {
        if (const int error = removeFile(path_)) {
          onWarning_("cannot remove the file it made: " + reasonText(error) +
                     "; remove it by hand");
        }
      }
    } else if (const int error = cutAt(handle_, oldSize_)) {
      onWarning_("cannot cut it back to its old content: " + reasonText(error));
    }
  }
  closeQuietly(handle_);
}

void InPlaceFile::write(const char* data, size_t size) {
  writeAll(handle_, data, size);
  written_ += size;
}

void InPlaceFile::commit() {
  if (oldSize_ > 0) {
    // The old content is at stake from here on: the new one must be on the
    // disk first, where a file system that writes back later (NFS) reports a
    // full disk only now.
    if (const int error = syncHandle(handle_)) {
      throw SystemError("cannot write it: " + reasonText(error));
    }
    // The new content moves down over the old, a piece at a time; each piece
    // is read whole before it is written, at an offset lower than its own.
    std::vector<char> piece(size_t(1) << 20);
    for (uint64_t done = 0; done < written_;) {
      const size_t size = static_cast<size_t>(std::min<uint64_t>(piece.size(), written_ - done));
      for (size_t got = 0; got < size;) {
        const size_t n = readAt(handle_, oldSize_ + done + got, piece.data() + got, size - got);
        if (n == 0) throw SystemError("cannot write it: it was cut meanwhile");
        got += n;
      }
      seekTo(handle_, done);
      writeAll(handle_, piece.data(), size);
      done += size;
    }
  }
  if (const int error = cutAt(handle_, written_)) {
    throw SystemError("cannot write it: " + reasonText(error));
  }
  committed_ = true;
  const intptr_t handle = handle_;
  handle_ = -1;
  if (const int error = closeHandle(handle)) {
    throw SystemError("cannot write it: " + reasonText(error));
  }
}

}  // namespace platform
}  // namespace wldmap
