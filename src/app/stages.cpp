#include "app/stages.h"

#include <filesystem>
#include <memory>

#include "platform/input_stream.h"
#include "platform/platform.h"

namespace wldmap {

namespace {

namespace fs = std::filesystem;

// The first of `candidates` that names anything at all, through links: a file
// of another kind is not passed over for a later one, but refused for what it
// is. Empty when none does.
std::string firstExisting(const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates) {
    std::error_code error;
    try {
      if (fs::exists(fs::u8path(platform::fullPath(path)), error)) return path;
    } catch (const platform::SystemError&) {
      // A path the system cannot resolve names nothing.
    }
  }
  return std::string();
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

World readWorld(const std::string& path, const std::string& file, std::ostream* progress) {
  return about(path, [&] {
    const auto in = openRegular(file, "world file", "not a regular file");
    World world;
    world.header = readHeader(*in);
    if (progress) *progress << "Reading world" << std::endl;
    world.grid = readTiles(*in, world.header);
    return world;
  });
}

TileColorTable readColors(const std::vector<std::string>& candidates, std::ostream* warnings) {
  const std::string path = firstExisting(candidates);
  if (path.empty()) {
    throw Failure("tilecolors.txt", "not found; looked for " + join(candidates));
  }
  return about(path, [&] {
    std::vector<std::string> found;
    TileColorTable colors = loadTileColors(
        *openRegular(platform::fullPath(path), "colour file", "is not a regular file"), found);
    for (const std::string& warning : found) {
      if (warnings) *warnings << "warning: " << path << ": " << warning << std::endl;
    }
    return colors;
  });
}

}  // namespace wldmap
