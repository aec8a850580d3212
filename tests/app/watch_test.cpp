// The watch: when a world is due to be mapped again, and the built tool
// keeping maps and pages current while a scripted writer saves as games do.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "app/watch.h"
#include "end_to_end.h"

namespace wldmap {
namespace {

using std::chrono::milliseconds;

// A world is due a settle after its last change, and only once its writer let
// it go (or after kOpenFor settles, for a writer that never does); removed, it
// is not due at all.
TEST(SettlerTest, WorldsAreDueOnceTheirSavesHaveSettled) {
  Settler settler(milliseconds(100));
  const WatchClock::time_point t0;
  settler.written(3, t0);
  settler.writing(1, t0 + milliseconds(20));
  settler.written(2, t0 + milliseconds(50));
  settler.written(3, t0 + milliseconds(60));  // saved again: due later
  settler.written(4, t0);
  settler.removed(4);
  EXPECT_EQ(milliseconds(90), settler.untilNext(t0 + milliseconds(60)));
  EXPECT_EQ(std::vector<size_t>{}, settler.due(t0 + milliseconds(149)));
  EXPECT_EQ((std::vector<size_t>{2, 3}), settler.due(t0 + milliseconds(160)));
  EXPECT_EQ(std::vector<size_t>{}, settler.due(t0 + milliseconds(1000)));  // 1 is still open
  settler.written(1, t0 + milliseconds(1000));
  EXPECT_EQ(std::vector<size_t>{1}, settler.due(t0 + milliseconds(1100)));
  EXPECT_FALSE(settler.untilNext(t0));
  settler.writing(5, t0);
  EXPECT_EQ(std::vector<size_t>{5}, settler.due(t0 + Settler::kOpenFor * milliseconds(100)));
}

// A page without the time its world was saved, which a copy of the world has anew.
std::string unsaved(const std::string& page) {
  return std::regex_replace(page, std::regex(",\"saved\":[0-9]+"), "");
}

#ifndef _WIN32
// Writes `bytes` to `path` as a game saving in place does, a pause halfway.
void saveSlowly(const std::string& path, const std::string& bytes, milliseconds pause, int flags) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | flags, 0644);
  ASSERT_GE(fd, 0);
  const size_t half = bytes.size() / 2;
  ASSERT_EQ(ssize_t(half), write(fd, bytes.data(), half));
  std::this_thread::sleep_for(pause);
  ASSERT_EQ(ssize_t(bytes.size() - half), write(fd, bytes.data() + half, bytes.size() - half));
  close(fd);
}

