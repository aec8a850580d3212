// Maps a world over an older map, and writes its thumbnail (over an older one,
// into an empty file, where there is none), while the system fails one call at
// a time (strace's fault injection): every kind of call the tool makes once it
// has started, at the first and the last few of its occurrences, with each
// error a real system gives for that call. Whatever fails, a user must be able
// to trust the outcome: the whole output and status 0, or status 2, an error
// line and the output as it was; never a death by a signal, a hang, a file
// left behind that no warning names, or status 0 with the older output or a
// wrong one. Which of the two outcomes is right depends on what the failed
// call was for: see mustRefuse. And killed at any call of the save, a run
// leaves nothing behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "support/process.h"
#include "support/tempdir.h"
#include "support/worlds.h"

namespace wldmap {
namespace {

namespace fs = std::filesystem;

// The errors each kind of call can really give, of those a disk, a full system
// or a signal produce. Calls not listed are not failed, with the reason.
const std::map<std::string, std::vector<std::string>> kErrors = {
    {"openat", {"EACCES", "EMFILE", "ENOMEM"}},
    {"read", {"EIO", "EINTR"}},
    {"write", {"EIO", "ENOSPC", "EINTR"}},
    {"close", {"EIO", "EINTR"}},
    {"fsync", {"EIO", "ENOSPC", "EINTR"}},
    {"rename", {"EACCES", "EIO", "ENOSPC"}},
    {"link", {"EPERM", "EMLINK", "EIO", "ENOSPC"}},
    {"linkat", {"EPERM", "EEXIST", "EIO", "ENOSPC"}},
    {"unlink", {"EIO"}},
    {"fchmod", {"EIO"}},
    {"flock", {"ENOLCK", "EINTR"}},
    {"newfstatat", {"EACCES", "ENOMEM"}},
    {"readlink", {"EACCES", "EIO", "ENOMEM"}},
    {"mmap", {"ENOMEM", "EAGAIN"}},
    {"munmap", {"ENOMEM"}},
    {"mprotect", {"ENOMEM", "EACCES"}},
    {"madvise", {"ENOMEM", "EAGAIN"}},
    {"clone3", {"EAGAIN", "ENOMEM"}},
    {"clone", {"EAGAIN", "ENOMEM"}},
};
const std::map<std::string, std::string> kNotFailed = {
    {"brk", "the kernel never fails it with an error code; an injected one breaks the C library"},
    {"futex", "its real errors come from waits only, and strace cannot tell a wake from a wait"},
    {"fcntl", "F_GETFL and F_SETFL fail only for a bad descriptor"},
    {"lseek", "fails only for bad arguments or a pipe"},
    {"ioctl", "the terminal query fails in every run already (ENOTTY)"},
    {"rt_sigaction", "fails only for bad arguments"},
    {"rt_sigprocmask", "fails only for bad arguments"},
    {"getpid", "cannot fail"},
    {"rt_sigpending", "fails only for a bad address"},
    {"geteuid", "cannot fail"},
    {"exit", "nothing follows it"},
    {"exit_group", "nothing follows it"},
};

// What a run writes, and what its output holds before it: a map over an older
// one, and a thumbnail over an older one, into an empty file a service made,
// and where there is none.
struct Scenario {
  std::vector<std::string> args;
  std::string output;
  std::optional<std::string> before;  // none: the output is missing
  bool named = false;  // on a file system without unnamed files
  std::string alongside = "";  // what the run also writes: a page's map
};
const Scenario kMap{{"w.wld"}, "Home.png", "an older map"};
const Scenario kMapNamed{{"w.wld"}, "Home.png", "an older map", true};
const Scenario kPage{{"--html", "w.wld"}, "Home.html", "an older page", false, "Home.png"};
const Scenario kPageNamed{{"--html", "w.wld"}, "Home.html", "an older page", true, "Home.png"};
const Scenario kThumbnails[] = {
    {{"--thumbnail", "512", "w.wld", "t.png"}, "t.png", "an older thumbnail"},
    {{"--thumbnail", "512", "w.wld", "t.png"}, "t.png", ""},
    {{"--thumbnail", "512", "w.wld", "t.png"}, "t.png", std::nullopt},
};

// Whether a failure of the call on this trace line (strace -y: descriptors
// shown with their paths) must end in status 2 with the output as it was: the
// calls the output's durability rests on. Those are the new file's creation
// (without a name, or a named temporary file where the system has none),
// writes, permissions, sync, naming and close, the rename over the older
// output, the writes into and the sync of an empty output written into, and
// the opening and sync of the output's folder (`folder`), which makes the
// rename durable. Exit 0 is right for them only where the tool retries (EINTR,
// EAGAIN), where Linux has completed the call anyway (an interrupted close),
// or where no one could do better (a folder that cannot be read, EACCES,
// cannot be synced). Every other call does not touch the output: the copy of
// the older output, made only to take it back if the folder cannot be synced,
// the reads of the world and the colours, the progress lines, queries and
// memory; a failure there may end either way.
bool mustRefuse(const std::string& kind, const std::string& error, const std::string& line,
                const std::string& folder, const std::string& output) {
  if (error == "EINTR" || error == "EAGAIN") return false;
  // The new file, named or not (strace shows one without a name as deleted).
  const bool temporary = line.find(output + ".tmp") != std::string::npos ||
                         line.find("(deleted)>") != std::string::npos ||
                         line.find("O_TMPFILE") != std::string::npos;
  const bool ofOutput = line.find("<" + folder + "/" + output + ">") != std::string::npos;
  // The folder opened (not merely the current folder an open starts from), or synced.
  const bool ofFolder = kind == "openat" ? line.find("O_DIRECTORY") != std::string::npos
                                         : line.find("<" + folder + ">") != std::string::npos;
  // The older output opened to read, for putting it back: nothing is lost without.
  const bool olderCopy = line.find("O_NOFOLLOW") != std::string::npos;
  if (kind == "rename") return true;
  // Naming the new file; a name taken meanwhile only means the next one.
  if (kind == "linkat") return line.find("/proc/self/fd/") != std::string::npos && error != "EEXIST";
  if (kind == "openat") return !olderCopy && (temporary || (ofFolder && error != "EACCES"));
  if (kind == "fsync") return temporary || ofFolder || ofOutput;
  if (kind == "write") return temporary || ofOutput;
  if (kind == "close" || kind == "fchmod") return temporary;
  return false;
}

// How many of a kind's occurrences are failed: the first few and the last few.
constexpr size_t kFirst = 10, kLast = 5;

// For each kind of call made once the tool's main() has begun, the numbers of
// its occurrences as strace counts them for when= (per kind and per thread). The
// main thread begins with prepareProcess() ignoring SIGPIPE. A number that the
// main thread's start-up calls (the loader's) also have is left out: failing
// it would fail them too, and the C library's start, not the tool's, would be
// what was tested.
std::map<std::string, std::set<int>> callsAfterStart(const std::string& trace) {
  std::map<std::string, std::set<int>> calls;
  std::map<std::string, std::map<std::string, int>> counts;  // thread -> kind -> calls
  std::map<std::string, int> startUp;  // kind -> calls the main thread made before main()
  std::string mainThread;
  bool started = false;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const size_t space = line.find(' ');
    const size_t open = line.find('(');
    if (space == std::string::npos || open == std::string::npos || open < space) continue;
    const std::string thread = line.substr(0, space);
    const std::string kind = line.substr(line.find_first_not_of(' ', space),
                                         open - line.find_first_not_of(' ', space));
    if (kind.empty() || kind.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") !=
                            std::string::npos) {
      continue;  // "<... read resumed>", "--- SIGCHLD", "+++ exited"
    }
    if (mainThread.empty()) mainThread = thread;
    const int number = ++counts[thread][kind];
    if (thread == mainThread && !started) {
      started = line.find("rt_sigaction(SIGPIPE, {sa_handler=SIG_IGN") != std::string::npos;
      if (!started) {
        startUp[kind] = number;
        continue;
      }
    }
    if (number > startUp[kind]) calls[kind].insert(number);
  }
  return calls;
}

// A run of the tool on `scenario` in the folder `run`, under strace with
// `strace`, its trace in `trace`; killed if it runs for 30 s.
ProcessResult runTool(const std::string& run, const std::string& trace, const Scenario& scenario,
                      const std::vector<std::string>& strace) {
  fs::remove(run + "/" + scenario.output);
  if (scenario.before) writeFile(run + "/" + scenario.output, *scenario.before);
  std::vector<std::string> args{"-s", "KILL", "30", "/usr/bin/strace", "-f", "-qq", "-y",
                                "-o", trace};
  args.insert(args.end(), strace.begin(), strace.end());
  if (scenario.named) args.push_back(WLDMAP_NO_UNNAMED);
  args.push_back(WLDMAP_EXE);
  args.insert(args.end(), scenario.args.begin(), scenario.args.end());
  return runProcess("/usr/bin/timeout", "timeout", args, run);
}

// The injected call on a trace, the whole line; empty when none was hit.
std::string injectedLine(const std::string& trace, const std::string& mark) {
  const size_t hit = trace.find(mark);
  if (hit == std::string::npos) return "";
  const size_t at = trace.rfind('\n', hit) + 1;
  return trace.substr(at, trace.find('\n', at) - at);
}

// Whether a sweep stops at its first fault (WLDMAP_FAIL_FAST=1, as the mutation
// sweep sets it: one fault is enough to kill a mutant).
bool failFast() {
  const char* value = std::getenv("WLDMAP_FAIL_FAST");
  return value && std::string(value) == "1";
}

// Runs `scenario` once as it is, then once for each failure of each call; the
// faults found, one line each (only the first with failFast()).
std::vector<std::string> sweep(const Scenario& scenario) {
  TempDir dir;
  const std::string run = dir / "run";
  fs::create_directory(run);
  // Mixed cells, whose map compresses badly, so that it takes several writes,
  // and walls the tool has no colour for.
  writeFile(run + "/w.wld", mixedWorld("Home", 600, 400));
  const std::string outputPath = run + "/" + scenario.output;
  const ProcessResult normal = runTool(run, dir / "trace", scenario, {});
  if (normal.status != 0) return {"the run without a fault failed: " + normal.err};
  const std::string made = readFile(outputPath);
  const std::map<std::string, std::set<int>> calls = callsAfterStart(readFile(dir / "trace"));
  // The output as it was: its old bytes, or no file at all.
  auto asItWas = [&] {
    return scenario.before ? fs::exists(outputPath) && readFile(outputPath) == *scenario.before
                           : !fs::exists(outputPath);
  };

  int runs = 0, injected = 0, written = 0, refused = 0;
  std::vector<std::string> notFailed, faults;
  for (const auto& [kind, numbers] : calls) {
    const auto errors = kErrors.find(kind);
    if (errors == kErrors.end()) {
      const auto why = kNotFailed.find(kind);
      // A kind of call the tool did not make before must be weighed: which
      // errors can it give?
      if (why == kNotFailed.end()) faults.push_back(kind + ": a call this sweep does not know");
      notFailed.push_back(kind);
      continue;
    }
    std::vector<int> chosen(numbers.begin(), numbers.end());
    if (chosen.size() > kFirst + kLast) {
      chosen.erase(chosen.begin() + kFirst, chosen.end() - kLast);
    }
    for (const std::string& error : errors->second) {
      for (int number : chosen) {
        const std::string what = kind + ":error=" + error + ":when=" + std::to_string(number);
        const ProcessResult r =
            runTool(run, dir / "trace", scenario, {"-e", "trace=" + kind, "-e", "inject=" + what});
        ++runs;
        const std::string line = injectedLine(readFile(dir / "trace"), "(INJECTED)");
        const bool refuse = !line.empty() && mustRefuse(kind, error, line,
                                                        fs::canonical(run).string(), scenario.output);
        injected += !line.empty();
        const bool whole = fs::exists(outputPath) && readFile(outputPath) == made;
        const bool same = asItWas();
        // A file the tool could not remove is named, for the user to remove.
        std::string unnamed;
        for (const std::string& file : listDir(run)) {
          if (file == scenario.output || file == "w.wld" || file == scenario.alongside) continue;
          if (r.err.find("cannot remove " + file + ": ") == std::string::npos) unnamed = file;
          fs::remove(run + "/" + file);
        }
        std::string fault;
        if (!unnamed.empty()) {
          fault = "left " + unnamed + " behind, unnamed";
        } else if (r.status == 0 && whole && refuse) {
          fault = "exit 0 after a failure the output's durability rests on: " + line;
        } else if (r.status == 0 && whole) {
          ++written;
        } else if (r.status == 0) {
          fault = same ? "exit 0 with the output as it was" : "exit 0 with a wrong output";
        } else if (r.status == 2 && same) {
          // The error line itself may be what failed to be written.
          const bool stderrFailed = line.find(" write(2<") != std::string::npos;
          if (r.err.rfind("error: ", 0) == 0 || stderrFailed) {
            ++refused;
          } else {
            fault = "exit 2 without an error line";
          }
        } else if (r.status == 2) {
          fault = "exit 2 with the output changed";
        } else {
          fault = r.status == 128 + 9 ? "hung" : "exit status " + std::to_string(r.status);
        }
        if (fault.empty() && error == "EINTR" && r.status != 0) {
          fault = "an interrupted call was not retried";
        }
        // A file system without locks is no reason to fail.
        if (fault.empty() && error == "ENOLCK" && r.status != 0) {
          fault = "a file system without locks failed the output";
        }
        if (!fault.empty()) faults.push_back(what + ": " + fault + "; " + r.err);
        if (!faults.empty() && failFast()) return faults;
      }
    }
  }
  std::cout << scenario.output << (scenario.named ? ", named" : "") << (scenario.before ? scenario.before->empty() ? " (empty)" : " (older)"
                                                   : " (missing)")
            << ": " << runs << " runs, " << injected << " injected a fault; " << written
            << " wrote the whole output, " << refused
            << " ended with an error and the output as it was, " << faults.size()
            << " went wrong\n";
  for (const std::string& kind : notFailed) {
    const auto why = kNotFailed.find(kind);
    std::cout << "not failed: " << kind << (why == kNotFailed.end() ? "" : ": " + why->second)
              << "\n";
  }
  if (injected <= runs / 2) faults.push_back("too few runs hit a call");
  return faults;
}

TEST(FaultInjectionTest, EveryFailedCallEndsInTheMapOrInAnErrorWithTheOldMapKept) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  for (const Scenario& scenario : {kMap, kMapNamed}) {
    for (const std::string& fault : sweep(scenario)) ADD_FAILURE() << fault;
    if (HasFailure() && failFast()) return;
  }
}

