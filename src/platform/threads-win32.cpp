#include "platform/threads.h"

namespace wldmap {
namespace platform {

// Console events come on a thread of their own; there is nothing to steer.
std::thread startThread(std::function<void()> job) { return std::thread(std::move(job)); }

}  // namespace platform
}  // namespace wldmap
