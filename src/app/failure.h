// How a run reports what went wrong: a failure about one file, the steps whose
// faults are that file's, and the error and warning lines.
#pragma once

#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "platform/platform.h"

namespace wldmap {

// A failure of one world's run, about one file: "error: <file>: <what>".
class Failure : public std::runtime_error {
 public:
  Failure(std::string file, const std::string& what)
      : std::runtime_error(what), file_(std::move(file)) {}
  const std::string& file() const { return file_; }

 private:
  std::string file_;
};

// Rethrows the exception in flight as a Failure about `file` when the file
// caused it: a failed call on it (platform::SystemError), a damaged world
// (WorldError) or colour file (ColorFileError), a PNG that cannot be written to
// it (PngError), no memory for what it holds (std::bad_alloc). Anything else
// (a thread that cannot start, a logic error) is no fault of the file and is
// rethrown as it is. Call it in a catch block.
[[noreturn]] void blameCurrentOn(const std::string& file);

// Runs `step` and blames on `file` what the file caused (see blameCurrentOn).
template <typename Step>
auto blameOn(const std::string& file, Step step) -> decltype(step()) {
  try {
    return step();
  } catch (...) {
    blameCurrentOn(file);
  }
}

// Refuses an output that is the world file itself, whatever names either
// (`output` and `world` their identities, where they exist): a Failure about
// `outputPath` saying it is kept, and no `product` ("map", "page",
// "thumbnail") is written.
inline void refuseTheWorldItself(const std::string& outputPath,
                                 const std::optional<platform::FileId>& output,
                                 const std::optional<platform::FileId>& world,
                                 const std::string& product) {
  if (output && output == world) {
    throw Failure(outputPath, "is the world file itself; it is kept, and no " + product +
                                  " is written");
  }
}

// The line a failure is reported with: "error: <file>: <what>".
void reportFailure(std::ostream& err, const Failure& failure);

// The line a warning is reported with: "warning: <file>: <what>".
void reportWarning(std::ostream& err, const std::string& file, const std::string& what);

}  // namespace wldmap
