// What the tests that run the built wldmap as a separate process share: running
// it, as the user or as an ordinary user, and the failures they expect.
#pragma once

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/image.h"
#include "support/process.h"
#include "support/tempdir.h"
#include "support/worlds.h"

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
// Runs the built tool in `cwd` with `args` under strace with `options` (where to
// write the trace, what to trace, the faults or signals to inject), after the
// bash commands `shell`. LeakSanitizer, in the sanitizer build, cannot run
// under a tracer.
inline Result runUnderStrace(const std::string& cwd, const std::vector<std::string>& options,
                             const std::vector<std::string>& args,
                             const std::string& shell = "true") {
  std::string command = shell + " && exec env ASAN_OPTIONS=detect_leaks=0 /usr/bin/strace";
  for (const std::string& option : options) command += " '" + option + "'";
  std::vector<std::string> all{"-c", command + " \"$0\" \"$@\"", WLDMAP_EXE};
  all.insert(all.end(), args.begin(), args.end());
  return runProcess("/bin/bash", "sh", all, cwd);
}

// The built tool and its colours, copied once into a folder of the system's
// temporary folder that every user may enter: a checkout in a folder others
// cannot enter (/root is 0700, so are many homes) keeps them from the build
// tree. Removed when the tests end.
inline const std::string& toolForEveryone() {
  struct Copy {
    std::string folder = (fs::temp_directory_path() / "wldmap-tool-XXXXXX").string();
    std::string tool;
    Copy() {
      if (!mkdtemp(folder.data())) return;
      fs::permissions(folder, fs::perms(0755));
      tool = folder + "/wldmap";
      fs::copy_file(WLDMAP_EXE, tool);
      fs::copy_file(fs::path(WLDMAP_EXE).parent_path() / "tilecolors.txt", folder + "/tilecolors.txt");
      fs::permissions(tool, fs::perms(0755));
      fs::permissions(folder + "/tilecolors.txt", fs::perms(0644));
    }
    ~Copy() { fs::remove_all(folder); }
  };
  static const Copy copy;
  return copy.tool;
}

// Runs the built tool in `cwd` as an ordinary user, who may neither open every
// folder nor replace every file: dropped to nobody (from a copy of the tool
// nobody can reach) where the suite runs as root, as the suite's own user
// otherwise. Every folder on the way to `cwd` must let nobody through.
inline Result runAsOrdinaryUser(const std::string& cwd, const std::vector<std::string>& args) {
  if (geteuid() != 0) return runProcess(WLDMAP_EXE, WLDMAP_EXE, args, cwd);
  std::vector<std::string> all{"--reuid=65534", "--regid=65534", "--clear-groups",
                               toolForEveryone()};
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
