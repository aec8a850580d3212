// Runs the built wldmap as a separate process on worlds made by the writer.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <png++/png.hpp>

#include "support/tempdir.h"
#include "world/world.h"
#include "worldwriter/worldwriter.h"

namespace wldmap {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string out, err;
};

// Runs the tool in `cwd` with the given argument 0 and arguments, standard input
// empty. A non-empty `shell` prefix runs it through /bin/sh with those commands first.
Result runTool(const std::string& cwd, const std::string& argv0,
               const std::vector<std::string>& args, const std::string& shell = "") {
  TempDir capture;
  const std::string outPath = capture / "out", errPath = capture / "err";
  std::vector<std::string> argv;
  std::string program = WLDMAP_EXE;
  if (!shell.empty()) {
    argv = {"sh", "-c", shell + "; exec -a \"$0\" \"$WLDMAP_UNDER_TEST\" \"$@\"", argv0};
    program = "/bin/bash";
  } else {
    argv = {argv0};
  }
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    setenv("WLDMAP_UNDER_TEST", WLDMAP_EXE, 1);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(program.c_str(), raw.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Result result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

const std::string kUsage =
    "You idiot! Don't run this program directly! You're supposed to click and drag the .wld "
    "over the .exe!\n";

std::string progress(const std::string& output) {
  return "Parsing header\nReading world\nLoading colors\nGenerating image\nSaving image as " +
         output + "\nDone!\n";
}

WorldHeader header(const std::string& name, int32_t width, int32_t height) {
  return makeHeader(name, width, height, 0.0, 1.0);
}

// A 2 x 3 world covering each layer: rows are sky, underground and rock.
std::string smallWorld(const std::string& name) {
  initTypeHasAux();
  return encodeWorld(header(name, 2, 3), {
                                             makeTile(false, 0, 0, 0, false),
                                             makeTile(true, 0, 0, 0, false),
                                             makeTile(false, 0, 1, 9, true),
                                             makeTile(false, 0, 0, 1, false),
                                             makeTile(true, 51, 2, 0, false),
                                             makeTile(true, 99, 0, 0, false),
                                         });
}

std::vector<std::vector<uint32_t>> pixels(const std::string& path) {
  png::image<png::rgba_pixel> image(path);
  std::vector<std::vector<uint32_t>> rows(image.get_height());
  for (uint32_t y = 0; y < image.get_height(); ++y) {
    for (uint32_t x = 0; x < image.get_width(); ++x) {
      const png::rgba_pixel p = image.get_pixel(x, y);
      rows[y].push_back(uint32_t(p.red) << 24 | p.green << 16 | p.blue << 8 | p.alpha);
    }
  }
  return rows;
}

class EndToEndTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string exeFolder() const { return fs::path(WLDMAP_EXE).parent_path().string(); }
};

TEST_F(EndToEndTest, UsageWithoutAnArgument) {
  const Result r = runTool(dir.path(), "wldmap", {});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(kUsage, r.out);
  EXPECT_EQ("", r.err);
  EXPECT_TRUE(listDir(dir.path()).empty());
}

TEST_F(EndToEndTest, MapIsNamedAfterTheWorldBesideTheWorldFile) {
  fs::create_directory(dir / "maps");
  writeFile(dir / "maps/w.wld", smallWorld("Home"));
  const Result r = runTool(dir.path(), WLDMAP_EXE, {"maps/w.wld", "ignored", "args"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(progress("maps/Home.png"), r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ((std::vector<std::string>{"Home.png", "w.wld"}), listDir(dir / "maps"));
  // Shipped colours: type 0 is (151,107,75), 51 is (192,202,203) at alpha 128, 99 is absent.
  const std::vector<std::vector<uint32_t>> want = {
      {0x4482FEFF, 0x2241FEFF},  // sky; water on sky
      {0x976B4BFF, 0x8C837CFF},  // soil; translucent tile over wall 2
      {0x961717FF, 0x000000FF},  // lava over wall 1; a type with no colour
  };
  EXPECT_EQ(want, pixels(dir / "maps/Home.png"));
}

TEST_F(EndToEndTest, BareFileNameWritesIntoTheCurrentFolder) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  const Result r = runTool(dir.path(), WLDMAP_EXE, {"w.wld"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(progress("Home.png"), r.out);
  EXPECT_TRUE(fs::exists(dir / "Home.png"));
}

TEST_F(EndToEndTest, NamesAreCutAtZeroAndMadeSafe) {
  const std::pair<std::string, std::string> cases[] = {
      {std::string("Ho\0me", 5), "Ho.png"},
      {"", ".png"},
      {"a/b\\c\nd", "a_b_c_d.png"},
  };
  for (const auto& [name, file] : cases) {
    writeFile(dir / "w.wld", smallWorld(name));
    const Result r = runTool(dir.path(), WLDMAP_EXE, {"w.wld"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(progress(file), r.out);
    EXPECT_TRUE(fs::exists(dir / file)) << file;
    fs::remove(dir / file);
  }
}

TEST_F(EndToEndTest, UnknownWallsAreReportedInDecimalInGridOrder) {
  writeFile(dir / "w.wld", encodeWorld(header("Walls", 2, 2),
                                       {makeTile(false, 0, 14, 0, false),
                                        makeTile(false, 0, 200 - 256, 0, false),
                                        makeTile(false, 0, 3, 0, false),
                                        makeTile(false, 0, 14, 0, false)}));
  const Result r = runTool(dir.path(), WLDMAP_EXE, {"w.wld"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(
      "Parsing header\nReading world\nLoading colors\nGenerating image\n"
      "Unknown wall type: 14\nUnknown wall type: -56\nUnknown wall type: 14\n"
      "Saving image as Walls.png\nDone!\n",
      r.out);
}

TEST_F(EndToEndTest, ColoursBesideTheStartedPathComeFirst) {
  fs::create_directory(dir / "tool");
  writeFile(dir / "tool/tilecolors.txt", "0 1 2 3 255\n99 oops\n");
  writeFile(dir / "w.wld", smallWorld("Home"));
  const Result r = runTool(dir.path(), "tool/wldmap", {"w.wld"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(progress("Home.png"), r.out);
  EXPECT_EQ("warning: tool/tilecolors.txt: group 2: \"oops\" is not a 32-bit integer; this "
            "group and everything after it are ignored\n",
            r.err);
  EXPECT_EQ(0x010203FFu, pixels(dir / "Home.png")[1][0]);
}

TEST_F(EndToEndTest, BareCommandNameLooksInTheCurrentFolderThenBesideTheExecutable) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  const Result shipped = runTool(dir.path(), "wldmap", {"w.wld"});
  EXPECT_EQ(0, shipped.status) << shipped.err;
  EXPECT_EQ(0x976B4BFFu, pixels(dir / "Home.png")[1][0]);

  writeFile(dir / "tilecolors.txt", "0 1 2 3 255\n");
  const Result local = runTool(dir.path(), "wldmap", {"w.wld"});
  EXPECT_EQ(0, local.status) << local.err;
  EXPECT_EQ(0x010203FFu, pixels(dir / "Home.png")[1][0]);
}

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

TEST_F(FailureTest, WorldFileProblems) {
  expectFailure({"missing.wld"}, "missing.wld", "cannot open");
  const std::string world = smallWorld("Home");
  writeFile(dir / "short.wld", world.substr(0, 60));
  expectFailure({"short.wld"}, "short.wld", "header");
  writeFile(dir / "cut.wld", world.substr(0, world.size() - 1));
  expectFailure({"cut.wld"}, "cut.wld", "column 1, row 2");
  for (auto [w, h] : {std::pair{0, 3}, {3, -1}, {100000, 100000}}) {
    writeFile(dir / "size.wld", encodeHeader(header("Home", w, h)) + std::string(64, '\0'));
    expectFailure({"size.wld"}, "size.wld", "x");
  }
  std::string longName = encodeWorld(header(std::string(200, 'n'), 1, 1), {Tile{}});
  writeFile(dir / "name.wld", longName);
  expectFailure({"name.wld"}, "name.wld", "name length");
  fs::create_directory(dir / "folder.wld");
  expectFailure({"folder.wld"}, "folder.wld", "is a folder");
}

TEST_F(FailureTest, NoColourFileAnywhere) {
  fs::create_directory(dir / "bin");
  fs::copy_file(WLDMAP_EXE, dir / "bin/wldmap");
  writeFile(dir / "w.wld", smallWorld("Home"));
  const Result r = runTool(dir.path(), "wldmap", {"w.wld"},
                           "export WLDMAP_UNDER_TEST=" + (dir / "bin/wldmap"));
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("Parsing header\nReading world\nLoading colors\n", r.out);
  EXPECT_EQ("error: tilecolors.txt: not found; looked for tilecolors.txt, " + dir.path() +
                "/bin/tilecolors.txt, " + dir.path() + "/bin/../share/wldmap/tilecolors.txt\n",
            r.err);
  EXPECT_FALSE(fs::exists(dir / "Home.png"));
}

TEST_F(FailureTest, TargetThatIsAFolderIsKept) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  fs::create_directory(dir / "Home.png");
  expectFailure({"w.wld"}, "Home.png", "rename");
  EXPECT_TRUE(fs::is_directory(dir / "Home.png"));
}

TEST_F(FailureTest, WriteFailureKeepsTheOldMapAndLeavesNoTemporaryFile) {
  // A noisy world whose map cannot compress below the file size limit.
  initTypeHasAux();
  std::vector<Tile> cells;
  uint32_t seed = 1;
  for (int i = 0; i < 200 * 200; ++i) {
    seed = seed * 1664525u + 1013904223u;
    cells.push_back(makeTile(true, int(seed >> 24) % 86, 0, 0, false));
  }
  writeFile(dir / "w.wld", encodeWorld(header("Home", 200, 200), cells));
  writeFile(dir / "Home.png", "the old map");
  expectFailure({"w.wld"}, "Home.png", "File too large", "trap '' XFSZ; ulimit -f 16");
  EXPECT_EQ("the old map", readFile(dir / "Home.png"));
}

}  // namespace
}  // namespace wldmap
