#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "support/process.h"
#include "support/tempdir.h"

namespace wldmap {

int startProcess(const std::string& program, const std::vector<std::string>& argv,
                 const std::string& cwd, int in, int out, int err) {
  std::vector<std::string> copy = argv;
  std::vector<char*> raw;
  for (std::string& a : copy) raw.push_back(a.data());
  raw.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int none = open("/dev/null", O_RDWR);
    const int ends[3] = {in < 0 ? none : in, out < 0 ? none : out, err < 0 ? none : err};
    if (none < 0 || chdir(cwd.c_str()) != 0) _exit(127);
    for (int fd = 0; fd < 3; ++fd) dup2(ends[fd], fd);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    execv(program.c_str(), raw.data());
    _exit(127);
  }
  return pid;
}

ProcessResult runProcess(const std::string& program, const std::string& argv0,
                         const std::vector<std::string>& args, const std::string& cwd) {
  TempDir capture;
  const std::string outPath = capture / "out", errPath = capture / "err";
  std::vector<std::string> argv{argv0};
  argv.insert(argv.end(), args.begin(), args.end());
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t pid = out < 0 || err < 0 ? -1 : startProcess(program, argv, cwd, -1, out, err);
  if (out >= 0) close(out);
  if (err >= 0) close(err);
  if (pid < 0) return ProcessResult{};
  int status = 0;
  struct rusage usage {};
  // Polled, a millisecond at first and at most 20, so that a hang is ended.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
  bool timedOut = false;
  for (auto pause = std::chrono::milliseconds(1); wait4(pid, &status, WNOHANG, &usage) == 0;
       pause = std::min(pause * 2, std::chrono::milliseconds(20))) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      timedOut = true;
      break;
    }
    std::this_thread::sleep_for(pause);
  }
  ProcessResult result;
  result.maxResidentKiB = usage.ru_maxrss;
  result.status = timedOut              ? kTimedOut
                  : WIFEXITED(status)   ? WEXITSTATUS(status)
                                        : 128 + WTERMSIG(status);
  result.out = lineFeedsOnly(readFile(outPath));
  result.err = lineFeedsOnly(readFile(errPath));
  return result;
}

}  // namespace wldmap
