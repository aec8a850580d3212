// End-to-end benchmark: runs wldmap on sample worlds of three sizes and compares
// its wall time with the floor it cannot go below, png++ encoding the same map with
// libpng's default settings. Stage times come from the moments the tool's progress
// lines arrive on its standard output; the read stage is set against reading the
// file's bytes alone. On the largest worlds it also times a 256-pixel thumbnail
// (wldmap --thumbnail) after each map, against that map, and takes the peak
// memory of thumbnails at 1, 256, 1024 and 9000 pixels.
//
//   wldmap_bench WLDMAP GENSAMPLE WORK_DIR REPETITIONS REPORT.md
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <png++/png.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "render/thumbnail.h"
#include "world/world.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

struct Sample {
  double total = 0, startup = 0, read = 0, colors = 0, render = 0, save = 0, exit = 0;
  long peakKiB = 0;
};

// The peak resident set of a running process, in KiB, or 0.
long peakResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// Runs the tool once, timestamping each progress line as it arrives.
Sample runTool(const std::string& exe, const std::string& world) {
  int pipeFds[2], inputFds[2];
  if (pipe(pipeFds) != 0 || pipe(inputFds) != 0) throw std::runtime_error("pipe failed");
  // posix_spawn does not copy this process's page tables, which hold the decoded
  // map, so the tool's start is not charged for the benchmark's own size.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Standard input is a pipe that stays open until "Done!", so the tool's own
  // peak can be read while it waits. (rusage's peak is no use here: a spawned
  // child starts its count from this process's own.)
  posix_spawn_file_actions_adddup2(&actions, inputFds[0], 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, inputFds[0]);
  posix_spawn_file_actions_addclose(&actions, inputFds[1]);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  char* const argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>(world.c_str()), nullptr};
  pid_t pid = 0;
  const Clock::time_point start = Clock::now();
  const int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + exe);
  close(pipeFds[1]);
  close(inputFds[0]);
  long peakKiB = 0;
  std::map<std::string, Clock::time_point> seen;
  std::string line;
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    const Clock::time_point now = Clock::now();
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        line += buffer[i];
        continue;
      }
      seen.emplace(line.substr(0, line.rfind("Saving image as", 0) == 0 ? 15 : line.size()), now);
      if (line == "Done!") {
        peakKiB = peakResidentKiB(pid);
        close(inputFds[1]);
        inputFds[1] = -1;
      }
      line.clear();
    }
  }
  close(pipeFds[0]);
  if (inputFds[1] >= 0) close(inputFds[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  const Clock::time_point end = Clock::now();
  for (const char* key : {"Parsing header", "Loading colors", "Generating image",
                          "Saving image as", "Done!"}) {
    if (!seen.count(key) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      throw std::runtime_error("wldmap failed on " + world);
    }
  }
  Sample s;
  s.total = seconds(start, end);
  s.startup = seconds(start, seen["Parsing header"]);
  s.read = seconds(seen["Parsing header"], seen["Loading colors"]);
  s.colors = seconds(seen["Loading colors"], seen["Generating image"]);
  s.render = seconds(seen["Generating image"], seen["Saving image as"]);
  s.save = seconds(seen["Saving image as"], seen["Done!"]);
  s.exit = seconds(seen["Done!"], end);
  s.peakKiB = peakKiB;
  return s;
}

struct ThumbnailSample {
  double total = 0;
  long peakKiB = 0;
};

// Runs `wldmap --thumbnail SIZE world output` once. It reads no input, so its
// peak is read from /proc while it runs, every millisecond: the peak is reached
// while the grid is read, well before the thumbnail is painted and written.
ThumbnailSample runThumbnail(const std::string& exe, const std::string& world,
                             const std::string& output, int size) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const std::string sizeText = std::to_string(size);
  char* const argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("--thumbnail"),
                        const_cast<char*>(sizeText.c_str()), const_cast<char*>(world.c_str()),
                        const_cast<char*>(output.c_str()), nullptr};
  pid_t pid = 0;
  const Clock::time_point start = Clock::now();
  const int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + exe);
  ThumbnailSample sample;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    sample.peakKiB = std::max(sample.peakKiB, peakResidentKiB(pid));
    usleep(1000);
  }
  sample.total = seconds(start, Clock::now());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("wldmap --thumbnail failed on " + world);
  }
  return sample;
}

// Reads the whole file from the page cache into one buffer of the reader's
// size, discarding the bytes: the floor of reading a world.
double readBytes(const std::string& path) {
  std::vector<char> buffer(256 << 10);
  const Clock::time_point start = Clock::now();
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  while (read(fd, buffer.data(), buffer.size()) > 0) {
  }
  close(fd);
  return seconds(start, Clock::now());
}

