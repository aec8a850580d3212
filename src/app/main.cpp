#include <filesystem>
#include <iostream>

#include "app/driver.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return wldmap::runDriver(args, error ? std::string() : exe.string(), std::cin, std::cout,
                           std::cerr);
}
