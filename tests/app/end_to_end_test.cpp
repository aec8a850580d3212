// Runs the built wldmap as a separate process on worlds made by the writer.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

#include <iostream>
#include <map>
#include <sstream>
#include <thread>
#include <tuple>

#include "app/map_names.h"
#include "end_to_end.h"
#include "platform/platform.h"

namespace wldmap {
namespace {

TEST_F(EndToEndTest, UsageWithoutAnArgument) {
  const Result r = runTool(dir.path(), "wldmap", {});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(kUsage, r.out);
  EXPECT_EQ("usage: wldmap WORLD.wld [MORE.wld ...]; wldmap --help explains\n", r.err);
  EXPECT_TRUE(listDir(dir.path()).empty());
}

TEST_F(EndToEndTest, MapIsNamedAfterTheWorldBesideTheWorldFile) {
  fs::create_directory(dir / "maps");
  writeFile(dir / "maps/w.wld", smallWorld("Home"));
  const Result r = runTool(dir.path(), WLDMAP_EXE, {"maps/w.wld"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(progress("maps/Home.png"), r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ((std::vector<std::string>{"Home.png", "w.wld"}), listDir(dir / "maps"));
  EXPECT_EQ(kSmallWorldPixels, pixels(dir / "maps/Home.png"));
}

// With --html the map is the same and the page follows beside it.
TEST_F(EndToEndTest, PageBesideTheMap) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  ASSERT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"w.wld"}).status);
  const std::string map = readFile(dir / "Home.png");
  Result r = runTool(dir.path(), WLDMAP_EXE, {"--html", "w.wld"});
  EXPECT_EQ(0, r.status) << r.err;
  std::string lines = progress("Home.png");
  EXPECT_EQ(lines.insert(lines.find("Done!"), "Saving page as Home.html\n"), r.out);
  EXPECT_EQ(map, readFile(dir / "Home.png"));
  EXPECT_EQ(0u, readFile(dir / "Home.html").find("<!DOCTYPE html>"));
  EXPECT_EQ(1, runTool(dir.path(), WLDMAP_EXE, {"--open", "w.wld"}).status);
}

// --open hands xdg-open the page's absolute file:// URL, which no world's name
// can turn into another site or an option, and runs it apart from the run, in a
// terminal as the desktop's "Explore in browser" has it: a session of its own, no
// standard signal ignored or blocked, output to the null device, no descriptor
// of the tool's (7 here). The browser it starts outlives the terminal. Its
// failure, death or silence is a warning.
TEST_F(EndToEndTest, PageOpenedByItsOwnUrlApartFromTheRun) {
  if (!kPosixShell) return;
  fs::create_directory(dir / "bin");
  writeFile(dir / "bin/xdg-open", R"sh(#!/bin/sh
set -- "$@" $(cat /proc/$$/stat)
ign=$(sed -n 's/^SigIgn:\t//p' /proc/$$/status) blk=$(sed -n 's/^SigBlk:\t//p' /proc/$$/status)
echo "$1 $(($7 == $$)) $((0x$ign & 0x7fffffff)) $((0x$blk)) $(readlink /proc/$$/fd/1) $(test -e /proc/$$/fd/7; echo $?)" >> opened
[ -e browse ] && (trap 'echo HUP >> browsed' HUP; sleep 1; echo alive >> browsed) &
case $HOW in fail) exit 4;; kill) kill -9 $$;; hang) sleep 7;; esac)sh");
  fs::permissions(dir / "bin/xdg-open", fs::perms::owner_all);
  writeFile(dir / "browse", "");
  const std::string folder = "file://" + fs::canonical(dir.path()).string() + "/";
  const std::pair<std::string, std::string> names[] = {
      {"http:evil.example?", "http%3Aevil.example%3F.html"},
      {"--manual", "--manual.html"},
      {"mailto:x", "mailto%3Ax.html"},
      {"javascript:alert(1)", "javascript%3Aalert%281%29.html"},
      {"file:///etc/passwd#", "file%3A___etc_passwd%23.html"},
      {" lead", "%20lead.html"},
  };
  std::string opened;
  for (const auto& [name, page] : names) {
    writeFile(dir / "w.wld", smallWorld(name));
    const Result r = runProcess("/bin/bash", "bash", {"-c", "PATH=$PWD/bin:$PATH exec script -qec "
        "\"exec 7</dev/null; exec '" WLDMAP_EXE "' --html --open w.wld\" /dev/null"}, dir.path());
    EXPECT_EQ(0, r.status) << r.out;
    opened += folder + page + " 1 0 0 /dev/null 1\n";
    fs::remove(dir / "browse");
  }
  EXPECT_EQ(opened, readFile(dir / "opened"));
  for (int wait = 0; wait < 50 && readFile(dir / "browsed").empty(); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ("alive\n", readFile(dir / "browsed"));
  for (const auto& [how, warning] : {std::pair{"fail", "xdg-open ended with status 4"},
                                     {"kill", "xdg-open was killed by signal 9"},
                                     {"hang", "xdg-open has not ended within 5 s"}}) {
    const Result r = runTool(dir.path(), WLDMAP_EXE, {"--html", "--open", "w.wld"},
                             std::string("export HOW=") + how + " PATH=$PWD/bin:$PATH");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(0u, r.err.find("warning:  lead.html: ")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(warning)) << r.err;
  }
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

// Several dropped worlds: each gets its own stages and map, a bad one among them
// gets its error and the run goes on, and the status tells that one failed.
TEST_F(EndToEndTest, SeveralWorldsInOneRunEachWithItsOwnStages) {
  writeFile(dir / "a.wld", smallWorld("A"));
  writeFile(dir / "bad.wld", smallWorld("B").substr(0, 40));
  writeFile(dir / "c.wld", smallWorld("C"));
  const Result r = runTool(dir.path(), WLDMAP_EXE, {"a.wld", "bad.wld", "missing.wld", "c.wld"});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ(progress("A.png") + "Parsing header\nParsing header\n" + progress("C.png"), r.out);
  std::istringstream errors(r.err);
  std::string first, second, more;
  std::getline(errors, first);
  std::getline(errors, second);
  EXPECT_EQ(0u, first.find("error: bad.wld: file ends inside the header")) << r.err;
  EXPECT_EQ(0u, second.find("error: missing.wld: cannot open")) << r.err;
  EXPECT_FALSE(std::getline(errors, more)) << r.err;
  EXPECT_EQ(kSmallWorldPixels, pixels(dir / "A.png"));
  EXPECT_EQ(kSmallWorldPixels, pixels(dir / "C.png"));
  EXPECT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"a.wld", "c.wld"}).status);
}

// A map is never written over a world file of the run, whichever comes first,
// nor over a map written earlier in the run: two backups of one world dropped
// together keep the first one's map. A map from an earlier run is replaced.
// A drop from the desktop: full paths for the program and the world, the current
// folder somewhere else, folder, file and world names in any script. A second
// drop replaces the map in place.
TEST_F(EndToEndTest, DroppedWorldWithFullUnicodePathsFromAnotherFolder) {
  const std::string separator(1, static_cast<char>(fs::path::preferred_separator));
  const std::string folder = dir.path() + separator + "W\xc3\xb6rlds \xe4\xb8\x96\xe7\x95\x8c";
  fs::create_directory(fs::u8path(folder));
  fs::create_directory(dir / "elsewhere");
  const std::string world = folder + separator + "m\xc3\xbc" "de.wld";
  writeFile(world, smallWorld("Caf\xc3\xa9 \xf0\x9f\x97\xba"));
  const std::string exe = fs::absolute(fs::u8path(WLDMAP_EXE)).u8string();
  const std::string map = folder + separator + "Caf\xc3\xa9 \xf0\x9f\x97\xba.png";
  for (int drop = 0; drop < 2; ++drop) {
    const Result r = runTool(dir / "elsewhere", exe, {world});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(progress(map), r.out);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(kSmallWorldPixels, pixels(map));
    EXPECT_EQ((std::vector<std::string>{"Caf\xc3\xa9 \xf0\x9f\x97\xba.png", "m\xc3\xbc" "de.wld"}),
              listDir(folder));
    writeFile(map, "the old map");
  }
  EXPECT_TRUE(listDir(dir / "elsewhere").empty());
}