// Writes `bytes` of memory fresh from the system once, as the grid's are
// written: the floor of holding a world's cells.
double writeFreshMemory(size_t bytes) {
  const Clock::time_point start = Clock::now();
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::runtime_error("cannot map memory");
  std::memset(memory, 1, bytes);
  munmap(memory, bytes);
  return seconds(start, Clock::now());
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The thumbnail sizes whose peak memory is shown; the first is also timed.
constexpr int kThumbnailSizes[] = {256, 1, 1024, 9000};

struct Row {
  int width, height;
  std::string world;  // the world file
  Sample median;  // of each field separately
  double floor;
  double readFloor;  // reading the file's bytes alone
  double memoryFloor;  // writing the grid's memory alone
  ThumbnailSample thumbnail;  // median time, largest peak; none when total is 0
  long thumbnailPeakKiB[std::size(kThumbnailSizes)] = {};
};

std::string machine() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line, model = "unknown processor";
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  utsname name{};
  uname(&name);
  std::ostringstream out;
  out << model << ", " << sysconf(_SC_NPROCESSORS_ONLN) << " cores, "
      << (sysconf(_SC_PHYS_PAGES) * sysconf(_SC_PAGE_SIZE) >> 30) << " GiB, Linux " << name.release
      << ", libpng " << PNG_LIBPNG_VER_STRING;
  return out.str();
}

}  // namespace

// The targets the report checks.
constexpr double kFloorRatio = 1.20;          // end to end against png++ alone...
constexpr double kFloorRatioFromCells = 5e6;  // ...on every world of this many cells or more
constexpr double kBytesPerCell = 16;          // peak memory: this much a cell...
constexpr double kFixedMiB = 32;              // ...plus this much
constexpr double kLinearity = 1.3;            // time per cell, largest world against smallest
constexpr int kSampleSeed = 1;
constexpr double kReadRatio = 4;              // the read stage against reading the bytes alone
constexpr int kThumbnailSize = kThumbnailSizes[0];  // thumbnails of the largest worlds...
constexpr double kThumbnailRatio = 0.20;      // ...within this much of the map's time
constexpr double kThumbnailMiB = 24;          // thumbnail peaks up to 1024 pixels a side...
constexpr int kSmallThumbnail = 1024;
constexpr double kThumbnailBytesPerPixel = 4;  // ...and beyond, plus this much a pixel
constexpr const char* kHistoryHeading = "## Before and after";

