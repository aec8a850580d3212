// The safe save and the output a service names, each written once over the
// seam's calls. The save: a new file beside the target (without a name until
// it is whole, where the system allows), synced, put in the target's place,
// the rename made durable, and the older target put back when it cannot be.
// The output: written into where there is nothing to lose, else saved so.
#include <algorithm>
#include <cerrno>
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

// Renames `path` over `target`; `backup` is the older target's second name, or
// empty. From then on only that copy is removed by a signal. Returns
// `backup`. Throws SystemError, with the copy removed.
std::string replace(const std::string& path, const std::string& target, std::string backup,
                    const WarningHandler& onWarning) {
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
  int error = 0;
  if (createUnnamed(target, handle_, error) == Made::kMade) {
    unnamed_ = true;
    return;
  }
  if (error != 0) {
    throw SystemError("cannot create a temporary file beside it: " + reasonText(error));
  }
  withSignalsHeld([this, &target] {
    int failed = 0;
    path_ = firstFreeName(target, ".tmp", [this, &failed](const std::string& name) {
      return createNew(name, handle_, failed);
    });
    if (path_.empty()) {
      throw SystemError("cannot create a temporary file beside it: " + reasonText(failed));
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

namespace {

// Closes a file just given the name `name`, which is removed again when the
// close fails. Throws SystemError ("cannot write it").
void closeNamed(intptr_t handle, const std::string& name, const WarningHandler& onWarning) {
  if (const int error = closeHandle(handle)) {
    remove(name, onWarning);
    throw SystemError("cannot write it: " + reasonText(error));
  }
}

// Puts the older target back from its bytes on `older`, after a replacement
// its folder could not make durable: a new unnamed file, synced, with the
// permissions the target has, renamed over it. Throws SystemError.
void putBack(intptr_t older, const std::string& target, const WarningHandler& onWarning) {
  intptr_t copy = -1;
  int error = 0;
  if (createUnnamed(target, copy, error) != Made::kMade) {
    throw SystemError(reasonText(error != 0 ? error : EINVAL));
  }
  std::string name;
  try {
    std::vector<char> piece(size_t(1) << 20);
    for (uint64_t at = 0;;) {
      const size_t got = readAt(older, at, piece.data(), piece.size());
      if (got == 0) break;
      writeAll(copy, piece.data(), got);
      at += got;
    }
    adoptPermissions(copy, target, onWarning);
    if (const int failed = syncHandle(copy)) throw SystemError(reasonText(failed));
    int failed = 0;
    name = firstFreeName(target, ".tmp", [&](const std::string& n) {
      return linkUnnamed(copy, n, failed);
    });
    if (name.empty()) throw SystemError(reasonText(failed));
  } catch (const SystemError&) {
    closeQuietly(copy);
    throw;
  }
  closeNamed(copy, name, onWarning);
  if (const int failed = renameOver(name, target)) {
    remove(name, onWarning);
    throw SystemError(reasonText(failed));
  }
}

}  // namespace

bool PendingFile::linkAsTarget() {
  int error = 0;
  const Made made = linkUnnamed(handle_, target_, error);
  if (made == Made::kFailed) throw SystemError("cannot write it: " + reasonText(error));
  if (made == Made::kTaken) return false;
  // Synced already: closing it can lose nothing.
  closeQuietly(handle_);
  handle_ = -1;
  return true;
}

void PendingFile::nameUnnamed(const std::string& backup) {
  int error = 0;
  path_ = firstFreeName(target_, ".tmp", [this, &error](const std::string& name) {
    return linkUnnamed(handle_, name, error);
  });
  if (path_.empty()) {
    if (!backup.empty()) remove(backup, onWarning_);
    throw SystemError("cannot write it: " + reasonText(error));
  }
}

void PendingFile::commit(bool signalsAfter) {
  // A replaced target keeps its permissions: a private map stays private.
  const bool older = adoptPermissions(handle_, target_, onWarning_);
  if (unnamed_) {
    if (const int error = syncHandle(handle_)) {
      throw SystemError("cannot write it: " + reasonText(error));
    }
  } else {
    const intptr_t handle = handle_;
    handle_ = -1;
    syncAndClose(handle);
  }
  const FolderOf folder(target_);
  // The older target, should its folder not keep the rename: its bytes, held
  // open where the new file has no name (a kill leaves no name behind); else,
  // or where it is no regular file, a second name made just before.
  const intptr_t olderBytes = unnamed_ && older ? openOlder(target_) : -1;
  int error = 0;
  try {
    // From the rename on, the file is the target: no handler may remove it,
    // and the rename is made durable before a signal may end the run.
    withSignalsHeld([&] {
      // The older target's second name, where its bytes are not held open.
      std::string backup = older && olderBytes == -1 ? linkOlder(target_) : std::string();
      // An unnamed file takes the target's name directly where nothing is in
      // the way; else it is named beside it, for the name to live only until
      // the rename.
      if (!(unnamed_ && !older && linkAsTarget())) {
        if (unnamed_) nameUnnamed(backup);
        backup = replace(path_, target_, backup, onWarning_);
        path_.clear();
        if (unnamed_) {
          closeQuietly(handle_);  // synced already: closing it can lose nothing
          handle_ = -1;
        }
      }
      committed_ = true;
      error = folder.sync();
      // Not durable: the older target is put back, or, when there was none,
      // the new one removed, so that the target is as it was before the run.
      // An older target on a file system without hard links has no copy; the
      // new one stays.
      if (error != 0 && olderBytes != -1) {
        try {
          putBack(olderBytes, target_, onWarning_);
        } catch (const SystemError& e) {
          onWarning_(std::string("cannot put the older map back: ") + e.what());
        }
      } else if (error != 0 && !backup.empty()) {
        if (const int failed = renameOver(backup, target_)) {
          onWarning_("cannot put the older map back from " + backup + ": " +
                     reasonText(failed) + "; it is there still");
        }
      } else if (error != 0 && !older) {
        remove(target_, onWarning_);
      } else if (!backup.empty()) {
        remove(backup, onWarning_);
      }
      unwatchFiles();
      if (signalsAfter && error == 0) discardHeldSignals();
    });
  } catch (const SystemError&) {
    if (olderBytes != -1) closeQuietly(olderBytes);
    throw;
  }
  if (olderBytes != -1) closeQuietly(olderBytes);
  if (error != 0) throw SystemError("cannot sync its folder: " + reasonText(error));
}

OutputFile::OutputFile(const std::string& path, const WarningHandler& onWarning)
    : onWarning_(onWarning) {
  // A writer that gave up on an empty output leaves it empty; one that wrote
  // it while this one waited leaves something to lose, to be replaced.
  for (int attempt = 0;; ++attempt) {
    const intptr_t handle = openExisting(path);
    std::optional<uint64_t> size;
    if (handle != -1) {
      try {
        size = sizeIfNamed(handle, path);
        if (size == uint64_t{0}) {
          lockWhole(handle);
          size = sizeIfNamed(handle, path);
        }
      } catch (const SystemError&) {
        closeQuietly(handle);
        throw;
      }
      if (size == uint64_t{0}) {
        handle_ = handle;
        // A clean-up signal cuts what was written back to nothing.
        watchDescriptor(handle_);
        return;
      }
      closeQuietly(handle);
      if (!size) {
        if (attempt == 100) throw SystemError("cannot open: another program keeps replacing it");
        continue;
      }
    }
    // Missing, or holding something: a new file takes its place whole.
    const std::string target = linkTarget(path);
    checkReplaceable(target);
    replacement_ = std::make_unique<PendingFile>(target, onWarning);
    return;
  }
}

OutputFile::~OutputFile() {
  if (handle_ == -1) return;
  withSignalsHeld([this] {
    if (!committed_ && written_ > 0) {
      if (const int error = cutAt(handle_, 0)) {
        onWarning_("cannot cut it back to its old content: " + reasonText(error));
      }
    }
    unwatchFiles();
  });
  closeQuietly(handle_);
}

void OutputFile::write(const char* data, size_t size) {
  if (replacement_) return replacement_->write(data, size);
  writeAll(handle_, data, size);
  written_ += size;
}

void OutputFile::commit() {
  // A signal that comes while the new content takes effect is taken as having
  // come after the run: the status never says killed over a new thumbnail.
  if (replacement_) {
    replacement_->commit(true);
    committed_ = true;
    return;
  }
  if (const int error = syncHandle(handle_)) {
    throw SystemError("cannot write it: " + reasonText(error));
  }
  withSignalsHeld([this] {
    unwatchFiles();
    committed_ = true;
    discardHeldSignals();
  });
  // Synced already: closing it can lose nothing.
  closeQuietly(handle_);
  handle_ = -1;
}

}  // namespace platform
}  // namespace wldmap
