#include "app/driver.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/tempdir.h"
#include "worldwriter/worldwriter.h"

namespace wldmap {
namespace {

TEST(DriverTest, FolderIsEverythingUpToTheLastSeparatorOfEitherKind) {
  EXPECT_EQ("C:\\maps\\", folderOf("C:\\maps\\w.wld"));
  EXPECT_EQ("/data/maps/", folderOf("/data/maps/w.wld"));
  EXPECT_EQ("a/b\\", folderOf("a/b\\c.wld"));
  EXPECT_EQ("a\\b/", folderOf("a\\b/c.wld"));
  EXPECT_EQ("", folderOf("w.wld"));
  EXPECT_EQ("", folderOf(""));
  EXPECT_EQ("/", folderOf("/w.wld"));
  EXPECT_EQ("dir/", folderOf("dir/"));
}

TEST(DriverTest, SafeFileNameReplacesSeparatorsAndControlBytes) {
  EXPECT_EQ("Home", safeFileName("Home"));
  EXPECT_EQ("", safeFileName(""));
  EXPECT_EQ("a_b_c_d_e", safeFileName("a/b\\c\nd\x7f" "e"));
  EXPECT_EQ("_x_", safeFileName("\x01x\x1f"));
  // Other bytes, including UTF-8 and characters some file systems refuse, stay.
  EXPECT_EQ("W\xc3\xa9lt: ?*", safeFileName("W\xc3\xa9lt: ?*"));
  EXPECT_EQ("..", safeFileName(".."));
}

TEST(DriverTest, ColorFileCandidatesInOrderWithoutRepeats) {
  EXPECT_EQ((std::vector<std::string>{"tools/tilecolors.txt", "/opt/bin/tilecolors.txt",
                                      "/opt/bin/../share/wldmap/tilecolors.txt"}),
            colorFileCandidates("tools/", "/opt/bin/wldmap"));
  EXPECT_EQ((std::vector<std::string>{"/opt/bin/tilecolors.txt",
                                      "/opt/bin/../share/wldmap/tilecolors.txt"}),
            colorFileCandidates("/opt/bin/", "/opt/bin/wldmap"));
  EXPECT_EQ((std::vector<std::string>{"tilecolors.txt"}), colorFileCandidates("", ""));
}

// Runs the driver in-process; `input` is standard input.
struct DriverRun {
  int status;
  std::string out, err;
  std::streamoff inputRead;
};

DriverRun runInProcess(const std::vector<std::string>& args, const std::string& exePath,
                 const std::string& input = "xyz") {
  std::istringstream in(input);
  std::ostringstream out, err;
  DriverRun run;
  run.status = runDriver(args, exePath, in, out, err);
  in.clear();
  run.inputRead = in.tellg();
  run.out = out.str();
  run.err = err.str();
  return run;
}

TEST(DriverTest, EveryPathReadsExactlyOneCharacterOfInput) {
  TempDir dir;
  writeFile(dir / "tilecolors.txt", "1 10 20 30 255\n");
  WorldHeader h;
  h.name = "Home";
  h.width = 2;
  h.height = 2;
  writeFile(dir / "w.wld", encodeWorld(h, std::vector<Tile>(4)));

  const DriverRun usage = runInProcess({"wldmap"}, "");
  EXPECT_EQ(1, usage.status);
  EXPECT_EQ(1, usage.inputRead);

  const DriverRun ok = runInProcess({dir / "wldmap", dir / "w.wld"}, "");
  EXPECT_EQ(0, ok.status) << ok.err;
  EXPECT_EQ(1, ok.inputRead);
  EXPECT_EQ("Parsing header\nReading world\nLoading colors\nGenerating image\nSaving image as " +
                dir.path() + "/Home.png\nDone!\n",
            ok.out);

  const DriverRun failed = runInProcess({dir / "wldmap", dir / "missing.wld"}, "");
  EXPECT_EQ(2, failed.status);
  EXPECT_EQ(1, failed.inputRead);
  EXPECT_EQ("Parsing header\n", failed.out);
  EXPECT_EQ("error: " + dir.path() + "/missing.wld: cannot open: No such file or directory\n",
            failed.err);

  // With no input at all, the read simply meets the end.
  EXPECT_EQ(1, runInProcess({"wldmap"}, "", "").status);
}

}  // namespace
}  // namespace wldmap