// A world saved as games save it, while a watch keeps its map and page current:
// in place, to another name renamed over it, and removed then written anew,
// each with a pause inside longer than the settle; a burst of saves; a save cut
// short; a world new in the folder. Whenever the map changes it is the map of a
// whole save, and after each save it is that save's. SIGTERM ends the watch,
// status 0, with nothing left behind.
TEST_F(EndToEndTest, WatchMapsEachWholeSaveAndNeverAHalfOne) {
  fs::create_directory(dir / "worlds");
  fs::create_directory(dir / "out");
  const std::string saves[] = {noisyWorld("Home", 300, 120), mixedWorld("Home", 300, 120),
                               noisyWorld("Home", 310, 120), mixedWorld("Home", 310, 100)};
  std::vector<std::string> maps, pages;  // what a plain run makes of each save
  for (const std::string& save : saves) {
    writeFile(dir / "plain.wld", save);
    ASSERT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"--html", "plain.wld"}).status);
    maps.push_back(readFile(dir / "Home.png"));
    pages.push_back(unsaved(readFile(dir / "Home.html")));
  }
  const std::string world = dir / "worlds/w.wld", map = dir / "out/Home.png";
  writeFile(world, saves[0]);
  const int out = open((dir / "out.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const int err = open((dir / "err.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const pid_t watch = startProcess(WLDMAP_EXE, {WLDMAP_EXE, "--watch", "--html", "--into", "out",
                                                "--settle", "0.3", "--poll", "0.1", "worlds"},
                                   dir.path(), -1, out, err);
  close(out);
  close(err);
  std::atomic<bool> checking{true};
  std::string wrong;
  std::thread checker([&] {
    for (std::string last; checking; std::this_thread::sleep_for(milliseconds(2))) {
      const std::string now = readFile(map);
      if (now.empty() || now == last) continue;
      last = now;
      if (std::find(maps.begin(), maps.end(), now) == maps.end()) wrong = "a map of no whole save";
    }
  });
  const auto mapped = [&](size_t save) {
    for (int i = 0; i < 400; ++i, std::this_thread::sleep_for(milliseconds(25))) {
      if (readFile(map) == maps[save] && unsaved(readFile(dir / "out/Home.html")) == pages[save]) {
        return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(mapped(0));
  saveSlowly(world, saves[1], milliseconds(700), O_TRUNC);
  EXPECT_TRUE(mapped(1)) << "saved in place";
  saveSlowly(world + ".tmp", saves[2], milliseconds(700), O_TRUNC);
  fs::rename(world + ".tmp", world);
  EXPECT_TRUE(mapped(2)) << "renamed over";
  fs::remove(world);
  std::this_thread::sleep_for(milliseconds(700));
  saveSlowly(world, saves[3], milliseconds(700), O_EXCL);
  EXPECT_TRUE(mapped(3)) << "written anew";
  const auto renders = [&] {
    const std::string log = readFile(dir / "out.log");
    return std::count(log.begin(), log.end(), '!');  // one "Done!" a render
  };
  const auto before = renders();
  for (int i = 0; i < 6; ++i) writeFile(world, saves[i % 3]);
  EXPECT_TRUE(mapped(2)) << "the burst's last";
  std::this_thread::sleep_for(milliseconds(600));
  EXPECT_GE(2, renders() - before);
  writeFile(world, saves[3].substr(0, saves[3].size() / 2));
  writeFile(dir / "worlds/n.wld", smallWorld("New"));
  for (int i = 0; i < 400 && !fs::exists(dir / "out/New.html"); ++i) {
    std::this_thread::sleep_for(milliseconds(25));
  }
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(maps[2], readFile(map)) << "a save cut short";
  // Only the save cut short is a warning: no read began while a writer was
  // still at it (where the system tells of changes; where it is polled, a
  // paused save may be read, and fail, as it looks whole).
  const std::string warnings = readFile(dir / "err.log");
  const bool polled = readFile(dir / "out.log").find("looked at every") != std::string::npos;
  EXPECT_EQ(0u, warnings.find("warning: worlds/w.wld: ")) << warnings;
  if (!polled) {
    EXPECT_EQ(1, std::count(warnings.begin(), warnings.end(), '\n')) << warnings;
  }
  kill(watch, SIGTERM);
  int status = -1;
  waitpid(watch, &status, 0);
  checking = false;
  checker.join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ("", wrong);
  EXPECT_EQ((std::vector<std::string>{"Home.html", "Home.png", "New.html", "New.png"}), listDir(dir / "out"));
  EXPECT_EQ((std::vector<std::string>{"n.wld", "w.wld"}), listDir(dir / "worlds"));
  const std::string log = readFile(dir / "out.log");  // after the line on looking, if any
  EXPECT_EQ(polled ? log.find('\n') + 1 : 0, log.find("Watching worlds: ")) << log;
}

// A clean-up signal during a render, at the sync or the rename of the map,
// waits for the map to be whole, then ends the watch with status 0.
TEST_F(EndToEndTest, SignalDuringARenderEndsTheWatchOnceTheMapIsWhole) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  writeFile(dir / "w.wld", noisyWorld("Home", 200, 100));
  ASSERT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"w.wld"}).status);
  const std::string made = readFile(dir / "Home.png");
  // The first render replaces the older map: its sync is the first, its rename the first.
  for (const char* at : {"fsync:signal=SIGTERM:when=1", "rename:signal=SIGTERM:when=1"}) {
    writeFile(dir / "Home.png", "the old map");
    const Result r = runUnderStrace(
        dir.path(), {"-f", "-qq", "-o", "/dev/null", "-e", std::string("inject=") + at},
        {"--watch", "--settle", "0.2", "w.wld"});
    EXPECT_EQ(0, r.status) << at << r.err;
    EXPECT_EQ(made, readFile(dir / "Home.png")) << at;
    EXPECT_EQ((std::vector<std::string>{"Home.png", "w.wld"}), listDir(dir.path())) << at;
  }
}
#else
// A save renamed over the world, as told by ReadDirectoryChangesW, is mapped.
TEST_F(EndToEndTest, WatchMapsASaveRenamedOverTheWorld) {
  const std::string saves[] = {noisyWorld("Home", 200, 100), mixedWorld("Home", 200, 100)};
  std::vector<std::string> maps;
  for (const std::string& save : saves) {
    writeFile(dir / "plain.wld", save);
    ASSERT_EQ(0, runTool(dir.path(), WLDMAP_EXE, {"plain.wld"}).status);
    maps.push_back(readFile(dir / "Home.png"));
  }
  fs::remove(dir / "Home.png");
  writeFile(dir / "w.wld", saves[0]);
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const HANDLE none = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherited, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = none;
  PROCESS_INFORMATION watch{};
  std::wstring command = L"wldmap --watch --settle 0.3 w.wld";
  ASSERT_TRUE(CreateProcessW(fs::u8path(WLDMAP_EXE).wstring().c_str(), command.data(), nullptr, nullptr,
                             TRUE, 0, nullptr, fs::u8path(dir.path()).wstring().c_str(), &startup, &watch));
  const auto mapped = [&](const std::string& map) {
    for (int i = 0; i < 400 && readFile(dir / "Home.png") != map; ++i) Sleep(25);
    return readFile(dir / "Home.png") == map;
  };
  EXPECT_TRUE(mapped(maps[0]));
  writeFile(dir / "w.tmp", saves[1]);
  ASSERT_TRUE(MoveFileExW(fs::u8path(dir / "w.tmp").wstring().c_str(),
                          fs::u8path(dir / "w.wld").wstring().c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_TRUE(mapped(maps[1]));
  TerminateProcess(watch.hProcess, 0);
  WaitForSingleObject(watch.hProcess, INFINITE);
  CloseHandle(watch.hProcess);
  CloseHandle(watch.hThread);
  CloseHandle(none);
}
#endif

// What a watch refuses before it starts, with nothing written: a world or a
// folder that is not there, and two worlds whose maps would be one file.
TEST_F(FailureTest, WatchThatCannotStartWritesNothing) {
  writeFile(dir / "a.wld", smallWorld("Home"));
  writeFile(dir / "b.wld", smallWorld("Home"));
  fs::create_directory(dir / "out");
  expectFailure({"--watch", "a.wld", "missing"}, "missing", "cannot open");
  expectFailure({"--into", "out", "a.wld", "b.wld"}, "b.wld", "would both be out");
  expectFailure({"--watch", "--into", "out", "a.wld", "b.wld"}, "b.wld", "would both be out");
  EXPECT_EQ(1, runTool(dir.path(), WLDMAP_EXE, {"--settle", "1", "a.wld"}).status);
  EXPECT_EQ(1, runTool(dir.path(), WLDMAP_EXE, {"--watch", "--settle", "x", "a.wld"}).status);
  EXPECT_TRUE(listDir(dir / "out").empty());
}

}  // namespace
}  // namespace wldmap
