#include "app/data_files.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>

#include "app/failure.h"
#include "core/core.h"
#include "platform/platform.h"

namespace wldmap {

namespace {

namespace fs = std::filesystem;

// A candidate as given, and its full path.
struct Candidate {
  std::string path;
  std::string fullPath;
};

// The first of `candidates` that names anything at all, through links: a file
// of another kind is not passed over for a later one, but refused for what it
// is. Empty when none does.
std::optional<Candidate> firstExisting(const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates) {
    std::error_code error;
    try {
      std::string full = platform::fullPath(path);
      if (fs::exists(fs::u8path(full), error)) return Candidate{path, std::move(full)};
    } catch (const platform::SystemError&) {
      // A path the system cannot resolve names nothing.
    }
  }
  return std::nullopt;
}

std::string join(const std::vector<std::string>& items) {
  std::string all;
  for (const std::string& item : items) all += (all.empty() ? "" : ", ") + item;
  return all;
}

}  // namespace

std::vector<std::string> colorFileCandidates(const std::string& toolFolder,
                                             const std::vector<std::string>& dataFolders) {
  std::vector<std::string> candidates{toolFolder + kColorFileName};
  for (const std::string& folder : dataFolders) {
    const std::string path = folder + kColorFileName;
    if (std::find(candidates.begin(), candidates.end(), path) == candidates.end()) {
      candidates.push_back(path);
    }
  }
  return candidates;
}

TileColorTable readColors(const std::vector<std::string>& candidates, std::ostream* warnings) {
  const std::optional<Candidate> file = firstExisting(candidates);
  if (!file) throw Failure(kColorFileName, "not found; looked for " + join(candidates));
  std::vector<std::string> found;
  TileColorTable colors = blameOn(file->path, [&] { return loadColorFile(file->fullPath, found); });
  for (const std::string& warning : found) {
    if (warnings) reportWarning(*warnings, file->path, warning);
  }
  return colors;
}

std::vector<std::string> namesFileCandidates(const std::string& configFolder,
                                             const std::vector<std::string>& colorCandidates) {
  std::vector<std::string> candidates;
  if (!configFolder.empty()) candidates.push_back(configFolder + kNamesFileName);
  for (const std::string& colors : colorCandidates) {
    candidates.push_back(colors.substr(0, colors.size() - std::strlen(kColorFileName)) + kNamesFileName);
  }
  return candidates;
}

TypeNames readNames(const std::vector<std::string>& candidates, std::ostream& warnings) {
  const std::optional<Candidate> file = firstExisting(candidates);
  if (!file) return TypeNames();
  std::vector<std::string> found;
  TypeNames names;
  try {
    names = blameOn(file->path, [&] { return loadNamesFile(file->fullPath, found); });
  } catch (const Failure& failure) {
    found.push_back(std::string(failure.what()) + "; the page names no types");
  }
  for (const std::string& warning : found) reportWarning(warnings, file->path, warning);
  return names;
}

}  // namespace wldmap
