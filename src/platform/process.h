// The process: how it is set up for the run, its arguments, where its
// executable and data files are, and its helper threads.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace wldmap {
namespace platform {

// Sets the process up for the tool's run: a closed output pipe or a file size
// limit become ordinary write failures instead of killing the process, and the
// console shows UTF-8.
void prepareProcess();

// The program's arguments as UTF-8, argument 0 first.
std::vector<std::string> arguments(int argc, char** argv);

// The running executable's path: as the system reports it where it can, else the
// started path `argv0` found as a shell finds it (against the current folder
// when it names a folder, else along PATH); empty when neither tells.
std::string executablePath(const std::string& argv0);

// The path of the library that holds `address` (a DLL, a plugin), or with
// nullptr the executable's; empty when the system cannot tell.
std::string modulePath(const void* address);

// The folders after the started path's own where data files are looked for,
// given the executable's folder: beside it, and where an install puts them.
std::vector<std::string> dataFolders(const std::string& exeFolder);

// The user's own folder for wldmap's files, ending in its separator:
// $XDG_CONFIG_HOME/wldmap/ where that is a full path, else ~/.config/wldmap/;
// on Windows %APPDATA%\wldmap\. Empty when the environment names none.
std::string userConfigFolder();

// What openInBrowser hands the system's opener for the page at `path`: on POSIX
// its absolute file:// URL, every byte but the unreserved ones and the folder
// separators percent-encoded; on Windows its full path, from a drive or a
// share. No page's name can then become a scheme, a host or an option. Throws
// SystemError when the path cannot be made whole.
std::string browserTarget(const std::string& path);

// Opens the page at `path` in the user's default browser (xdg-open; on Windows
// the program HTML files open with). The opener runs apart from the run (its
// own session, default signals, the null device for its standard streams, no
// descriptor of the tool's) and is waited for a few seconds at most, never the
// browser. Throws SystemError ("cannot start a browser: <reason>") when it
// cannot start, fails, is killed or does not answer in time.
void openInBrowser(const std::string& path);

// A thread that runs `job` and is joined when it goes, also when its scope is
// left by an exception. It leaves the process's clean-up signals to the main
// thread: SIGINT and the like must reach the thread that holds them back
// around a save.
class JoinedThread {
 public:
  explicit JoinedThread(std::function<void()> job);
  ~JoinedThread() { thread_.join(); }
  JoinedThread(const JoinedThread&) = delete;
  JoinedThread& operator=(const JoinedThread&) = delete;

 private:
  std::thread thread_;
};

}  // namespace platform
}  // namespace wldmap
