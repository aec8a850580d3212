// A scratch folder for a test, removed with everything in it afterwards.
#pragma once

#include <string>
#include <vector>

namespace wldmap {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder (UTF-8), without a trailing separator.
  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Paths below are UTF-8.
// Writes bytes to a file, replacing it.
void writeFile(const std::string& path, const std::string& bytes);
// The whole content of a file; empty if it cannot be read.
std::string readFile(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> listDir(const std::string& path);

}  // namespace wldmap