// A map whose own path fits in Windows' MAX_PATH of 260 characters, while the
// name of its temporary file, some ten characters longer, does not.
TEST_F(EndToEndTest, MapWhosePathJustFitsIsWritten) {
  const std::string separator(1, static_cast<char>(fs::path::preferred_separator));
  std::string folder = dir.path();
  while (folder.size() + separator.size() + 8 < 255) {
    folder += separator + std::string(std::min<size_t>(60, 255 - folder.size() - 10), 'f');
    fs::create_directory(fs::u8path(folder));
  }
  const std::string map = folder + separator + "Home.png";
  ASSERT_EQ(255u, map.size());
  writeFile(folder + separator + "w.wld", smallWorld("Home"));
  const Result r = runTool(dir.path(), WLDMAP_EXE, {folder + separator + "w.wld"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(progress(map), r.out);
  EXPECT_EQ(kSmallWorldPixels, pixels(map));
  EXPECT_EQ((std::vector<std::string>{"Home.png", "w.wld"}), listDir(folder));
}

// A read-only old map is replaced like any other (Windows refuses to rename over
// one unless the tool lifts the attribute), and the new map is read-only too, as
// a replaced map keeps its permissions.
TEST_F(EndToEndTest, ReadOnlyOldMapIsReplacedAndStaysReadOnly) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  writeFile(dir / "Home.png", "a read-only map");
  const fs::path map = fs::u8path(dir / "Home.png");
  const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(map, write, fs::perm_options::remove);
  const Result r = runTool(dir.path(), WLDMAP_EXE, {"w.wld"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(kSmallWorldPixels, pixels(dir / "Home.png"));
  EXPECT_EQ(fs::perms::none, fs::status(map).permissions() & write);
  EXPECT_EQ((std::vector<std::string>{"Home.png", "w.wld"}), listDir(dir.path()));
  fs::permissions(map, fs::perms::owner_write, fs::perm_options::add);
}

#ifdef _WIN32
// C:w.wld, given while the current folder is on another drive, names w.wld in
// the current folder of drive C:, and its map goes there too, not into the
// current folder of the current drive: from a short folder, a deep one, and one
// whose map's path just fits in MAX_PATH (its temporary file's does not). A
// system that resolves such a path unsafely hangs or crashes here.
TEST_F(EndToEndTest, DriveRelativeWorldPathKeepsItsDrive) {
  const std::string drive = dir.path().substr(0, 2);
  const fs::path elsewhere = fs::current_path() / ("drive-relative-" + std::to_string(GetCurrentProcessId()));
  if (elsewhere.u8string().compare(0, 2, drive) == 0) GTEST_SKIP() << "needs a second drive";
  fs::create_directory(elsewhere);
  const std::string deep = dir.path() + "\\Saved Worlds\\backups of the old server\\2026";
  const size_t longestSize = MAX_PATH - 1 - std::string("\\DriveRel.png").size();
  std::string longest = deep;
  while (longestSize - longest.size() > 60) longest += "\\" + std::string(30, 'd');
  longest += "\\" + std::string(longestSize - longest.size() - 1, 'e');
  ASSERT_EQ(size_t(MAX_PATH - 1), (longest + "\\DriveRel.png").size());
  for (const std::string& folder : {dir.path(), deep, longest}) {
    SCOPED_TRACE(folder);
    fs::create_directories(fs::u8path(folder));
    writeFile(folder + "\\w.wld", smallWorld("DriveRel"));
    // A process's current folder on each drive but its own is in a variable "=C:".
    const std::wstring variable = L"=" + fs::u8path(drive).wstring();
    SetEnvironmentVariableW(variable.c_str(), fs::u8path(folder).wstring().c_str());
    const Result r = runTool(elsewhere.u8string(), WLDMAP_EXE, {drive + "w.wld"});
    SetEnvironmentVariableW(variable.c_str(), nullptr);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(progress(drive + "DriveRel.png"), r.out);
    EXPECT_EQ(kSmallWorldPixels, pixels(folder + "\\DriveRel.png"));
    EXPECT_TRUE(fs::is_empty(elsewhere));
    const std::vector<std::string> beside = listDir(folder);
    EXPECT_EQ("DriveRel.png", beside.at(0));
    EXPECT_EQ("w.wld", beside.back());
    EXPECT_FALSE(std::any_of(beside.begin(), beside.end(), [](const std::string& name) {
      return name.find(".tmp") != std::string::npos;
    }));
  }
  fs::remove_all(elsewhere);
}
#endif

// Each system's own rules for names: on Windows a colon would write an alternate
// data stream and "aux" the device, so both are changed; elsewhere they are legal.
TEST_F(EndToEndTest, NamesFollowTheSystemsFileNameRules) {
  const std::vector<std::pair<std::string, std::string>> cases =
      platform::kWindowsFileNames
          ? std::vector<std::pair<std::string, std::string>>{{"a:b?*", "a_b__.png"},
                                                             {"aux", "_aux.png"},
                                                             {"Con.map", "_Con.map.png"},
                                                             {"CONIN$", "_CONIN$.png"},
                                                             {"CONOUT$", "_CONOUT$.png"},
                                                             {"COM0", "_COM0.png"},
                                                             {"LPT0", "_LPT0.png"},
                                                             {"COM\xc2\xb9", "_COM\xc2\xb9.png"},
                                                             {"W\xe9", "W_.png"}}
          : std::vector<std::pair<std::string, std::string>>{{"a:b?*", "a:b?*.png"},
                                                             {"aux", "aux.png"},
                                                             {"W\xe9", "W\xe9.png"}};
  for (const auto& [name, file] : cases) {
    writeFile(dir / "w.wld", smallWorld(name));
    const Result r = runTool(dir.path(), WLDMAP_EXE, {"w.wld"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(progress(file), r.out);
    EXPECT_EQ((std::vector<std::string>{file, "w.wld"}), listDir(dir.path()));
    fs::remove(fs::u8path(dir / file));
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

// The colour file beside the started path comes first. It is read once for the
// whole run, its warnings said once, and read as bytes on every system: a
// Ctrl-Z is a bad token, not the end of a text file.
TEST_F(EndToEndTest, ColoursBesideTheStartedPathComeFirst) {
  fs::create_directory(dir / "tool");
  writeFile(dir / "w.wld", smallWorld("Home"));
  writeFile(dir / "v.wld", smallWorld("Away"));
  const std::pair<std::string, std::string> files[] = {
      {"0 1 2 3 255\n99 oops\n", "\"oops\""}, {"0 1 2 3 255\n\x1a 2 2 2 255\n", "\"\\x1a\""}};
  for (const auto& [text, token] : files) {
    writeFile(dir / "tool/tilecolors.txt", text);
    const Result r = runTool(dir.path(), "tool/wldmap", {"w.wld", "v.wld"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(progress("Home.png") + progress("Away.png"), r.out);
    EXPECT_EQ("warning: tool/tilecolors.txt: group 2: " + token +
                  " is not a 32-bit integer; this group and everything after it are ignored\n",
              r.err);
    EXPECT_EQ(0x010203FFu, pixels(dir / "Away.png")[1][0]);
  }
}

// Started by a bare name, as a shell finds it along PATH: the current folder is
// the started path's folder, then comes the executable's own.
TEST_F(EndToEndTest, BareCommandNameLooksInTheCurrentFolderThenBesideTheExecutable) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  const std::string onPath = kPosixShell ? "PATH='" + exeFolder() + "':\"$PATH\"" : "";
  const Result shipped = runTool(dir.path(), "wldmap", {"w.wld"}, onPath);
  EXPECT_EQ(0, shipped.status) << shipped.err;
  EXPECT_EQ(0x976B4BFFu, pixels(dir / "Home.png")[1][0]);

  writeFile(dir / "tilecolors.txt", "0 1 2 3 255\n");
  const Result local = runTool(dir.path(), "wldmap", {"w.wld"}, onPath);
  EXPECT_EQ(0, local.status) << local.err;
  EXPECT_EQ(0x010203FFu, pixels(dir / "Home.png")[1][0]);
}

#ifdef WLDMAP_WINDOWS_EXE
// The Windows build, run under Wine, paints exactly the pixels this build paints,
// writes the same page byte for byte and prints the same lines, on a world with
// every kind of cell.
TEST_F(EndToEndTest, WindowsBuildPaintsTheSamePixels) {
  std::vector<Tile> cells;
  uint32_t seed = 7;
  auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  for (int i = 0; i < 97 * 61; ++i) {
    cells.push_back(makeTile(next() % 3 != 0, int(next() % 256) - 128, int(next() % 17),
                             int(next() % 3) * 100, next() % 2 == 0));
  }
  writeFile(dir / "w.wld", encodeWorld(makeHeader("Same", 97, 61, 15.5, 30.0), cells));
  const Result native = runTool(dir.path(), WLDMAP_EXE, {"--html", "w.wld"});
  ASSERT_EQ(0, native.status) << native.err;
  fs::rename(dir / "Same.png", dir / "linux.png");
  fs::rename(dir / "Same.html", dir / "linux.html");

  std::string world = "Z:" + dir / "w.wld";  // Wine's Z: drive is the Unix root
  std::replace(world.begin(), world.end(), '/', '\\');
  const Result windows =
      runProcess("/usr/bin/wine", "wine", {WLDMAP_WINDOWS_EXE, "--html", world}, dir.path());
  ASSERT_EQ(0, windows.status) << windows.err;
  EXPECT_EQ(native.out.substr(0, native.out.find("Saving")),
            windows.out.substr(0, windows.out.find("Saving")));
  EXPECT_NE(std::string::npos, native.out.find("Unknown wall type: 16"));
  EXPECT_EQ(pixels(dir / "linux.png"), pixels(dir / "Same.png"));
  EXPECT_TRUE(readFile(dir / "linux.html") == readFile(dir / "Same.html"));
}

// Explorer's thumbnails, made through COM under Wine by the Windows suite's
// explorer_test, against this build's wldmap --thumbnail for the same worlds:
// a single cell, wide, tall, sides the sizes do not divide, and the large
// sample, whose thumbnail must also be made in little memory.
TEST_F(EndToEndTest, ExplorerThumbnailsAreThisBuildsThumbnails) {
  const fs::path windows = fs::path(WLDMAP_WINDOWS_EXE).parent_path();
  writeFile(dir / "one.wld", noisyWorld("One", 1, 1));
  writeFile(dir / "wide.wld", noisyWorld("Wide", 600, 7));
  writeFile(dir / "tall.wld", noisyWorld("Tall", 9, 500));
  writeFile(dir / "uneven.wld", noisyWorld("Uneven", 777, 333));
  ASSERT_EQ(0, runProcess(WLDMAP_GENSAMPLE, "gensample", {"8400", "2400", "1", "sample.wld"},
                          dir.path()).status);
  for (const char* world : {"one", "wide", "tall", "uneven", "sample"}) {
    for (const char* size : {"32", "96", "256"}) {
      const std::string png = std::string(world) + "." + size + ".png";
      const Result r = runTool(dir.path(), "wldmap",
                               {"--thumbnail", size, std::string(world) + ".wld", png});
      ASSERT_EQ(0, r.status) << r.err;
    }
  }
  std::string folder = "Z:" + dir.path();
  std::replace(folder.begin(), folder.end(), '/', '\\');
  const Result com = runTool(
      dir.path(), "wine",
      {(windows / "tests" / "explorer_test.exe").string(), "--gtest_filter=*PixelForPixel:*LittleMemory"},
      "export WLDMAP_THUMBNAIL_REFERENCES='" + folder + "'", "/usr/bin/wine");
  EXPECT_EQ(0, com.status) << com.out << com.err;
  EXPECT_NE(std::string::npos, com.out.find("sample.wld at 256: 256 x 73")) << com.out;
  EXPECT_NE(std::string::npos, com.out.find("[  PASSED  ] 2 tests")) << com.out;
  std::cout << com.out.substr(com.out.find("[ RUN"));
}
#endif

TEST_F(FailureTest, WorldFileProblems) {
  expectFailure({"missing.wld"}, "missing.wld", "cannot open");
  const std::string world = smallWorld("Home");
  writeFile(dir / "short.wld", world.substr(0, 60));
  expectFailure({"short.wld"}, "short.wld", "header");
  writeFile(dir / "cut.wld", world.substr(0, world.size() - 1));
  expectFailure({"cut.wld"}, "cut.wld", "column 1, row 2");
  const std::tuple<int32_t, int32_t, std::string> sizes[] = {
      {0, 3, "world size 0 x 3 is not valid"},
      {3, -1, "world size 3 x -1 is not valid"},
      {100000, 100000, "header declares 100000 x 100000 cells, but only 64 bytes follow"},
  };
  for (const auto& [w, h, what] : sizes) {
    writeFile(dir / "size.wld", encodeHeader(header("Home", w, h)) + std::string(64, '\0'));
    expectFailure({"size.wld"}, "size.wld", what);
  }
  std::string longName = encodeWorld(header(std::string(200, 'n'), 1, 1), {Tile{}});
  writeFile(dir / "name.wld", longName);
  expectFailure({"name.wld"}, "name.wld", "name length");
  fs::create_directory(dir / "folder.wld");
  expectFailure({"folder.wld"}, "folder.wld", "is a folder");
}

TEST_F(FailureTest, NoColourFileAnywhere) {
  if (!kPosixShell) GTEST_SKIP() << "needs a POSIX shell";
  fs::create_directory(dir / "bin");
  fs::copy_file(WLDMAP_EXE, dir / "bin/wldmap");
  writeFile(dir / "w.wld", smallWorld("Home"));
  const Result r =
      runTool(dir.path(), "wldmap", {"w.wld"}, "PATH='" + dir / "bin':/usr/bin:/bin", dir / "bin/wldmap");
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("Parsing header\nReading world\nLoading colors\n", r.out);
  EXPECT_EQ("error: tilecolors.txt: not found; looked for tilecolors.txt, " + dir.path() +
                "/bin/tilecolors.txt, " + dir.path() + "/bin/../share/wldmap/tilecolors.txt\n",
            r.err);
  EXPECT_FALSE(fs::exists(dir / "Home.png"));
#ifndef _WIN32
  // One that is there but no regular file is refused for what it is, without
  // waiting on it, and not passed over for a later one.
  writeFile(dir / "bin/tilecolors.txt", readFile(exeFolder() + "/tilecolors.txt"));
  fs::create_symlink("/dev/zero", dir / "tilecolors.txt");
  fs::create_directory(dir / "fifo");
  ASSERT_EQ(0, mkfifo((dir / "fifo/tilecolors.txt").c_str(), 0644));
  fs::create_directories(dir / "folder/tilecolors.txt");
  for (const auto& [folder, what] : {std::pair{dir.path(), "is not a regular file"},
                                     {dir / "fifo", "is not a regular file"},
                                     {dir / "folder", "is a folder, not a colour file"}}) {
    const Result refused = runTool(folder, "wldmap", {dir / "w.wld"},
                                   "PATH='" + dir / "bin':/usr/bin:/bin", dir / "bin/wldmap");
    EXPECT_EQ(2, refused.status);
    EXPECT_EQ(std::string("error: tilecolors.txt: ") + what + "\n", refused.err);
    EXPECT_FALSE(fs::exists(dir / "Home.png"));
  }
#endif
}

// A thumbnail service names the output file, often one it made itself, and
// reads back that very file: it is written in place, and nothing else is.
TEST_F(EndToEndTest, ThumbnailIsTheScaledMapWrittenInPlace) {
  writeFile(dir / "w.wld", noisyWorld("Home", 300, 70));
  writeFile(dir / "small.wld", smallWorld("Small"));
  fs::create_directory(dir / "cache");
  const std::string output = dir / "cache/thumb.png";
  writeFile(output, "");  // made by the service, which reads it back
#ifndef _WIN32
  // A second name for the service's file sees the thumbnail: the very file.
  fs::create_hard_link(output, dir / "same-file");
#endif
  const Result r = runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", "128", "w.wld", output});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ((std::vector<std::string>{"thumb.png"}), listDir(dir / "cache"));
#ifndef _WIN32
  EXPECT_EQ(readFile(output), readFile(dir / "same-file"));
  fs::remove(dir / "same-file");
#endif
  EXPECT_EQ((std::vector<std::string>{"cache", "small.wld", "w.wld"}), listDir(dir.path()));
  ASSERT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"w.wld"}).status);
  EXPECT_EQ(thumbnailOf(pixels(dir / "Home.png"), 128, 30), pixels(output));  // 29.87 rows
  // No larger than the size: the map itself, whatever the size asked, also past
  // 32 and 64 bits, where a size that wrapped would be 0 or 1.
  for (const std::string size : {"3", "4", "4294967296", "4294967297", "18446744073709551616",
                                 "18446744073709551617", "99999999999999999999"}) {
    EXPECT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", size, "small.wld", output}).status);
    EXPECT_EQ(kSmallWorldPixels, pixels(output)) << size;
  }
  EXPECT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", "1", "small.wld", output}).status);
  EXPECT_EQ(thumbnailOf(kSmallWorldPixels, 1, 1), pixels(output));
  // The colour file's warnings are for a person; a service gets none.
  writeFile(dir / "tilecolors.txt", "1 2 3 4 5 oops");
  const Result quiet = runTool(dir.path(), dir / "wldmap", {"--thumbnail", "3", "small.wld", output});
  EXPECT_EQ(0, quiet.status);
  EXPECT_EQ("", quiet.err);
#ifndef _WIN32
  // Through a symbolic link, the file the link names gets the thumbnail.
  fs::create_symlink("cache/thumb.png", dir / "link.png");
  EXPECT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", "4", "small.wld", "link.png"}).status);
  EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
  EXPECT_EQ(kSmallWorldPixels, pixels(output));
#endif
  // A world taller than one run of cells (4096): each run painted at its rows.
  writeFile(dir / "tall.wld", mixedWorld("Tall", 3, 5000));
  ASSERT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"tall.wld"}).status);
  EXPECT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", "5000", "tall.wld", "t.png"}).status);
  EXPECT_EQ(pixels(dir / "Tall.png"), pixels(dir / "t.png"));
}

// Usage errors say how to call it; failures are one error line; either way the
// output is left as it was, or not made at all.
TEST_F(FailureTest, ThumbnailFailuresLeaveTheOutputAsItWas) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  writeFile(dir / "cut.wld", smallWorld("Home").substr(0, 120));
  writeFile(dir / "thumb.png", "as it was");
  const std::vector<std::vector<std::string>> usage = {
      {"--thumbnail"},
      {"--thumbnail", "128", "w.wld"},
      {"--thumbnail", "0", "w.wld", "new.png"},
      {"--thumbnail", "-5", "w.wld", "new.png"},
      {"--thumbnail", "+5", "w.wld", "new.png"},
      {"--thumbnail", "12px", "w.wld", "new.png"},
      {"--thumbnail", "", "w.wld", "new.png"},
      {"--thumbnail", "128", "w.wld", "new.png", "more.png"},
  };
  for (const auto& args : usage) {
    const Result r = runTool(dir.path(), WLDMAP_EXE, args);
    EXPECT_EQ(1, r.status) << args.size();
    EXPECT_EQ("usage: wldmap --thumbnail SIZE WORLD.wld OUTPUT.png\n", r.err);
    EXPECT_EQ("", r.out);
  }
  const std::vector<std::string> before = listDir(dir.path());
  for (const std::string output : {"thumb.png", "new.png"}) {
    expectFailure({"--thumbnail", "128", "cut.wld", output}, "cut.wld", "header");
    expectFailure({"--thumbnail", "128", "missing.wld", output}, "missing.wld", "cannot open");
  }
  expectFailure({"--thumbnail", "128", "w.wld", "no/such/folder.png"}, "no/such/folder.png",
                kPosixShell ? "No such file or directory" : "cannot open");
  EXPECT_EQ("as it was", readFile(dir / "thumb.png"));
  EXPECT_EQ(before, listDir(dir.path()));
  // Anything but a regular file is refused at once: a FIFO without a reader
  // would hold the run, with one it would take the thumbnail.
  fs::create_directory(dir / "folder.png");
  expectFailure({"--thumbnail", "128", "w.wld", "folder.png"}, "folder.png", "is a folder");
#ifdef _WIN32
  expectFailure({"--thumbnail", "128", "w.wld", "NUL"}, "NUL", "is not a regular file");
#else
  // Run as root, a tool that wrongly renamed a file over the device would take
  // /dev/null from the whole system: root gets a null device of its own.
  const bool root = geteuid() == 0;
  if (!root || mknod((dir / "null.png").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    const std::string device = root ? "null.png" : "/dev/null";
    expectFailure({"--thumbnail", "128", "w.wld", device}, device, "is not a regular file");
  }
  ASSERT_EQ(0, mkfifo((dir / "fifo.png").c_str(), 0600));
  expectFailure({"--thumbnail", "128", "w.wld", "fifo.png"}, "fifo.png", "is not a regular file");
  // A thumbnail that does not fit, whether a file size limit or a full disk
  // says so, leaves the older one whole.
  writeFile(dir / "noisy.wld", noisyWorld("Noisy", 300, 200));
  expectFailure({"--thumbnail", "300", "noisy.wld", "thumb.png"}, "thumb.png", "File too large",
                "ulimit -f 16");
  EXPECT_EQ("as it was", readFile(dir / "thumb.png"));
  // Into an empty output: what a write left before it failed short is cut back.
  writeFile(dir / "empty.png", "");
  expectFailure({"--thumbnail", "300", "noisy.wld", "empty.png"}, "empty.png", "File too large",
                "ulimit -f 16");
  EXPECT_EQ("", readFile(dir / "empty.png"));
  // No path of a thumbnail's reads its standard input, which a service may
  // leave open for good: not a usage error, a failure, nor one that escapes the
  // run (no memory to start a thread, under a small address space).
  const std::string endless = "exec 0< <(sleep 300)";
  EXPECT_EQ(1, runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", "0", "w.wld", "x.png"}, endless).status);
  EXPECT_EQ(2, runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", "9", "cut.wld", "x.png"}, endless).status);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && !WLDMAP_SANITIZED
  for (const char* limit : {"4000", "8000", "16000"}) {
    const Result r = runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", "300", "noisy.wld", "x.png"},
                             endless + "; ulimit -v " + limit);
    EXPECT_NE(kTimedOut, r.status) << limit;
  }
#endif
  if (access("/usr/bin/strace", X_OK) == 0) {
    const Result full =
        // A full disk told at the sync, as NFS tells it (a sanitizer's runtime
        // makes writes of its own, so the writes are the fault sweep's).
        runUnderStrace(dir.path(), {"-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e",
                                    "inject=fsync:error=ENOSPC:when=1"},
                       {"--thumbnail", "300", "noisy.wld", "thumb.png"});
    EXPECT_EQ(2, full.status);
    EXPECT_EQ("error: thumb.png: cannot write it: No space left on device\n", full.err);
    EXPECT_TRUE(readFile(dir / "thumb.png") == "as it was");
  }
#endif
}

// A thumbnail is never written over its own world, whatever names it.
TEST_F(FailureTest, ThumbnailIsNeverWrittenOverItsWorld) {
  const std::string world = smallWorld("Home");
  writeFile(dir / "w.wld", world);
  std::vector<std::string> outputs{"w.wld", "./w.wld", dir / "w.wld"};
#ifdef _WIN32
  outputs.push_back("W.WLD");  // the case Windows folds
#else
  fs::create_symlink("w.wld", dir / "link.png");
  fs::create_hard_link(dir / "w.wld", dir / "hard.png");
  outputs.insert(outputs.end(), {"link.png", "hard.png"});
#endif
  for (const std::string& output : outputs) {
    expectFailure({"--thumbnail", "16", "w.wld", output}, output,
                  "is the world file itself; it is kept, and no thumbnail is written");
    EXPECT_EQ(world, readFile(dir / "w.wld"));
  }
}

// Two thumbnails written to one output at once, as two worlds of one name
// would be: the output is one whole PNG, of one of them, and each run says
// truly that it wrote its own.
TEST_F(EndToEndTest, TwoThumbnailsOfOneOutputAtOnceLeaveOneWholeImage) {
  // Alike in size, so that the two are written at the same time, and large,
  // so that each takes many writes.
  writeFile(dir / "a.wld", noisyWorld("A", 1000, 700));
  writeFile(dir / "b.wld", noisyWorld("B", 999, 700));
  runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", "1000", "a.wld", "a.png"});
  runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", "1000", "b.wld", "b.png"});
  const std::string a = readFile(dir / "a.png"), b = readFile(dir / "b.png");
  for (int round = 0; round < 6; ++round) {
    if (round % 3 == 1) writeFile(dir / "t.png", "an older thumbnail");
    if (round % 3 == 2) writeFile(dir / "t.png", "");
    Result first;
    std::thread other([&] {
      first = runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", "1000", "a.wld", "t.png"});
    });
    const Result second = runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", "1000", "b.wld", "t.png"});
    other.join();
    EXPECT_EQ(0, first.status) << first.err;
    EXPECT_EQ(0, second.status) << second.err;
    const std::string now = readFile(dir / "t.png");
    EXPECT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
    fs::remove(dir / "t.png");
  }
}

TEST_F(FailureTest, TargetThatIsAFolderIsKept) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  fs::create_directory(dir / "Home.png");
  expectFailure({"w.wld"}, "Home.png", "cannot replace it");
  EXPECT_TRUE(fs::is_directory(dir / "Home.png"));
  // A page's too, before its map is made.
  fs::remove(dir / "Home.png");
  fs::create_directory(dir / "Home.html");
  expectFailure({"--html", "w.wld"}, "Home.html", "cannot replace it");
}

#ifndef _WIN32
// A file the tool made and could not remove (its temporary name, when the
// rename and then the removal fail) is named, for the user to remove.
TEST_F(FailureTest, FileThatCannotBeRemovedIsNamed) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  writeFile(dir / "w.wld", smallWorld("Home"));
  writeFile(dir / "Home.png", "the old map");
  const Result r = runUnderStrace(dir.path(), {"-qq", "-o", "/dev/null", "-e", "trace=rename,unlink",
                                               "-e", "inject=rename:error=EIO", "-e",
                                               "inject=unlink:error=EPERM"},
                                  {"w.wld"});
  EXPECT_EQ(2, r.status);
  const std::vector<std::string> left = listDir(dir.path());
  ASSERT_EQ(3u, left.size());
  EXPECT_EQ("warning: Home.png: cannot remove " + left[1] +
                ": Operation not permitted; remove it by hand\nerror: Home.png: cannot replace it: "
                "Input/output error\n",
            r.err);
  EXPECT_EQ("the old map", readFile(dir / "Home.png"));
  fs::remove(dir / left[1]);
  // A thumbnail's too; and an empty output that a failed write reached and
  // that cannot be cut back is named as well.
  writeFile(dir / "t.png", "an older thumbnail");
  const Result thumbnail = runUnderStrace(
      dir.path(), {"-qq", "-o", "/dev/null", "-e", "trace=rename,unlink", "-e", "inject=rename:error=EIO",
                   "-e", "inject=unlink:error=EPERM"},
      {"--thumbnail", "8", "w.wld", "t.png"});
  EXPECT_EQ(2, thumbnail.status);
  EXPECT_EQ(0u, thumbnail.err.find("warning: t.png: cannot remove t.png.tmp")) << thumbnail.err;
  writeFile(dir / "big.wld", noisyWorld("Big", 600, 400));  // a thumbnail of more than one write
  writeFile(dir / "e.png", "");
  // (The write fails at a file size limit: a sanitizer's runtime makes
  // writes of its own, which an injected write failure could hit.)
  const Result cut = runUnderStrace(
      dir.path(), {"-qq", "-o", "/dev/null", "-e", "trace=ftruncate", "-e", "inject=ftruncate:error=EIO"},
      {"--thumbnail", "600", "big.wld", "e.png"}, "ulimit -f 16");
  EXPECT_EQ(2, cut.status);
  EXPECT_EQ("warning: e.png: cannot cut it back to its old content: Input/output error\n"
            "error: e.png: cannot write it: File too large\n", cut.err);
}
#endif

TEST_F(FailureTest, WriteFailureKeepsTheOldMapAndLeavesNoTemporaryFile) {
  if (!kPosixShell) GTEST_SKIP() << "needs a POSIX shell";
  // A file size limit is an ordinary write failure, not a signal that kills.
  writeFile(dir / "w.wld", noisyWorld("Home", 200, 200));
  writeFile(dir / "Home.png", "the old map");
  expectFailure({"w.wld"}, "Home.png", "File too large", "ulimit -f 16");
  EXPECT_EQ("the old map", readFile(dir / "Home.png"));
}

#ifndef _WIN32
// A read that fails is an error like any other, for the world and the colour
// file alike: neither is taken for a file that ended there.
TEST_F(FailureTest, FailedReadsAreErrorsNotEnds) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  writeFile(dir / "w.wld", smallWorld("Home"));
  writeFile(dir / "Home.png", "the old map");
  for (const std::string& file : {dir / "w.wld", exeFolder() + "/tilecolors.txt"}) {
    // Every read of that one file fails with EIO.
    const Result r = runUnderStrace(
        dir.path(), {"-f", "-o", "/dev/null", "-P", file, "-e", "inject=read:error=EIO"},
        {dir / "w.wld"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("error: " + file + ": cannot read it: Input/output error\n", r.err);
    EXPECT_EQ("the old map", readFile(dir / "Home.png"));
    EXPECT_EQ((std::vector<std::string>{"Home.png", "w.wld"}), listDir(dir.path()));
  }
}

// The save as the system sees it: the new file is made without a name, synced,
// named only then and renamed over the map, and the folder is synced after. The
// unknown-wall lines go out in one write, not one each.
TEST_F(EndToEndTest, SaveOpensOnceSyncsAndRenames) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  std::vector<Tile> cells(1000, makeTile(false, 0, 14, 0, false));
  writeFile(dir / "w.wld", encodeWorld(header("Home", 40, 25), cells));
  writeFile(dir / "Home.png", "the old map");
  const Result r = runUnderStrace(
      dir.path(), {"-o", dir / "trace", "-e", "trace=openat,open,fsync,linkat,rename,write"},
      {"w.wld"});
  ASSERT_EQ(0, r.status) << r.err;
  std::istringstream trace(readFile(dir / "trace"));
  std::vector<std::string> events;  // what happened to the temporary file and the folder
  std::string tmpFd, folderFd;
  int stdoutWrites = 0;
  for (std::string line; std::getline(trace, line);) {
    const std::string result = line.substr(line.rfind("= ") + 2);
    if (line.rfind("write(1,", 0) == 0) ++stdoutWrites;
    if (line.find("O_TMPFILE") != std::string::npos && line.rfind("open", 0) == 0) {
      tmpFd = result;
      events.push_back("open unnamed");
    } else if (line.find("O_DIRECTORY") != std::string::npos) {
      folderFd = result;
    } else if (!tmpFd.empty() && line.rfind("fsync(" + tmpFd + ")", 0) == 0) {
      events.push_back("sync");
    } else if (line.rfind("linkat(", 0) == 0 && line.find("Home.png.tmp") != std::string::npos) {
      events.push_back("name");
    } else if (line.rfind("rename(", 0) == 0) {
      events.push_back("rename");
      tmpFd.clear();  // closed by now; the folder may get the same number
    } else if (!folderFd.empty() && line.rfind("fsync(" + folderFd + ")", 0) == 0) {
      events.push_back("sync folder");
    }
  }
  EXPECT_EQ((std::vector<std::string>{"open unnamed", "sync", "name", "rename", "sync folder"}),
            events);
  EXPECT_LT(stdoutWrites, 50);  // 24 kB of warnings go out in buffer-sized writes
  EXPECT_EQ(1000, std::count(r.out.begin(), r.out.end(), 'U'));
}

// A file manager's sandbox gives a thumbnailer the world, the output's folder
// and the installed tree: it writes only a file without a name in that folder,
// linked as the output once whole; it renames and removes nothing, and writes
// nothing on standard output.
TEST_F(EndToEndTest, ThumbnailWritesItsOutputAndNothingElse) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  writeFile(dir / "w.wld", noisyWorld("Home", 300, 200));
  const std::string output = dir / "out.png";
  const Result r = runUnderStrace(dir.path(), {"-f", "-o", dir / "trace", "-e", "trace=%file,%desc"},
                                 {"--thumbnail", "64", "w.wld", output});
  ASSERT_EQ(0, r.status) << r.err;
  std::istringstream trace(readFile(dir / "trace"));
  int outputs = 0;
  for (std::string line; std::getline(trace, line);) {
    // ThreadSanitizer's runtime makes and removes a scratch file of its own.
    if (line.find("/tsan.") != std::string::npos) continue;
    const bool writes = line.find("O_WRONLY") != std::string::npos ||
                        line.find("O_RDWR") != std::string::npos ||
                        line.find("O_CREAT") != std::string::npos;
    if (line.find("open") != std::string::npos && writes) {
      const bool unnamed =
          line.find("\"" + dir.path() + "/\", O_WRONLY|O_CLOEXEC|O_TMPFILE") != std::string::npos;
      EXPECT_TRUE(unnamed || line.find("\"" + output + "\"") != std::string::npos) << line;
      outputs += unnamed;
    }
    const size_t space = line.find(' ');
    const std::string call = line.substr(space + 1, line.find('(') - space - 1);
    if (call == "linkat") {
      EXPECT_NE(std::string::npos, line.find("\"" + output + "\", AT_SYMLINK_FOLLOW) = 0")) << line;
      continue;
    }
    for (const char* changes : {"rename", "unlink", "mkdir", "link", "symlink", "chmod", "fchmod"}) {
      EXPECT_NE(0u, call.find(changes)) << line;  // and their ...at forms
    }
    EXPECT_EQ(std::string::npos, line.find(" write(1,")) << line;
  }
  EXPECT_EQ(1, outputs);
}