// A number as written in prose: 1.3, 16, 32.
std::string plain(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// A kind of world: the varied sample, and an open one whose map compresses far
// better, so that the encoder is faster and the stages before it show more.
struct Family {
  const char* name;
  const char* option;  // passed to gensample
  const char* about;
};

constexpr Family kFamilies[] = {
    {"sample", "", "hills, caves, ores and pools: a varied map"},
    {"open", " --open", "open sky and long runs of one material: a map that compresses easily"},
};

// Maps one world `repetitions` times, each run followed by one timing of the floor
// and, with `thumbnails`, one of a thumbnail.
Row measure(const std::string& exe, const std::string& gensample, const std::string& folder,
            const Family& family, int width, int height, int repetitions, bool thumbnails) {
  const std::string world = folder + "/world.wld";
  std::filesystem::create_directories(folder);
  if (!std::filesystem::exists(world)) {
    const std::string command = gensample + " " + std::to_string(width) + " " +
                                std::to_string(height) + " " + std::to_string(kSampleSeed) + " " +
                                world + family.option;
    if (std::system(command.c_str()) != 0) throw std::runtime_error("gensample failed");
  }
  runTool(exe, world);  // warms the page cache and writes the map
  png::image<png::rgba_pixel> map(folder + "/Sample.png");
  const std::string floorPath = folder + "/floor.png";

  std::vector<Sample> runs;
  std::vector<double> floors, readFloors, memoryFloors, thumbnailTimes;
  Row row{width, height, world, {}, 0, 0, 0, {}};
  for (int i = 0; i < repetitions; ++i) {
    runs.push_back(runTool(exe, world));
    const Clock::time_point start = Clock::now();
    map.write(floorPath);
    floors.push_back(seconds(start, Clock::now()));
    readFloors.push_back(readBytes(world));
    memoryFloors.push_back(writeFreshMemory(size_t(width) * size_t(height) * sizeof(wldmap::Tile)));
    if (thumbnails) {
      // Every size once a round, so that each peak is the largest of several.
      for (size_t k = 0; k < std::size(kThumbnailSizes); ++k) {
        const ThumbnailSample t =
            runThumbnail(exe, world, folder + "/thumb.png", kThumbnailSizes[k]);
        if (k == 0) thumbnailTimes.push_back(t.total);
        row.thumbnailPeakKiB[k] = std::max(row.thumbnailPeakKiB[k], t.peakKiB);
      }
    }
  }
  row.floor = median(floors);
  row.readFloor = median(readFloors);
  row.memoryFloor = median(memoryFloors);
  if (thumbnails) row.thumbnail = {median(thumbnailTimes), row.thumbnailPeakKiB[0]};
  auto field = [&](double Sample::*member) {
    std::vector<double> values;
    for (const Sample& s : runs) values.push_back(s.*member);
    return median(values);
  };
  row.median.total = field(&Sample::total);
  row.median.startup = field(&Sample::startup);
  row.median.read = field(&Sample::read);
  row.median.colors = field(&Sample::colors);
  row.median.render = field(&Sample::render);
  row.median.save = field(&Sample::save);
  row.median.exit = field(&Sample::exit);
  for (const Sample& s : runs) row.median.peakKiB = std::max(row.median.peakKiB, s.peakKiB);
  std::cerr << family.name << " " << width << " x " << height << ": " << row.median.total
            << " s, floor " << row.floor << " s\n";
  return row;
}

int main(int argc, char** argv) {
  if (argc != 6) {
    std::cerr << "usage: " << argv[0] << " WLDMAP GENSAMPLE WORK_DIR REPETITIONS REPORT.md\n";
    return 1;
  }
  const std::string exe = argv[1], gensample = argv[2], work = argv[3], report = argv[5];
  const int repetitions = std::max(1, std::atoi(argv[4]));
  const std::pair<int, int> sizes[] = {{1000, 500}, {4200, 1200}, {8400, 2400}};

  std::ostringstream out;
  out.setf(std::ios::fixed);
  out << "# Performance\n\n"
      << "Measured by `bash bench/run.sh` on " << machine() << ".\n"
      << "Median of " << repetitions
      << " runs of `wldmap` per world, each followed by one timing of the floor: png++\n"
      << "writing the same map to a file with libpng's default settings. Stage times come from\n"
      << "the arrival of the progress lines; peak memory is the largest resident set seen.\n"
      << "The map is painted while it is encoded, so the save includes the painting that\n"
      << "is not hidden behind the encoder.\n";

  std::vector<std::string> targets;
  bool ratiosMet = true, memoryMet = true;
  for (const Family& family : kFamilies) {
    std::vector<Row> rows;
    for (auto [width, height] : sizes) {
      const std::string folder = work + "/" + family.name + "/" + std::to_string(width) + "x" +
                                 std::to_string(height);
      const bool largest = width == sizes[std::size(sizes) - 1].first;
      rows.push_back(
          measure(exe, gensample, folder, family, width, height, repetitions, largest));
    }

    out << "\n## " << family.name << ": " << family.about << "\n\n"
        << "| world | cells | wldmap (s) | floor (s) | ratio | start | read | colours | render | "
           "save | exit | peak RSS (MiB) | budget (MiB) |\n"
        << "|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (const Row& r : rows) {
      const double cells = double(r.width) * r.height;
      const double budget = (kBytesPerCell * cells) / 1048576.0 + kFixedMiB;
      const double ratio = r.median.total / r.floor;
      if (cells >= kFloorRatioFromCells) ratiosMet = ratiosMet && ratio <= kFloorRatio;
      memoryMet = memoryMet && r.median.peakKiB / 1024.0 <= budget;
      out.precision(3);
      out << "| " << r.width << " x " << r.height << " | " << static_cast<long>(cells) << " | "
          << r.median.total << " | " << r.floor << " | " << ratio << " | " << r.median.startup
          << " | " << r.median.read << " | " << r.median.colors << " | " << r.median.render
          << " | " << r.median.save << " | " << r.median.exit << " | ";
      out.precision(1);
      out << r.median.peakKiB / 1024.0 << " | " << budget << " |\n";
    }

    const Row& small = rows.front();
    const Row& large = rows.back();
    const double smallCells = double(small.width) * small.height;
    const double largeCells = double(large.width) * large.height;
    out.precision(3);
    out << "\nTime per cell (ns) of the stages that work on cells, smallest and largest world:\n\n"
        << "| stage | " << small.width << " x " << small.height << " | " << large.width << " x "
        << large.height << " | ratio |\n|---|---|---|---|\n";
    bool linear = true;
    for (auto [name, member] : {std::pair{"read", &Sample::read}, {"save", &Sample::save}}) {
      const double a = small.median.*member / smallCells * 1e9;
      const double b = large.median.*member / largeCells * 1e9;
      linear = linear && b / a <= kLinearity;
      out << "| " << name << " | " << a << " | " << b << " | " << b / a << " |\n";
    }
    targets.push_back(std::string("time per cell of reading and saving on the largest ") +
                      family.name + " world within " + plain(kLinearity) +
                      " x of the smallest's: " + (linear ? "met" : "NOT met"));

    const double readRatio = large.median.read / large.readFloor;
    out << "\nThe read stage of the largest world (from \"Parsing header\" to \"Loading "
           "colors\") against reading\nthe file's bytes from the page cache into one buffer "
           "and discarding them, and against writing\nas much memory fresh from the system as "
           "its grid takes, once:\n\n"
        << "| world | file (MiB) | read stage (s) | bytes alone (s) | ratio | grid (MiB) | "
           "grid's memory alone (s) | ratio to both |\n|---|---|---|---|---|---|---|---|\n| "
        << large.width << " x " << large.height << " | ";
    const double gridMiB = double(large.width) * large.height * sizeof(wldmap::Tile) / 1048576.0;
    out.precision(1);
    out << std::filesystem::file_size(large.world) / 1048576.0 << " | ";
    out.precision(3);
    out << large.median.read << " | " << large.readFloor << " | " << readRatio << " | ";
    out.precision(1);
    out << gridMiB << " | ";
    out.precision(3);
    out << large.memoryFloor << " | "
        << large.median.read / (large.readFloor + large.memoryFloor) << " |\n";
    targets.push_back(std::string("the read stage of the largest ") + family.name +
                      " world within " + plain(kReadRatio) +
                      " x reading its bytes alone: " + (readRatio <= kReadRatio ? "met" : "NOT met"));

    const ThumbnailSample& thumb = large.thumbnail;
    const double thumbRatio = thumb.total / large.median.total;
    out << "\nThumbnails (`wldmap --thumbnail SIZE`) of the largest world: a " << kThumbnailSize
        << "-pixel one timed after each of its maps,\nand the peak memory at each size (MiB):\n\n"
        << "| world | map (s) | thumbnail (s) | ratio | map peak |";
    for (int size : kThumbnailSizes) out << " at " << size << " |";
    out << "\n|---|---|---|---|---|";
    for (size_t k = 0; k < std::size(kThumbnailSizes); ++k) out << "---|";
    out << "\n| " << large.width << " x " << large.height << " | " << large.median.total << " | "
        << thumb.total << " | " << thumbRatio << " | ";
    out.precision(1);
    out << large.median.peakKiB / 1024.0 << " |";
    bool peaksMet = true;
    for (size_t k = 0; k < std::size(kThumbnailSizes); ++k) {
      const double peak = large.thumbnailPeakKiB[k] / 1024.0;
      const int size = kThumbnailSizes[k];
      const wldmap::ThumbnailSize shape =
          wldmap::thumbnailSize(uint32_t(large.width), uint32_t(large.height), uint32_t(size));
      const double pixels = double(shape.width) * shape.height;
      const double budget = size <= kSmallThumbnail
                                ? kThumbnailMiB
                                : kThumbnailMiB + kThumbnailBytesPerPixel * pixels / 1048576.0;
      peaksMet = peaksMet && peak <= budget && large.thumbnailPeakKiB[k] <= large.median.peakKiB;
      out << " " << peak << " |";
    }
    out << "\n";
    targets.push_back("a " + std::to_string(kThumbnailSize) + "-pixel thumbnail of the largest " +
                      family.name + " world within " + plain(kThumbnailRatio) +
                      " x the map's time: " + (thumbRatio <= kThumbnailRatio ? "met" : "NOT met"));
    targets.push_back("thumbnail peaks of the largest " + std::string(family.name) +
                      " world within " + plain(kThumbnailMiB) + " MiB up to " +
                      std::to_string(kSmallThumbnail) + " pixels, " + plain(kThumbnailMiB) +
                      " MiB + " + plain(kThumbnailBytesPerPixel) +
                      " bytes a thumbnail pixel beyond, and never above the map's: " +
                      (peaksMet ? "met" : "NOT met"));
  }
  out << "\n## Targets\n\n"
      << "- end to end within " << plain(kFloorRatio) << " x the floor on every world of "
      << plain(kFloorRatioFromCells / 1e6) << " million cells or more: "
      << (ratiosMet ? "met" : "NOT met") << "\n"
      << "- peak memory within " << plain(kBytesPerCell) << " bytes a cell + " << plain(kFixedMiB)
      << " MiB on every world: " << (memoryMet ? "met" : "NOT met") << "\n";
  for (const std::string& target : targets) out << "- " << target << "\n";
  out << "\nThe render column is what is left of painting before the save: the colour\n"
      << "combinations and the search for unknown walls, which take about the same time\n"
      << "whatever the world; the painting itself happens during the save.\n";

  // The report's hand-written history, from its own heading on, is kept.
  std::string history;
  {
    std::ifstream previous(report);
    const std::string text((std::istreambuf_iterator<char>(previous)),
                           std::istreambuf_iterator<char>());
    const size_t at = text.find("\n" + std::string(kHistoryHeading));
    if (at != std::string::npos) history = text.substr(at);
  }
  std::ofstream file(report);
  file << out.str() << history;
  std::cout << out.str();
  return file ? 0 : 1;
}
