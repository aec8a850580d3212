#include <iostream>
#include <new>
#include <stdexcept>

#include "app/driver.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  wldmap::platform::prepareProcess();
  try {
    const std::vector<std::string> args = wldmap::platform::arguments(argc, argv);
    return wldmap::runDriver(args, wldmap::platform::executablePath(args.empty() ? "" : args[0]),
                             std::cin, std::cout, std::cerr);
  } catch (const std::bad_alloc&) {
    // The driver reports its own failures; this is what escapes it, such as
    // running out of memory while taking the arguments apart, or a path the
    // system cannot give. A logic error is a bug, and ends the process as one.
    std::cerr << "error: not enough memory" << std::endl;
  } catch (const std::runtime_error& e) {
    std::cerr << "error: " << e.what() << std::endl;
  }
  // As the run would have: a thumbnail service's run never reads its input.
  if (wldmap::waitsForEnter(argc, argv)) std::cin.get();
  return 2;
}