TEST_F(EndToEndTest, ReplacedMapKeepsItsPermissionsAndANewOneFollowsTheUmask) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  writeFile(dir / "Home.png", "a private map");
  fs::permissions(dir / "Home.png", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"w.wld"}, "umask 022").status);
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write,
            fs::status(dir / "Home.png").permissions());
  // Every bit of the mode is kept, the set-user-ID, set-group-ID and sticky
  // bits too (as far as the system lets their owner set them).
  const fs::perms special = fs::perms::set_uid | fs::perms::set_gid | fs::perms::sticky_bit |
                            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(dir / "Home.png", special);
  const fs::perms before = fs::status(dir / "Home.png").permissions();
  EXPECT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"w.wld"}, "umask 077").status);
  EXPECT_EQ(before, fs::status(dir / "Home.png").permissions());
  if (getuid() == 0) {
    EXPECT_EQ(special, before);
  }
  // Also where only those bits differ from a new file's mode (2644, umask 022).
  fs::permissions(dir / "Home.png", fs::perms(02644));
  const fs::perms setGroup = fs::status(dir / "Home.png").permissions();
  EXPECT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"w.wld"}, "umask 022").status);
  EXPECT_EQ(setGroup, fs::status(dir / "Home.png").permissions());
  // A temporary file an earlier process of the same number left behind is not
  // the run's: the save takes the next name, and leaves that file alone; also
  // where the new file is made with its name (no unnamed files).
  fs::permissions(dir / "Home.png", fs::perms::owner_read | fs::perms::owner_write);
  for (const bool named : {false, true}) {
    const auto args = named ? std::vector<std::string>{WLDMAP_EXE, "w.wld"}
                            : std::vector<std::string>{"w.wld"};
    EXPECT_EQ(0, runTool(dir.path(), WLDMAP_EXE, args, "echo left > Home.png.tmp$$-0",
                         named ? WLDMAP_NO_UNNAMED : WLDMAP_EXE).status);
    EXPECT_EQ(kSmallWorldPixels, pixels(dir / "Home.png"));
    const std::vector<std::string> left = listDir(dir.path());
    ASSERT_EQ(3u, left.size());
    EXPECT_EQ(0u, left[1].find("Home.png.tmp"));
    EXPECT_EQ("left\n", readFile(dir / left[1]));
    fs::remove(dir / left[1]);
  }
  // New, a map and a thumbnail take what the umask leaves, made with a name
  // or without.
  for (const bool named : {false, true}) {
    for (const char* made : {"Home.png", "new.png"}) {
      fs::remove(dir / made);
      std::vector<std::string> args{"w.wld"};
      if (made == std::string("new.png")) args = {"--thumbnail", "4", "w.wld", "new.png"};
      if (named) args.insert(args.begin(), WLDMAP_EXE);
      EXPECT_EQ(0, runTool(dir.path(), WLDMAP_EXE, args, "umask 027", named ? WLDMAP_NO_UNNAMED : WLDMAP_EXE).status);
      EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                fs::status(dir / made).permissions()) << made << named;
    }
  }
  fs::remove(dir / "new.png");
  // An old map that was a link to a program is replaced by a map of its own,
  // with a new map's mode, not the program's; the program is left alone.
  fs::remove(dir / "Home.png");
  writeFile(dir / "program", "#!/bin/sh\n");
  fs::permissions(dir / "program", fs::perms::owner_all | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read |
                                       fs::perms::others_exec);
  fs::create_symlink("program", dir / "Home.png");
  EXPECT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"w.wld"}, "umask 022").status);
  EXPECT_FALSE(fs::is_symlink(dir / "Home.png"));
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read,
            fs::status(dir / "Home.png").permissions());
  EXPECT_EQ("#!/bin/sh\n", readFile(dir / "program"));
}

