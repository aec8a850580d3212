// Helper threads that leave the process's signals to the main thread.
#pragma once

#include <functional>
#include <thread>

namespace wldmap {
namespace platform {

// Starts `job` on a new thread that leaves the process's signals to the others:
// SIGINT and the like must reach the main thread, which holds them back around
// creating and renaming the map's temporary file.
std::thread startThread(std::function<void()> job);

}  // namespace platform
}  // namespace wldmap
