#include "app/stages.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/platform.h"

namespace wldmap {

namespace {

namespace fs = std::filesystem;

// A candidate as given, and its full path.
struct Candidate {
  std::string path;
  std::string fullPath;
};

// The first of `candidates` that names anything at all, through links: a file
// of another kind is not passed over for a later one, but refused for what it
// is. Empty when none does.
std::optional<Candidate> firstExisting(const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates) {
    std::error_code error;
    try {
      std::string full = platform::fullPath(path);
      if (fs::exists(fs::u8path(full), error)) return Candidate{path, std::move(full)};
    } catch (const platform::SystemError&) {
      // A path the system cannot resolve names nothing.
    }
  }
  return std::nullopt;
}

std::string join(const std::vector<std::string>& items) {
  std::string all;
  for (const std::string& item : items) all += (all.empty() ? "" : ", ") + item;
  return all;
}

// Refuses anything but a regular file: a folder as not the `kind` of file it
// should be, anything else with the words `notRegular`.
void refuseIrregular(const platform::InputFile& file, const std::string& kind,
                     const std::string& notRegular) {
  if (file.isFolder()) throw std::runtime_error("is a folder, not a " + kind);
  if (!file.isRegular()) throw std::runtime_error(notRegular);
}

}  // namespace

void reportFailure(std::ostream& err, const Failure& failure) {
  err << "error: " << failure.file() << ": " << failure.what() << std::endl;
}

void reportWarning(std::ostream& err, const std::string& file, const std::string& what) {
  err << "warning: " << file << ": " << what << std::endl;
}

std::vector<std::string> colorFileCandidates(const std::string& toolFolder,
                                             const std::vector<std::string>& dataFolders) {
  std::vector<std::string> candidates{toolFolder + kColorFileName};
  for (const std::string& folder : dataFolders) {
    const std::string path = folder + kColorFileName;
    if (std::find(candidates.begin(), candidates.end(), path) == candidates.end()) {
      candidates.push_back(path);
    }
  }
  return candidates;
}

WorldFile::WorldFile(const std::string& path, const std::string& file) : path_(path) {
  about(path, [&] {
    file_ = std::make_unique<platform::InputFile>(file);
    refuseIrregular(*file_, "world file", "not a regular file");
    platform::InputFile& source = *file_;
    reader_ = std::make_unique<WorldReader>(
        [&source](char* out, size_t count) { return source.read(out, count); }, source.size());
    header_ = reader_->readHeader();
  });
}

WorldFile::~WorldFile() = default;

TileGrid WorldFile::readGrid() {
  TileGrid grid = about(path_, [&] { return reader_->readGrid(); });
  // Its buffer is not held while the map is made.
  reader_.reset();
  file_.reset();
  return grid;
}

BoxMeans WorldFile::readThumbnail(const TileColorTable& colors, uint32_t size) {
  BoxMeans thumbnail = about(path_, [&] { return wldmap::readThumbnail(*reader_, colors, size); });
  reader_.reset();
  file_.reset();
  return thumbnail;
}

TileColorTable readColors(const std::vector<std::string>& candidates, std::ostream* warnings) {
  const std::optional<Candidate> file = firstExisting(candidates);
  if (!file) throw Failure(kColorFileName, "not found; looked for " + join(candidates));
  return about(file->path, [&] {
    // Read as bytes: no text mode, which would end it at a Ctrl-Z.
    platform::InputFileStream in(file->fullPath);
    refuseIrregular(in.file(), "colour file", "is not a regular file");
    std::vector<std::string> found;
    TileColorTable colors = loadTileColors(in, found);
    for (const std::string& warning : found) {
      if (warnings) reportWarning(*warnings, file->path, warning);
    }
    return colors;
  });
}

}  // namespace wldmap