// On a file system without modes (FAT through FUSE, phones over MTP, some
// shares), setting the older map's mode fails with ENOSYS or ENOTSUP, or with
// EPERM for the user's own file: the map is written all the same, with a
// warning. Where the modes match already, none is set; a real failure to set
// one stays an error that keeps the older map.
TEST_F(EndToEndTest, ModesAFileSystemCannotKeepAreAWarningNotAFailure) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  writeFile(dir / "w.wld", smallWorld("Home"));
  // The older map's mode, the error injected, and what the run must say.
  const std::tuple<int, const char*, std::string> cases[] = {
      {0644, "ENOSYS", ""},  // as a new map's: not set at all
      {0600, "ENOSYS", "Function not implemented"},
      {0600, "EOPNOTSUPP", "Operation not supported"},
      {0600, "EPERM", "Operation not permitted"},
      {0600, "EIO", "error: Home.png: cannot set its permissions: Input/output error\n"},
  };
  for (const auto& [mode, error, said] : cases) {
    writeFile(dir / "Home.png", "the old map");
    fs::permissions(dir / "Home.png", fs::perms(mode));
    const Result r = runUnderStrace(dir.path(), {"-qq", "-o", "trace", "-e", "trace=fchmod", "-e",
                                                 std::string("inject=fchmod:error=") + error},
                                    {"w.wld"}, "umask 022");
    const bool fails = said.rfind("error:", 0) == 0;
    EXPECT_EQ(fails ? 2 : 0, r.status) << error;
    EXPECT_EQ(fails || said.empty() ? said
                                    : "warning: Home.png: cannot give it the older map's "
                                      "permissions: " + said + "; it has those of a new file\n",
              r.err);
    EXPECT_EQ(said.empty(), readFile(dir / "trace").empty()) << readFile(dir / "trace");
    if (fails) {
      EXPECT_EQ("the old map", readFile(dir / "Home.png"));
    } else {
      EXPECT_EQ(kSmallWorldPixels, pixels(dir / "Home.png")) << error;
    }
    EXPECT_EQ((std::vector<std::string>{"Home.png", "trace", "w.wld"}), listDir(dir.path()));
  }
}

