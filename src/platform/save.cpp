// The safe save, written once over the seam's calls: a new file beside the
// target, synced, renamed over it, the rename made durable, and the older
// target put back when it cannot be.
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

}  // namespace platform
}  // namespace wldmap
