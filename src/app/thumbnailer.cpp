#include "app/thumbnailer.h"

#include <functional>
#include <limits>
#include <optional>

#include "app/failure.h"
#include "app/data_files.h"
#include "core/core.h"
#include "output/output.h"
#include "platform/platform.h"

namespace wldmap {

const char kThumbnailOperands[] = "--thumbnail SIZE WORLD.wld OUTPUT.png";

namespace {

// SIZE: decimal digits alone, at least 1; a size past 32 bits is as good as the
// largest, since no world is that large.
bool parseSize(const std::string& text, uint32_t& size) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  uint64_t value = 0;
  for (char digit : text) {
    value = std::min<uint64_t>(value * 10 + uint64_t(digit - '0'),
                               std::numeric_limits<uint32_t>::max());
  }
  size = static_cast<uint32_t>(value);
  return size >= 1;
}

}  // namespace

int runThumbnailer(const std::vector<std::string>& args,
                   const std::vector<std::string>& colorCandidates, std::ostream& err) {
  uint32_t size = 0;
  if (args.size() != 5 || !parseSize(args[2], size)) {
    err << "usage: wldmap " << kThumbnailOperands << std::endl;
    return 1;
  }
  const std::string& worldPath = args[3];
  const std::string& output = args[4];
  try {
    const std::string worldFile = blameOn(worldPath, [&] { return platform::fullPath(worldPath); });
    const std::string outputFile = blameOn(output, [&] { return platform::fullPath(output); });
    refuseTheWorldItself(output, platform::fileId(outputFile), platform::fileId(worldFile),
                         "thumbnail");
    WorldSource world = blameOn(worldPath, [&] { return WorldSource(worldFile); });
    const TileColorTable colors = readColors(colorCandidates, nullptr);
    const BoxMeans thumbnail =
        blameOn(worldPath, [&] { return world.readThumbnail(colors, size); });
    blameOn(output, [&] {
      writePngOutput(outputFile, thumbnail.size().width, thumbnail.size().height,
                     std::cref(thumbnail), [&](const std::string& warning) {
                       reportWarning(err, output, warning);
                     });
    });
  } catch (const Failure& failure) {
    reportFailure(err, failure);
    return 2;
  }
  return 0;
}

}  // namespace wldmap