// A folder whose sync fails cannot make the rename last: the run says so and
// leaves the folder as it was, the older map (or page) put back exactly, a
// private one private and a link a link, or, where there was none, the new
// one removed.
TEST_F(FailureTest, FolderThatCannotBeSyncedIsLeftAsItWas) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  writeFile(dir / "w.wld", smallWorld("Home"));
  writeFile(dir / "elsewhere", "the old map, elsewhere");
  // A map's own fsync comes first, then its folder's; a page's follow the map's.
  for (const auto& [output, when, html] : {std::tuple{"Home.png", "2", false}, {"Home.html", "4", true}}) {
    for (const char* older : {"the old map", "private", "link", ""}) {
      const std::string target = dir / output;
      if (older == std::string("link")) fs::create_symlink("elsewhere", target);
      else if (*older) writeFile(target, older);
      if (older == std::string("private")) fs::permissions(target, fs::perms(0600));
      const std::vector<std::string> before = listDir(dir.path());
      std::vector<std::string> args{"w.wld"};
      if (html) args.insert(args.begin(), "--html");
      const Result r = runUnderStrace(dir.path(), {"-qq", "-o", "/dev/null", "-e", "trace=fsync",
                                                   "-e", std::string("inject=fsync:error=EIO:when=") + when},
                                      args);
      SCOPED_TRACE(std::string(output) + ", older: " + older);
      EXPECT_EQ(2, r.status);
      EXPECT_EQ(std::string("error: ") + output + ": cannot sync its folder: Input/output error\n", r.err);
      if (html) fs::remove(dir / "Home.png");  // the map a page comes after
      EXPECT_EQ(before, listDir(dir.path()));
      if (older == std::string("link")) {
        EXPECT_EQ("elsewhere", fs::read_symlink(target).string());
      } else if (*older) {
        EXPECT_EQ(older, readFile(target));
        EXPECT_EQ(older == std::string("private") ? fs::perms(0600) : fs::perms(0644),
                  fs::status(target).permissions() & fs::perms::all);
      }
      fs::remove(target);
    }
  }
  EXPECT_EQ("the old map, elsewhere", readFile(dir / "elsewhere"));
  // A file system that cannot sync files or folders at all (EINVAL) has
  // nothing more to make durable: the map is saved.
  const Result unsynced = runUnderStrace(dir.path(), {"-qq", "-o", "/dev/null", "-e", "trace=fsync",
                                                      "-e", "inject=fsync:error=EINVAL"},
                                         {"w.wld"});
  EXPECT_EQ(0, unsynced.status) << unsynced.err;
  EXPECT_EQ(kSmallWorldPixels, pixels(dir / "Home.png"));
}