// The same rule for a page, which comes after its map.
TEST(FaultInjectionTest, EveryFailedCallEndsInThePageOrInAnErrorWithTheOldPageKept) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  for (const Scenario& scenario : {kPage, kPageNamed}) {
    for (const std::string& fault : sweep(scenario)) ADD_FAILURE() << fault;
    if (HasFailure() && failFast()) return;
  }
}

// The same rule for a thumbnail: over an older one, into the empty file a
// service made, and where there is none.
TEST(FaultInjectionTest, EveryFailedCallEndsInTheThumbnailOrInAnErrorWithTheOutputAsItWas) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  for (const Scenario& scenario : kThumbnails) {
    for (const std::string& fault : sweep(scenario)) ADD_FAILURE() << fault;
    if (HasFailure() && failFast()) return;
  }
}

// Killed outright (SIGKILL, a power cut's equal for the files) at any call of
// a save, a map's, a page's or a thumbnail's, the run leaves the output old or whole and
// nothing beside it: the new file has no name until it is whole, but for the
// one between its naming and the rename over an older output. An empty output
// written into may be left cut short; it is the service's, and it was empty.
TEST(FaultInjectionTest, KilledAtAnyCallOfTheSaveLeavesNothingBehind) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  TempDir dir;
  const std::string run = dir / "run";
  fs::create_directory(run);
  writeFile(run + "/w.wld", mixedWorld("Home", 300, 200));
  std::vector<Scenario> scenarios{kMap, kPage};
  scenarios.insert(scenarios.end(), std::begin(kThumbnails), std::end(kThumbnails));
  int kills = 0;
  for (const Scenario& scenario : scenarios) {
    for (const std::string& file : listDir(run)) {
      if (file != "w.wld") fs::remove(run + "/" + file);
    }
    const std::string outputPath = run + "/" + scenario.output;
    ASSERT_EQ(0, runTool(run, dir / "trace", scenario, {}).status);
    const std::string made = readFile(outputPath);
    const auto calls = callsAfterStart(readFile(dir / "trace"));
    for (const char* kind : {"openat", "write", "fsync", "fchmod", "linkat", "rename", "close",
                             "flock", "unlink"}) {
      const auto numbers = calls.find(kind);
      if (numbers == calls.end()) continue;
      for (int number : numbers->second) {
        const std::string what = std::string(kind) + ":signal=SIGKILL:when=" + std::to_string(number);
        const ProcessResult r =
            runTool(run, dir / "trace", scenario, {"-e", std::string("trace=") + kind, "-e", "inject=" + what});
        const std::string line = injectedLine(readFile(dir / "trace"), "= ?");
        if (line.empty()) continue;
        ++kills;
        SCOPED_TRACE(what + ": " + line);
        EXPECT_EQ(128 + 9, r.status);
        for (const std::string& file : listDir(run)) {
          if (file == scenario.output || file == "w.wld" || file == scenario.alongside) continue;
          EXPECT_TRUE(std::string(kind) == "rename") << "left " << file;
          fs::remove(run + "/" + file);
        }
        if (scenario.before && scenario.before->empty()) continue;
        const bool old = scenario.before ? fs::exists(outputPath) && readFile(outputPath) == *scenario.before
                                         : !fs::exists(outputPath);
        EXPECT_TRUE(old || (fs::exists(outputPath) && readFile(outputPath) == made));
      }
    }
  }
  EXPECT_GT(kills, 20);
}

}  // namespace
}  // namespace wldmap
