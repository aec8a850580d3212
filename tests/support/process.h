// Runs a program as a separate process, the way a shell or a desktop starts it.
#pragma once

#include <string>
#include <vector>

namespace wldmap {

// A run still going after this long is taken to hang: it is killed, and its
// status is kTimedOut.
constexpr int kTimeoutSeconds = 60;
constexpr int kTimedOut = -2;

struct ProcessResult {
  int status = -1;  // the exit status, 128 + the signal that ended it, or kTimedOut
  std::string out;  // standard output, with CR LF line ends read as LF
  std::string err;  // standard error, likewise
  long maxResidentKiB = 0;  // peak resident memory, where the system reports it
};

#ifndef _WIN32
// Starts `program` in folder `cwd` with the arguments `argv` (argument 0 first),
// standard input, output and error on the descriptors given (-1: /dev/null)
// and none other of this process's; its process number.
int startProcess(const std::string& program, const std::vector<std::string>& argv,
                 const std::string& cwd, int in, int out, int err);
#endif

// Runs `program` in folder `cwd` with argument 0 `argv0` followed by `args`, all
// UTF-8, standard input empty, and waits for it.
ProcessResult runProcess(const std::string& program, const std::string& argv0,
                         const std::vector<std::string>& args, const std::string& cwd);

// The text with each CR LF turned into LF.
inline std::string lineFeedsOnly(const std::string& text) {
  std::string lf;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lf += text[i];
  }
  return lf;
}

}  // namespace wldmap