// What an ordinary user may do in folders the user does not own. A map of
// another user's in a shared folder with the sticky bit (as /tmp) cannot be
// replaced: refused as soon as the header names it, before anything is made,
// so that nothing is left that this user could not remove. A folder the user
// may write but not read is written, though it cannot be synced.
TEST_F(FailureTest, FoldersOfOtherUsersAsAnOrdinaryUser) {
  fs::permissions(dir.path(), fs::perms(0755));
  fs::create_directory(dir / "shared");
  fs::permissions(dir / "shared", fs::perms(01777));
  writeFile(dir / "shared/w.wld", smallWorld("Home"));
  writeFile(dir / "shared/Home.png", "another user's map");
  fs::permissions(dir / "shared/Home.png", fs::perms(0666));
  if (getuid() == 0) {
    // Another user's map, as the ordinary user sees it.
    ASSERT_EQ(0, chown((dir / "shared/Home.png").c_str(), 1, 1));
    const Result r = runAsOrdinaryUser(dir / "shared", {"w.wld"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("error: Home.png: cannot replace it: Operation not permitted\n", r.err);
    EXPECT_EQ("Parsing header\n", r.out);  // refused before the world is read
    EXPECT_EQ((std::vector<std::string>{"Home.png", "w.wld"}), listDir(dir / "shared"));
    EXPECT_EQ("another user's map", readFile(dir / "shared/Home.png"));
    // In a sticky folder of the user's own, the owner of the folder may replace it.
    ASSERT_EQ(0, chown((dir / "shared").c_str(), 65534, 65534));
    EXPECT_EQ(0, runAsOrdinaryUser(dir / "shared", {"w.wld"}).status);
    EXPECT_EQ(kSmallWorldPixels, pixels(dir / "shared/Home.png"));
    // Root may replace another user's map in a sticky folder a third user
    // owns; an ordinary user may in a shared folder without the sticky bit.
    ASSERT_EQ(0, chown((dir / "shared").c_str(), 2, 2));
    ASSERT_EQ(0, chown((dir / "shared/Home.png").c_str(), 1, 1));
    EXPECT_EQ(0, runTool(dir / "shared", WLDMAP_EXE, {"w.wld"}).status);
    fs::permissions(dir / "shared", fs::perms(0777));
    ASSERT_EQ(0, chown((dir / "shared/Home.png").c_str(), 1, 1));
    EXPECT_EQ(0, runAsOrdinaryUser(dir / "shared", {"w.wld"}).status);
  }
  fs::create_directory(dir / "drop");
  writeFile(dir / "drop/w.wld", smallWorld("Home"));
  fs::permissions(dir / "drop", fs::perms(0333));
  const Result r = runAsOrdinaryUser(dir / "drop", {"w.wld"});
  fs::permissions(dir / "drop", fs::perms(0755));
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(kSmallWorldPixels, pixels(dir / "drop/Home.png"));
  EXPECT_EQ((std::vector<std::string>{"Home.png", "w.wld"}), listDir(dir / "drop"));
}

// Anything but a regular file named as a world is refused at once, without
// waiting on it: a FIFO would otherwise hold the run for good.
TEST_F(FailureTest, FifoIsNotReadAsAWorld) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  ASSERT_EQ(0, mkfifo((dir / "fifo.wld").c_str(), 0600));
  const Result r = runTool(dir.path(), "/usr/bin/timeout",
                           {"20", WLDMAP_EXE, "fifo.wld", "w.wld"}, "", "/usr/bin/timeout");
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("Parsing header\n" + progress("Home.png"), r.out);
  EXPECT_EQ("error: fifo.wld: is not a regular file\n", r.err);
}

// Starts the tool on `worlds` in `cwd` with standard output on `out` and standard
// input from `in` (/dev/null when -1), and no other descriptor of this suite's;
// the pid.
pid_t startTool(const std::string& cwd, const std::vector<std::string>& worlds, int out,
                int in = -1, const std::string& argv0 = WLDMAP_EXE) {
  std::vector<std::string> argv{argv0};
  argv.insert(argv.end(), worlds.begin(), worlds.end());
  return startProcess(WLDMAP_EXE, argv, cwd, in, out, -1);
}

pid_t startTool(const std::string& cwd, const std::string& world, int out, int in = -1) {
  return startTool(cwd, std::vector<std::string>{world}, out, in);
}

// Reads from fd until the text has arrived `times` times or the other end is closed.
std::string readUntil(int fd, const std::string& text, size_t times = 1) {
  std::string all;
  char buffer[256];
  auto seen = [&] {
    size_t count = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++count;
    return count;
  };
  for (ssize_t n; seen() < times && (n = read(fd, buffer, sizeof buffer)) > 0;) {
    all.append(buffer, static_cast<size_t>(n));
  }
  return all;
}

struct Memory {
  long peakKiB = -1;
  long residentKiB = -1;
  std::vector<std::string> descriptors;  // the open descriptors' numbers, sorted
};

// The tool's peak and current resident memory, and its open descriptors, once
// it has mapped `worlds` (of which the first `mapped` ones, all by default, map)
// and waits for its final input, read from /proc while it waits. (rusage's peak
// for a child starts from that of the process that forked it, this suite's own.)
Memory memoryAtTheFinalRead(const std::string& cwd, const std::vector<std::string>& worlds,
                            const std::string& argv0 = WLDMAP_EXE, size_t mapped = SIZE_MAX) {
  int input[2], output[2];
  if (pipe(input) != 0 || pipe(output) != 0) return {};
  const pid_t pid = startTool(cwd, worlds, output[1], input[0], argv0);
  close(input[0]);
  close(output[1]);
  readUntil(output[0], "Done!", std::min(mapped, worlds.size()));
  const std::string proc = "/proc/" + std::to_string(pid);
  std::istringstream status(readFile(proc + "/status"));
  Memory memory;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) memory.residentKiB = std::stol(line.substr(6));
    if (line.rfind("VmHWM:", 0) == 0) memory.peakKiB = std::stol(line.substr(6));
  }
  memory.descriptors = listDir(proc + "/fd");
  EXPECT_EQ(1, write(input[1], "\n", 1));
  close(input[1]);
  close(output[0]);
  int exitStatus = 0;
  waitpid(pid, &exitStatus, 0);
  EXPECT_EQ(mapped >= worlds.size() ? 0 : 2, WEXITSTATUS(exitStatus));
  return memory;
}

