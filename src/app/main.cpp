#include <iostream>
#include <new>

#include "app/driver.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  wldmap::platform::prepareProcess();
  try {
    const std::vector<std::string> args = wldmap::platform::arguments(argc, argv);
    return wldmap::runDriver(args, wldmap::platform::executablePath(args.empty() ? "" : args[0]),
                             std::cin, std::cout, std::cerr);
  } catch (const std::exception& e) {
    // The driver reports its own failures; this is what escapes it, such as
    // running out of memory while taking the arguments apart.
    std::cerr << "error: " << (dynamic_cast<const std::bad_alloc*>(&e) ? "not enough memory"
                                                                        : e.what())
              << std::endl;
    std::cin.get();
    return 2;
  }
}
