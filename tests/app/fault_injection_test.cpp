// Maps a world, with an older map in place, while the system fails one call at
// a time (strace's fault injection): every kind of call the tool makes once it
// has started, at the first and the last few of its occurrences, with each
// error a real system gives for that call. Whatever fails, a user must be able
// to trust the outcome: the whole map and status 0, or status 2, an error line
// and the older map as it was; never a death by a signal, a hang, a file left
// behind that no warning names, or status 0 with the older map or a wrong one. Which of the two
// outcomes is right depends on what the failed call was for: see mustRefuse.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <map>
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
    {"unlink", {"EIO"}},
    {"fchmod", {"EIO"}},
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
    {"geteuid", "cannot fail"},
    {"exit", "nothing follows it"},
    {"exit_group", "nothing follows it"},
};

// Whether a failure of the call on this trace line (strace -y: descriptors
// shown with their paths) must end in status 2 with the older map kept: the
// calls the map's durability rests on. Those are the temporary file's creation,
// writes, permissions, sync and close, the rename over the older map, and the
// opening and sync of the map's folder (`folder`), which makes the rename
// durable. Exit 0 is right for them only where the tool retries (EINTR, EAGAIN),
// where Linux has completed the call anyway (an interrupted close), or where no
// one could do better (a folder that cannot be read, EACCES, cannot be synced).
// Every other call does not touch the map: the copy of the older map (link),
// made only to take the map back if the folder cannot be synced, the reads of
// the world and the colours, the progress lines, queries and memory; a failure
// there may end either way.
bool mustRefuse(const std::string& kind, const std::string& error, const std::string& line,
                const std::string& folder) {
  if (error == "EINTR" || error == "EAGAIN") return false;
  const bool temporary = line.find("Home.png.tmp") != std::string::npos;
  const bool ofFolder = line.find("<" + folder + ">") != std::string::npos ||
                        line.find("O_DIRECTORY") != std::string::npos;
  if (kind == "rename") return true;
  if (kind == "openat") return temporary || (ofFolder && error != "EACCES");
  if (kind == "fsync") return temporary || ofFolder;
  if (kind == "write" || kind == "close" || kind == "fchmod") return temporary;
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

TEST(FaultInjectionTest, EveryFailedCallEndsInTheMapOrInAnErrorWithTheOldMapKept) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
  TempDir dir;
  const std::string run = dir / "run";
  fs::create_directory(run);
  // Mixed cells, whose map compresses badly, so that it takes several writes,
  // and walls the tool has no colour for.
  writeFile(run + "/w.wld", mixedWorld("Home", 600, 400));
  const std::string oldMap = "an older map";
  auto tool = [&](const std::vector<std::string>& strace) {
    writeFile(run + "/Home.png", oldMap);
    std::vector<std::string> args{"-s", "KILL", "30", "/usr/bin/strace", "-f", "-qq", "-y",
                                  "-o", dir / "trace"};
    args.insert(args.end(), strace.begin(), strace.end());
    args.insert(args.end(), {WLDMAP_EXE, "w.wld"});
    return runProcess("/usr/bin/timeout", "timeout", args, run);
  };

  const ProcessResult normal = tool({});
  ASSERT_EQ(0, normal.status) << normal.err;
  const std::string map = readFile(run + "/Home.png");
  ASSERT_NE(oldMap, map);
  const std::map<std::string, std::set<int>> calls = callsAfterStart(readFile(dir / "trace"));

  int runs = 0, injected = 0, mapped = 0, refused = 0;
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
        const ProcessResult r = tool({"-e", "trace=" + kind, "-e", "inject=" + what});
        ++runs;
        const std::string trace = readFile(dir / "trace");
        const size_t at = trace.rfind('\n', trace.find("(INJECTED)")) + 1;
        const bool hit = trace.find("(INJECTED)") != std::string::npos;
        const std::string line = hit ? trace.substr(at, trace.find('\n', at) - at) : "";
        const bool refuse = hit && mustRefuse(kind, error, line, fs::canonical(run).string());
        injected += hit;
        const std::string now = readFile(run + "/Home.png");
        // A file the tool could not remove is named, for the user to remove.
        std::string unnamed;
        for (const std::string& file : listDir(run)) {
          if (file == "Home.png" || file == "w.wld") continue;
          if (r.err.find("cannot remove " + file + ": ") == std::string::npos) unnamed = file;
          fs::remove(run + "/" + file);
        }
        std::string fault;
        if (!unnamed.empty()) {
          fault = "left " + unnamed + " behind, unnamed";
        } else if (r.status == 0 && now == map && refuse) {
          fault = "exit 0 after a failure the map's durability rests on: " + line;
        } else if (r.status == 0 && now == map) {
          ++mapped;
        } else if (r.status == 0) {
          fault = now == oldMap ? "exit 0 with the older map" : "exit 0 with a wrong map";
        } else if (r.status == 2 && now == oldMap) {
          // The error line itself may be what failed to be written.
          const bool stderrFailed = line.find(" write(2<") != std::string::npos;
          if (r.err.rfind("error: ", 0) == 0 || stderrFailed) {
            ++refused;
          } else {
            fault = "exit 2 without an error line";
          }
        } else if (r.status == 2) {
          fault = "exit 2 with the older map changed";
        } else {
          fault = r.status == 128 + 9 ? "hung" : "exit status " + std::to_string(r.status);
        }
        if (fault.empty() && error == "EINTR" && r.status != 0) {
          fault = "an interrupted call was not retried";
        }
        if (!fault.empty()) faults.push_back(what + ": " + fault + "; " + r.err);
      }
    }
  }
  std::cout << "fault injection: " << runs << " runs, " << injected << " injected a fault; "
            << mapped << " wrote the whole map, " << refused
            << " ended with an error and the older map kept, " << faults.size()
            << " went wrong\n";
  for (const std::string& kind : notFailed) {
    const auto why = kNotFailed.find(kind);
    std::cout << "not failed: " << kind << (why == kNotFailed.end() ? "" : ": " + why->second)
              << "\n";
  }
  for (const std::string& fault : faults) ADD_FAILURE() << fault;
  EXPECT_GT(injected, runs / 2);
}

}  // namespace
}  // namespace wldmap
