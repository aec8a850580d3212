#include "app/driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "app/failure.h"
#include "app/data_files.h"
#include "support/tempdir.h"
#include "worldwriter/worldwriter.h"

namespace wldmap {
namespace {

TEST(DriverTest, ColorFileCandidatesInOrderWithoutRepeats) {
  EXPECT_EQ((std::vector<std::string>{"tools/tilecolors.txt", "/opt/bin/tilecolors.txt",
                                      "/opt/bin/../share/wldmap/tilecolors.txt"}),
            colorFileCandidates("tools/", {"/opt/bin/", "/opt/bin/../share/wldmap/"}));
  EXPECT_EQ((std::vector<std::string>{"/opt/bin/tilecolors.txt",
                                      "/opt/bin/../share/wldmap/tilecolors.txt"}),
            colorFileCandidates("/opt/bin/", {"/opt/bin/", "/opt/bin/../share/wldmap/"}));
  EXPECT_EQ((std::vector<std::string>{"tilecolors.txt"}), colorFileCandidates("", {}));
  EXPECT_EQ((std::vector<std::string>{"tilecolors.txt", "C:\\wldmap\\tilecolors.txt"}),
            colorFileCandidates("", {"C:\\wldmap\\"}));
  // The names: the user's own folder first, then beside each place of the colours.
  EXPECT_EQ((std::vector<std::string>{"/home/u/.config/wldmap/tilenames.txt", "tools/tilenames.txt",
                                      "/opt/bin/tilenames.txt"}),
            namesFileCandidates("/home/u/.config/wldmap/", colorFileCandidates("tools/", {"/opt/bin/"})));
  EXPECT_EQ((std::vector<std::string>{"tilenames.txt"}), namesFileCandidates("", {"tilecolors.txt"}));
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

// What the file caused is reported about it; a thread that cannot start or a
// bug is not dressed as the file's fault.
TEST(DriverTest, OnlyWhatTheFileCausedIsReportedAboutIt) {
  for (const auto& error : {std::make_exception_ptr(platform::SystemError("cannot read it")),
                            std::make_exception_ptr(WorldError("tile data ends early")),
                            std::make_exception_ptr(std::bad_alloc())}) {
    EXPECT_THROW(blameOn("w.wld", [&error] { std::rethrow_exception(error); }), Failure);
  }
  EXPECT_THROW(blameOn("w.wld", [] { return std::vector<int>().at(1); }), std::out_of_range);
  EXPECT_THROW(blameOn("w.wld", [] { throw std::system_error(EAGAIN, std::generic_category()); }),
               std::system_error);
}

TEST(DriverTest, EveryRunOverWorldsReadsExactlyOneCharacterOfInput) {
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
  // The reason is the system's own text, which differs between systems.
  EXPECT_EQ(0u, failed.err.find("error: " + dir.path() + "/missing.wld: cannot open: "))
      << failed.err;
  EXPECT_EQ(1, std::count(failed.err.begin(), failed.err.end(), '\n')) << failed.err;

  // Several worlds, one of them missing: each runs its own stages, the failure
  // does not stop the rest, and the input is read once, at the very end.
  h.name = "Away";
  writeFile(dir / "v.wld", encodeWorld(h, std::vector<Tile>(4)));
  const DriverRun several =
      runInProcess({dir / "wldmap", dir / "w.wld", dir / "missing.wld", dir / "v.wld"}, "");
  EXPECT_EQ(2, several.status);
  EXPECT_EQ(1, several.inputRead);
  std::string away = ok.out;
  away.replace(away.find("Home.png"), 4, "Away");
  EXPECT_EQ(ok.out + "Parsing header\n" + away, several.out);
  EXPECT_EQ(failed.err, several.err);

  // With no input at all, the read simply meets the end.
  EXPECT_EQ(1, runInProcess({"wldmap"}, "", "").status);
}

TEST(DriverTest, HelpAndVersionAnswerWithoutWaiting) {
  for (const char* option : {"--help", "-h"}) {
    const DriverRun help = runInProcess({"wldmap", option, "ignored.wld"}, "");
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0, help.inputRead);
    EXPECT_EQ(0u, help.out.find("Usage: wldmap WORLD.wld")) << help.out;
    for (const char* topic : {"tilecolors.txt", "Exit status", ".png", "current folder", "-56"}) {
      EXPECT_NE(std::string::npos, help.out.find(topic)) << topic;
    }
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
    EXPECT_EQ("", help.err);
  }
  const DriverRun version = runInProcess({"wldmap", "--version"}, "");
  EXPECT_EQ(0, version.status);
  EXPECT_EQ(0, version.inputRead);
  EXPECT_EQ("wldmap " WLDMAP_VERSION "\n", version.out);
  // Anything else is a world path, options only come first.
  const DriverRun later = runInProcess({"wldmap", "./--help"}, "");
  EXPECT_EQ(2, later.status);
  EXPECT_EQ(1, later.inputRead);
  EXPECT_EQ(0u, later.err.find("error: ./--help: cannot open")) << later.err;
}

}  // namespace
}  // namespace wldmap
