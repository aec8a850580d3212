// Replays every committed fuzz corpus and regression input through the fuzzed
// entry points, so each input that ever exposed a fault stays a test, in the
// normal and the sanitizer builds alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "targets.h"

namespace wldmap {
namespace {

namespace fs = std::filesystem;

using Target = void (*)(const uint8_t*, size_t);

size_t replay(const std::string& name, Target target) {
  size_t count = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path folder = fs::path(WLDMAP_FUZZ_DIR) / kind / name;
    if (!fs::is_directory(folder)) continue;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), {});
      SCOPED_TRACE(entry.path().string());
      target(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++count;
    }
  }
  return count;
}

TEST(FuzzReplayTest, WorldReader) { EXPECT_GT(replay("world", fuzzWorldReader), 10u); }
TEST(FuzzReplayTest, ColorLoader) { EXPECT_GT(replay("colors", fuzzColorLoader), 5u); }
TEST(FuzzReplayTest, Pipeline) { EXPECT_GT(replay("pipeline", fuzzPipeline), 10u); }
TEST(FuzzReplayTest, Thumbnail) { EXPECT_GT(replay("thumbnail", fuzzThumbnail), 10u); }

}  // namespace
}  // namespace wldmap