// Nothing a world's run opens outlives it, whether its map is written or it
// fails: after forty worlds the tool waits for Enter with the descriptors it
// started with. (Memory it kept would end the sanitizer build's run with
// LeakSanitizer's status, which the exit status check sees; there, freed memory
// stays resident in AddressSanitizer's quarantine, so the resident check is for
// the other builds.)
TEST_F(EndToEndTest, NoDescriptorOrMemoryOutlivesItsWorld) {
  std::vector<std::string> worlds;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "w" + std::to_string(i) + ".wld";
    if (i % 4 == 0) writeFile(dir / name, noisyWorld("Map" + std::to_string(i), 300, 200));
    if (i % 4 == 1) writeFile(dir / name, smallWorld("Cut").substr(0, 120));
    if (i % 4 == 2) writeFile(dir / name, smallWorld("Same"));  // refused after the first
    worlds.push_back(name);  // and every fourth is missing
  }
  std::rotate(worlds.begin(), worlds.begin() + 1, worlds.end());  // w0.wld comes last
  const Memory one = memoryAtTheFinalRead(dir.path(), {"w0.wld"});
  const Memory many = memoryAtTheFinalRead(dir.path(), worlds, WLDMAP_EXE, 11);
  EXPECT_EQ((std::vector<std::string>{"0", "1", "2"}), one.descriptors);
  EXPECT_EQ(one.descriptors, many.descriptors);
#ifndef WLDMAP_SANITIZED
  EXPECT_LT(many.residentKiB, one.residentKiB + 1024);
#endif
}

// Each world's grid is gone before the next is read, so mapping two large worlds
// takes the memory of one; and the map is painted band by band as it is encoded,
// never held whole.
TEST_F(EndToEndTest, PeakMemoryOfSeveralWorldsIsThatOfOne) {
  writeFile(dir / "big.wld", encodeWorld(header("Big", 2000, 2000), std::vector<Tile>(4000000)));
  writeFile(dir / "half.wld", encodeWorld(header("Half", 2000, 1000), std::vector<Tile>(2000000)));
  writeFile(dir / "big2.wld", encodeWorld(header("Big2", 2000, 2000), std::vector<Tile>(4000000)));
  const long one = memoryAtTheFinalRead(dir.path(), {"big.wld"}).peakKiB;
  const long two = memoryAtTheFinalRead(dir.path(), {"big.wld", "big2.wld"}).peakKiB;
  const long half = memoryAtTheFinalRead(dir.path(), {"half.wld"}).peakKiB;
  const long gridKiB = 4000000L * sizeof(Tile) / 1024;
  EXPECT_GT(one, gridKiB);
  EXPECT_LT(two, one + gridKiB / 4);
  // Two million more cells cost their tiles, 10 bytes each, and not their pixels
  // too, 4 bytes more.
  EXPECT_LT(one - half, 2000000L * 12 / 1024);
}

// A colour file's entries for types no tile can have cost nothing: its memory
// is that of the 256 types, whatever the file's size.
TEST_F(EndToEndTest, ColourFileOfAnySizeTakesTheSameMemory) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  fs::create_directory(dir / "tool");
  std::string text = "0 1 2 3 255\n";
  for (int type = 1000; type < 400000; ++type) text += std::to_string(type) + " 1 2 3 4\n";
  writeFile(dir / "tool/tilecolors.txt", text);  // six megabytes
  const long large = memoryAtTheFinalRead(dir.path(), {"w.wld"}, "tool/wldmap").peakKiB;
  writeFile(dir / "tool/tilecolors.txt", "0 1 2 3 255\n");
  const long small = memoryAtTheFinalRead(dir.path(), {"w.wld"}, "tool/wldmap").peakKiB;
  EXPECT_LT(large - small, 2048) << large << " KiB against " << small;
}

// A console left open after a drop holds no map: the grid and the painted bands
// are released before the tool waits for Enter.
TEST_F(EndToEndTest, MemoryIsReleasedBeforeTheFinalRead) {
  writeFile(dir / "big.wld", encodeWorld(header("Big", 2000, 2000), std::vector<Tile>(4000000)));
  const Memory memory = memoryAtTheFinalRead(dir.path(), {"big.wld"});
  const long gridKiB = 4000000L * sizeof(Tile) / 1024;
  EXPECT_GT(memory.peakKiB, gridKiB);
  EXPECT_LT(memory.residentKiB, memory.peakKiB - gridKiB * 9 / 10) << "peak " << memory.peakKiB;
}

