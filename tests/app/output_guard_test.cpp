// The run's protection of its files, seen from outside: the built wldmap run on
// worlds whose maps would replace a world file or a map of the same run.
#include "app/map_names.h"
#include "end_to_end.h"
#include "platform/platform.h"

namespace wldmap {
namespace {

TEST_F(EndToEndTest, NoWorldAndNoMapOfTheRunIsWrittenOver) {
  const std::string other = smallWorld("Other");
  writeFile(dir / "Home.png", other);  // a world saved under a map's name
  writeFile(dir / "a.wld", smallWorld("Home"));
  for (const auto& order : {std::vector<std::string>{"Home.png", "a.wld"}, {"a.wld", "Home.png"}}) {
    const Result r = runTool(dir.path(), WLDMAP_EXE, order);
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("error: a.wld: its map Home.png is another world file of this run; it is kept, "
              "and no map is written\n",
              r.err);
    EXPECT_EQ(std::string::npos, r.out.find("Saving image as Home.png")) << r.out;
    EXPECT_EQ(other, readFile(dir / "Home.png"));
    EXPECT_EQ(kSmallWorldPixels, pixels(dir / "Other.png"));
    fs::remove(dir / "Other.png");
  }

#ifndef _WIN32
  // A map path that is a link to another world of the run is that world.
  writeFile(dir / "b.wld", smallWorld("Other"));
  writeFile(dir / "c.wld", smallWorld("Link"));
  fs::create_symlink("b.wld", dir / "Link.png");
  const Result linked = runTool(dir.path(), WLDMAP_EXE, {"c.wld", "b.wld"});
  EXPECT_EQ(2, linked.status);
  EXPECT_EQ("error: c.wld: its map Link.png is another world file of this run; it is kept, "
            "and no map is written\n",
            linked.err);
  EXPECT_EQ(smallWorld("Other"), readFile(dir / "b.wld"));
  EXPECT_TRUE(fs::is_symlink(dir / "Link.png"));
  EXPECT_EQ(kSmallWorldPixels, pixels(dir / "Other.png"));
#endif

  writeFile(dir / "first.wld", smallWorld("Backup"));
  writeFile(dir / "second.wld", noisyWorld("Backup", 2, 3));
  writeFile(dir / "Backup.png", "an earlier run's map");
  const Result r = runTool(dir.path(), WLDMAP_EXE, {"first.wld", "second.wld"});
  EXPECT_EQ(2, r.status);
  // Refused as soon as its header names the map: it is neither read nor painted.
  EXPECT_EQ(progress("Backup.png") + "Parsing header\n", r.out);
  EXPECT_EQ("error: second.wld: its map Backup.png was already written for first.wld in this "
            "run; it is kept\n",
            r.err);
  EXPECT_EQ(kSmallWorldPixels, pixels(dir / "Backup.png"));
}

// Names that the system folds into one file are one map: on Windows, names
// that differ in case only, and names whose forbidden characters both become _.
TEST_F(EndToEndTest, NamesTheSystemFoldsTogetherAreOneMap) {
  const std::pair<std::string, std::string> pairs[] = {{"Home", "HOME"}, {"a:b", "a?b"}};
  for (const auto& [first, second] : pairs) {
    writeFile(dir / "1.wld", smallWorld(first));
    writeFile(dir / "2.wld", smallWorld(second));
    const Result r = runTool(dir.path(), WLDMAP_EXE, {"1.wld", "2.wld"});
    const std::string map = safeFileName(first, platform::kWindowsFileNames) + ".png";
    if (platform::kWindowsFileNames) {
      EXPECT_EQ(2, r.status);
      EXPECT_EQ("error: 2.wld: its map " + safeFileName(second, platform::kWindowsFileNames) +
                    ".png was already written for 1.wld in this run; it is kept\n",
                r.err);
      EXPECT_EQ((std::vector<std::string>{"1.wld", "2.wld", map}), listDir(dir.path()));
    } else {
      EXPECT_EQ(0, r.status) << r.err;
      EXPECT_EQ(4u, listDir(dir.path()).size());
      fs::remove(dir / (second + ".png"));
    }
    fs::remove(fs::u8path(dir / map));
  }
}

// Mapping a world onto itself would lose the world.
TEST_F(FailureTest, WorldFileThatWouldBeItsOwnMapIsKept) {
  const std::string world = smallWorld("Home");
  writeFile(dir / "Home.png", world);
  expectFailure({"Home.png"}, "Home.png", "world file itself");
  EXPECT_EQ(world, readFile(dir / "Home.png"));
  // So is a page, before the map is made.
  writeFile(dir / "Home.html", world);
  expectFailure({"--html", "Home.html"}, "Home.html", "no page is written");
  fs::remove(dir / "Home.html");
#ifndef _WIN32
  // Given through a link of another name, the world is still the file its map
  // would replace.
  fs::create_symlink("Home.png", dir / "w.wld");
  expectFailure({"w.wld"}, "Home.png", "world file itself");
  EXPECT_EQ(world, readFile(dir / "Home.png"));
#endif
}

}  // namespace
}  // namespace wldmap
