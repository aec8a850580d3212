#include "core/core.h"

#include <utility>

#include "platform/platform.h"

namespace wldmap {

namespace {

// Refuses anything but a regular file, a folder as not the `kind` of file it
// should be.
void refuseIrregular(const platform::InputFile& file, const char* kind) {
  if (file.isFolder()) throw platform::SystemError(std::string("is a folder, not a ") + kind);
  if (!file.isRegular()) throw platform::SystemError("is not a regular file");
}

}  // namespace

WorldSource::WorldSource(ReadBytes read, uint64_t size) { open(std::move(read), size); }

WorldSource::WorldSource(const std::string& path)
    : file_(std::make_unique<platform::InputFile>(path)) {
  refuseIrregular(*file_, "world file");
  platform::InputFile& file = *file_;
  modified_ = file.modified();
  open([&file](char* out, size_t count) { return file.read(out, count); }, file.size());
}

WorldSource::~WorldSource() = default;
WorldSource::WorldSource(WorldSource&&) noexcept = default;
WorldSource& WorldSource::operator=(WorldSource&&) noexcept = default;

void WorldSource::open(ReadBytes read, uint64_t size) {
  reader_ = std::make_unique<WorldReader>(std::move(read), size);
  header_ = reader_->readHeader();
}

void WorldSource::release() {
  reader_.reset();
  file_.reset();
}

TileGrid WorldSource::readGrid() {
  TileGrid grid = reader_->readGrid();
  // Its buffer is not held while the map is made.
  release();
  return grid;
}

BoxMeans WorldSource::readThumbnail(const TileColorTable& colors, uint32_t size) {
  BoxMeans thumbnail = wldmap::readThumbnail(*reader_, colors, size);
  release();
  return thumbnail;
}

TileColorTable loadColorFile(const std::string& path, std::vector<std::string>& warnings) {
  // As bytes: no text mode, which would end the file at a Ctrl-Z.
  platform::InputFileStream in(path);
  refuseIrregular(in.file(), "colour file");
  return loadTileColors(in, warnings);
}

TypeNames loadNamesFile(const std::string& path, std::vector<std::string>& warnings) {
  platform::InputFileStream in(path);
  refuseIrregular(in.file(), "names file");
  return loadTypeNames(in, warnings);
}

std::optional<TileColorTable> colorsBesideModule(const void* address,
                                                 const std::string& relativeFolder) {
  try {
    const std::string module = platform::modulePath(address);
    if (module.empty()) return std::nullopt;
    std::vector<std::string> warnings;  // nobody to show them to
    return loadColorFile(platform::folderOfFile(module) + relativeFolder + kColorFileName,
                         warnings);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace wldmap