// Options are typed in a terminal: they answer and exit while standard input
// stays open and empty.
TEST_F(EndToEndTest, HelpAndVersionDoNotWaitForInput) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  for (const std::string option : {"--help", "--version", "--thumbnail 8 w.wld thumb.png"}) {
    const Result r = runProcess(
        "/bin/bash", "sh",
        {"-c", "mkfifo in && exec timeout 20 \"$0\" " + option + " <>in", WLDMAP_EXE},
        dir.path());
    EXPECT_EQ(0, r.status) << option;  // 124 had it waited
    fs::remove(dir / "in");
    if (option[2] == 't') {
      EXPECT_EQ("", r.out);  // a thumbnail service runs it: nothing to say, no Enter
      EXPECT_EQ(kSmallWorldPixels, pixels(dir / "thumb.png"));
      continue;
    }
    EXPECT_EQ(0u, r.out.find(option == "--help" ? "Usage: wldmap" : "wldmap ")) << r.out;
  }
}

// Progress that cannot be written is no reason to give up the map.
TEST_F(EndToEndTest, ClosedPipeOnStandardOutputStillWritesTheMap) {
  writeFile(dir / "w.wld", smallWorld("Home"));
  int ends[2];
  ASSERT_EQ(0, pipe(ends));
  close(ends[0]);  // no reader: every write meets a closed pipe
  const pid_t pid = startTool(dir.path(), "w.wld", ends[1]);
  close(ends[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(kSmallWorldPixels, pixels(dir / "Home.png"));
}

// A signal during the save of a map or a page, sent at a chosen call by strace,
// so that nothing rests on timing. Sent while the temporary file is being
// synced, it removes that file and ends the run as the signal says, the old
// output kept; sent at the rename, it waits until the new output is in place
// and then ends the run, with the older output's second name removed. A signal
// the caller ignores (nohup, trap '' HUP) stays ignored: the run finishes.
TEST_F(EndToEndTest, SignalDuringTheSaveLeavesNothingBehind) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  writeFile(dir / "w.wld", smallWorld("Home"));
  const std::pair<int, const char*> signals[] = {
      {SIGINT, "INT"}, {SIGTERM, "TERM"}, {SIGHUP, "HUP"}, {SIGQUIT, "QUIT"}};
  // The map's sync and rename come first; the page's sync is the third, after
  // the map's folder's, and its rename the second.
  const std::tuple<const char*, const char*, const char*> saves[] = {
      {"Home.png", "fsync", "1"}, {"Home.png", "rename", "1"},
      {"Home.html", "fsync", "3"}, {"Home.html", "rename", "2"}};
  for (const auto& [signal, name] : signals) {
    for (const auto& [output, call, when] : saves) {
      // Ignored or not, on a file system with or without unnamed files.
      for (const int way : {0, 1, 2, 3}) {
        const bool ignored = way & 1, named = way & 2, page = output == std::string("Home.html");
        if (ignored && signal == SIGQUIT) continue;
        writeFile(dir / output, "the old output");
        const std::string at = std::string(call) + ":signal=SIG" + name + ":when=" + when;
        std::vector<std::string> options{"-qq", "-o", "/dev/null", "-e",
                                         std::string("trace=") + call, "-e", "inject=" + at};
        if (named) options.push_back(WLDMAP_NO_UNNAMED);
        const Result r = runUnderStrace(dir.path(), options, page ? std::vector<std::string>{"--html", "w.wld"}
                                                                  : std::vector<std::string>{"w.wld"},
                                        std::string(ignored ? "trap '' " : "trap - ") + name);
        SCOPED_TRACE(at + " of " + output + (ignored ? ", ignored" : "") + (named ? ", named" : ""));
        EXPECT_EQ(ignored ? 0 : 128 + signal, r.status) << r.err;
        const std::vector<std::string> files{"Home.html", "Home.png", "w.wld"};
        EXPECT_EQ(std::vector<std::string>(files.begin() + (page ? 0 : 1), files.end()), listDir(dir.path()));
        const bool whole = ignored || std::string(call) == "rename";
        EXPECT_EQ(whole, readFile(dir / output) != "the old output");
        if (whole && page) {
          EXPECT_EQ(0u, readFile(dir / output).find("<!DOCTYPE html>"));
        } else if (whole) {
          EXPECT_EQ(kSmallWorldPixels, pixels(dir / output));
        }
        fs::remove(dir / "Home.html");
      }
    }
  }
}

// A thumbnail: a signal during the write ends the run and leaves the output as
// it was (an older one, the service's empty file, none); one while the new
// content takes effect is taken as after it, so the status is 0 exactly when
// the output is the new thumbnail. A run waiting for another writer of its
// empty output ends at once on a signal.
TEST_F(EndToEndTest, SignalDuringAThumbnailLeavesTheOutputAsItWasOrWholeAndSaysWhich) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  writeFile(dir / "w.wld", noisyWorld("Home", 300, 200));
  ASSERT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"--thumbnail", "200", "w.wld", "new.png"}).status);
  const std::string made = readFile(dir / "new.png");
  fs::remove(dir / "new.png");
  const std::tuple<const char*, const char*, int> rows[] = {
      {"an older thumbnail", "write", 128 + SIGTERM}, {"an older thumbnail", "rename", 0},
      {"", "write", 128 + SIGTERM},                   {"", "fsync", 128 + SIGTERM},
      {nullptr, "write", 128 + SIGTERM},              {nullptr, "linkat", 0}};
  for (const auto& [before, call, status] : rows) {
    if (before) writeFile(dir / "t.png", before);
    const std::string at = std::string(call) + ":signal=SIGTERM:when=1";
    const Result r = runUnderStrace(
        dir.path(), {"-qq", "-o", "/dev/null", "-e", std::string("trace=") + call, "-e",
                     "inject=" + at},
        {"--thumbnail", "200", "w.wld", "t.png"});
    SCOPED_TRACE(at + " over " + (before ? "\"" + std::string(before) + "\"" : "nothing"));
    EXPECT_EQ(status, r.status) << r.err;
    if (status == 0) {
      EXPECT_TRUE(readFile(dir / "t.png") == made);
    } else if (before) {
      EXPECT_EQ(before, readFile(dir / "t.png"));
    }
    EXPECT_EQ(before || status == 0 ? 2u : 1u, listDir(dir.path()).size());  // and w.wld
    fs::remove(dir / "t.png");
  }
  // Every call after the rename: the new thumbnail is in place, and no signal
  // says otherwise to the end.
  writeFile(dir / "t.png", "an older thumbnail");
  ASSERT_EQ(0, runUnderStrace(dir.path(), {"-f", "-qq", "-o", dir / "trace"},
                              {"--thumbnail", "200", "w.wld", "t.png"}).status);
  std::istringstream trace(readFile(dir / "trace"));
  std::map<std::string, int> calls;
  std::vector<std::string> after;
  std::string main;
  for (std::string line; std::getline(trace, line);) {
    const std::string pid = line.substr(0, line.find(' '));
    const size_t start = line.find_first_not_of(' ', pid.size()), open = line.find('(', start);
    if (main.empty()) main = pid;
    if (pid != main || open == std::string::npos) continue;
    const std::string kind = line.substr(start, open - start);
    const int number = ++calls[kind];
    if (!after.empty() || kind == "rename") {
      if (kind != "rename" && kind != "exit_group") after.push_back(kind + ":when=" + std::to_string(number));
      if (after.empty()) after.push_back("");
    }
  }
  ASSERT_GT(after.size(), 5u);
  for (const std::string& call : after) {
    if (call.empty()) continue;
    writeFile(dir / "t.png", "an older thumbnail");
    const std::string kind = call.substr(0, call.find(':'));
    const Result r = runUnderStrace(dir.path(), {"-qq", "-o", "/dev/null", "-e", "trace=" + kind, "-e",
                                                 "inject=" + kind + ":signal=SIGTERM" + call.substr(kind.size())},
                                    {"--thumbnail", "200", "w.wld", "t.png"});
    EXPECT_EQ(0, r.status) << call;
    EXPECT_TRUE(readFile(dir / "t.png") == made) << call;
  }
  fs::remove(dir / "t.png");
  writeFile(dir / "t.png", "");
  const Result waited = runProcess(
      "/bin/bash", "bash",
      {"-c", "flock t.png sh -c 'touch held; exec sleep 600' & holder=$!; "
                 "until [ -e held ]; do sleep 0.05; done; '" + std::string(WLDMAP_EXE) +
                 "' --thumbnail 16 w.wld t.png & tool=$!; (sleep 20; kill -KILL $tool) & "
                 "inode=$(stat -c %i t.png); for i in $(seq 400); do "
                 "grep -q -- \"-> FLOCK .*:$inode \" /proc/locks && break; sleep 0.05; done; "
                 "kill -TERM $tool; wait $tool; status=$?; kill $holder; exit $status"},
      dir.path());
  EXPECT_EQ(128 + SIGTERM, waited.status) << waited.err;
  EXPECT_EQ("", readFile(dir / "t.png"));
  fs::remove(dir / "held");
}
#endif

}  // namespace
}  // namespace wldmap
