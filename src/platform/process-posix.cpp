#include "platform/process.h"

#include <signal.h>

namespace wldmap {
namespace platform {

void prepareProcess() {
  // Progress lines that cannot be written are not worth the map: a closed pipe
  // becomes a failed write (EPIPE) that the run goes on past. A file size limit
  // becomes EFBIG, reported like any other failed write.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace platform
}  // namespace wldmap
