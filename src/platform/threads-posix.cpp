#include "platform/threads.h"

#include "platform/signals.h"

namespace wldmap {
namespace platform {

std::thread startThread(std::function<void()> job) {
  // A new thread starts with its creator's signal mask: it is started with the
  // clean-up signals held, and keeps them held, so that they always reach the
  // main thread. Every other signal stays as it was; a fault such as SIGSEGV
  // must never be held back.
  std::thread thread;
  withSignalsHeld([&] { thread = std::thread(std::move(job)); });
  return thread;
}

}  // namespace platform
}  // namespace wldmap
