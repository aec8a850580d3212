#include "app/driver.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <stdexcept>

#include "colors/colors.h"
#include "output/output.h"
#include "render/render.h"
#include "world/world.h"

namespace wldmap {

namespace {

const char kUsage[] =
    "You idiot! Don't run this program directly! You're supposed to click and drag the .wld "
    "over the .exe!";
const char kColorFileName[] = "tilecolors.txt";

// A failure found by the driver itself; reported against the file in hand.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string firstExisting(const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates) {
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) return path;
  }
  return std::string();
}

std::string join(const std::vector<std::string>& items) {
  std::string all;
  for (const std::string& item : items) all += (all.empty() ? "" : ", ") + item;
  return all;
}

}  // namespace

std::string folderOf(const std::string& path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string safeFileName(const std::string& name) {
  std::string safe = name;
  for (char& c : safe) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) c = '_';
  }
  return safe;
}

std::vector<std::string> colorFileCandidates(const std::string& toolFolder,
                                             const std::string& exePath) {
  std::vector<std::string> candidates{toolFolder + kColorFileName};
  if (!exePath.empty()) {
    const std::string exeFolder = folderOf(exePath);
    for (const std::string& path :
         {exeFolder + kColorFileName, exeFolder + "../share/wldmap/" + kColorFileName}) {
      if (path != candidates.front()) candidates.push_back(path);
    }
  }
  return candidates;
}

int runDriver(const std::vector<std::string>& args, const std::string& exePath, std::istream& in,
              std::ostream& out, std::ostream& err) {
  // Every path ends by waiting for one character, so a console opened for a
  // dropped file stays readable until the user presses Enter.
  auto finish = [&in](int status) {
    in.get();
    return status;
  };
  if (args.size() < 2) {
    out << kUsage << std::endl;
    return finish(1);
  }

  initTypeHasAux();
  out << "Parsing header" << std::endl;
  const std::string& worldPath = args[1];
  std::string subject = worldPath;  // the file a failure is reported against
  // Released in reverse order on return, after the final read.
  WorldHeader header;
  TileGrid grid;
  TileColorTable colors;
  Image image;
  try {
    std::ifstream world(worldPath, std::ios::binary);
    if (!world) throw Failure(std::string("cannot open: ") + std::strerror(errno));
    std::error_code ignored;
    if (std::filesystem::is_directory(worldPath, ignored)) {
      throw Failure("is a folder, not a world file");
    }
    const std::string inputFolder = folderOf(worldPath);
    const std::string toolFolder = folderOf(args[0]);
    header = readHeader(world);

    out << "Reading world" << std::endl;
    grid = readTiles(world, header);

    out << "Loading colors" << std::endl;
    const std::vector<std::string> candidates = colorFileCandidates(toolFolder, exePath);
    const std::string colorPath = firstExisting(candidates);
    if (colorPath.empty()) {
      subject = kColorFileName;
      throw Failure("not found; looked for " + join(candidates));
    }
    subject = colorPath;
    std::ifstream colorFile(colorPath);
    if (!colorFile) throw Failure(std::string("cannot open: ") + std::strerror(errno));
    std::vector<std::string> warnings;
    colors = loadTileColors(colorFile, warnings);
    for (const std::string& warning : warnings) {
      err << "warning: " << colorPath << ": " << warning << std::endl;
    }

    out << "Generating image" << std::endl;
    subject = worldPath;
    image = renderMap(header, grid, colors,
                      [&out](int wall) { out << "Unknown wall type: " << wall << std::endl; });

    const std::string outputPath = inputFolder + safeFileName(header.name) + ".png";
    out << "Saving image as " << outputPath << std::endl;
    subject = outputPath;
    savePng(outputPath, image);
  } catch (const std::bad_alloc&) {
    err << "error: " << subject << ": not enough memory" << std::endl;
    return finish(2);
  } catch (const std::exception& e) {
    err << "error: " << subject << ": " << e.what() << std::endl;
    return finish(2);
  }
  out << "Done!" << std::endl;
  return finish(0);
}

}  // namespace wldmap
