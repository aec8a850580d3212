#include "app/stages.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/input_stream.h"
#include "platform/platform.h"

namespace wldmap {

namespace {

namespace fs = std::filesystem;

const char kColorFileName[] = "tilecolors.txt";

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

// Opens a file to read as bytes (no text mode, which would end it at a Ctrl-Z)
// and refuses anything but a regular file: a folder as not the `kind` of file
// it should be, anything else with the words `notRegular`.
std::unique_ptr<platform::InputFileStream> openRegular(const std::string& path,
                                                       const std::string& kind,
                                                       const std::string& notRegular) {
  auto in = std::make_unique<platform::InputFileStream>(path);
  if (in->file().isFolder()) throw std::runtime_error("is a folder, not a " + kind);
  if (!in->file().isRegular()) throw std::runtime_error(notRegular);
  return in;
}

}  // namespace

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

World readWorld(const std::string& path, const std::string& file, std::ostream* progress) {
  return about(path, [&] {
    const auto in = openRegular(file, "world file", "not a regular file");
    return decodeWorld(*in, in->file().size(), progress);
  });
}

World decodeWorld(std::istream& in, uint64_t size, std::ostream* progress) {
  World world;
  world.header = readHeader(in, size);
  if (progress) *progress << "Reading world" << std::endl;
  world.grid = readTiles(in, world.header);
  return world;
}

TileColorTable readColors(const std::vector<std::string>& candidates, std::ostream* warnings) {
  const std::optional<Candidate> file = firstExisting(candidates);
  if (!file) throw Failure(kColorFileName, "not found; looked for " + join(candidates));
  return about(file->path, [&] {
    std::vector<std::string> found;
    TileColorTable colors = loadTileColors(
        *openRegular(file->fullPath, "colour file", "is not a regular file"), found);
    for (const std::string& warning : found) {
      if (warnings) *warnings << "warning: " << file->path << ": " << warning << std::endl;
    }
    return colors;
  });
}

}  // namespace wldmap
