// What the tests that run the built wldmap as a separate process share: running
// it, small worlds made by the writer, and reading back a map's pixels.
#pragma once

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>
#include <png++/png.hpp>

#include "support/process.h"
#include "support/tempdir.h"
#include "world/world.h"
#include "worldwriter/worldwriter.h"

namespace wldmap {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr bool kPosixShell = false;
#else
constexpr bool kPosixShell = true;
#endif

using Result = ProcessResult;

// Runs `program` (the built tool by default) in `cwd` with the given argument 0 and
// arguments. A non-empty `shell` prefix runs it through bash with those commands
// first, on POSIX systems only.
inline Result runTool(const std::string& cwd, const std::string& argv0,
               const std::vector<std::string>& args, const std::string& shell = "",
               const std::string& program = WLDMAP_EXE) {
  if (shell.empty()) return runProcess(program, argv0, args, cwd);
  std::vector<std::string> shellArgs{"-c", shell + "; exec -a \"$0\" '" + program + "' \"$@\"",
                                     argv0};
  shellArgs.insert(shellArgs.end(), args.begin(), args.end());
  return runProcess("/bin/bash", "sh", shellArgs, cwd);
}

#ifndef _WIN32
// Runs the built tool in `cwd` as an ordinary user, who may neither open every
// folder nor replace every file: dropped to nobody where the suite runs as
// root, as the suite's own user otherwise. Every folder on the way must let
// nobody through.
inline Result runAsOrdinaryUser(const std::string& cwd, const std::vector<std::string>& args) {
  if (geteuid() != 0) return runProcess(WLDMAP_EXE, WLDMAP_EXE, args, cwd);
  std::vector<std::string> all{"--reuid=65534", "--regid=65534", "--clear-groups", WLDMAP_EXE};
  all.insert(all.end(), args.begin(), args.end());
  return runProcess("/usr/bin/setpriv", "setpriv", all, cwd);
}
#endif

inline const std::string kUsage =
    "You idiot! Don't run this program directly! You're supposed to click and drag the .wld "
    "over the .exe!\n";

inline std::string progress(const std::string& output) {
  return "Parsing header\nReading world\nLoading colors\nGenerating image\nSaving image as " +
         output + "\nDone!\n";
}

inline WorldHeader header(const std::string& name, int32_t width, int32_t height) {
  return makeHeader(name, width, height, 0.0, 1.0);
}

// A 2 x 3 world covering each layer: rows are sky, underground and rock.
inline std::string smallWorld(const std::string& name) {
  return encodeWorld(header(name, 2, 3), {
                                             makeTile(false, 0, 0, 0, false),
                                             makeTile(true, 0, 0, 0, false),
                                             makeTile(false, 0, 1, 9, true),
                                             makeTile(false, 0, 0, 1, false),
                                             makeTile(true, 51, 2, 0, false),
                                             makeTile(true, 99, 0, 0, false),
                                         });
}

// A world of random tiles, whose map compresses badly and takes a while to save.
inline std::string noisyWorld(const std::string& name, int32_t width, int32_t height) {
  std::vector<Tile> cells;
  uint32_t seed = 1;
  for (int64_t i = 0; i < int64_t(width) * height; ++i) {
    seed = seed * 1664525u + 1013904223u;
    cells.push_back(makeTile(true, int(seed >> 24) % 86, 0, 0, false));
  }
  return encodeWorld(header(name, width, height), cells);
}

inline std::vector<std::vector<uint32_t>> pixels(const std::string& path) {
  std::istringstream bytes(readFile(path));
  png::image<png::rgba_pixel> image;
  image.read_stream(bytes);
  std::vector<std::vector<uint32_t>> rows(image.get_height());
  for (uint32_t y = 0; y < image.get_height(); ++y) {
    for (uint32_t x = 0; x < image.get_width(); ++x) {
      const png::rgba_pixel p = image.get_pixel(x, y);
      rows[y].push_back(uint32_t(p.red) << 24 | p.green << 16 | p.blue << 8 | p.alpha);
    }
  }
  return rows;
}

// The map of smallWorld with the shipped colours: type 0 is (151,107,75), 51 is
// (192,202,203) at alpha 128, 99 is absent.
inline const std::vector<std::vector<uint32_t>> kSmallWorldPixels = {
    {0x4482FEFF, 0x2241FEFF},  // sky; water on sky
    {0x976B4BFF, 0x8C837CFF},  // soil; translucent tile over wall 2
    {0x961717FF, 0x000000FF},  // lava over wall 1; a type with no colour
};

class EndToEndTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string exeFolder() const { return fs::path(WLDMAP_EXE).parent_path().string(); }
};

// Every failure: one error line naming the file, status 2, and the folder as it was.
class FailureTest : public EndToEndTest {
 protected:
  void expectFailure(const std::vector<std::string>& args, const std::string& file,
                     const std::string& what, const std::string& shell = "",
                     const std::string& argv0 = WLDMAP_EXE) {
    const std::vector<std::string> before = listDir(dir.path());
    const Result r = runTool(dir.path(), argv0, args, shell);
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(0u, r.err.find("error: " + file + ": ")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(what)) << r.err;
    EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
    EXPECT_EQ(std::string::npos, r.out.find("Done!"));
    EXPECT_EQ(before, listDir(dir.path()));
  }
};

}  // namespace wldmap
