// The platform seam's file names and identities, checked against the system.
#include "platform/platform.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "support/tempdir.h"

namespace wldmap {
namespace {

#ifdef _WIN32
// Z:name on a drive other than the current one names name in that drive's
// current folder, whatever the folder's length. Wine writes past a heap block
// when GetFullPathNameW's buffer is shorter than that folder, which a run then
// pays for with a hang or a crash; HeapValidate sees it at once.
TEST(PlatformTest, DriveRelativePathResolvesAgainstItsDrivesFolderWithoutHarm) {
  wchar_t current[MAX_PATH];
  ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, current));
  const char drive = (current[0] | 0x20) == 'q' ? 'R' : 'Q';
  const std::wstring variable = {L'=', wchar_t(drive), L':'};
  for (size_t length = 1; length <= 300; ++length) {
    const std::string folder = std::string{drive, ':', '\\'} + std::string(length, 'f');
    SetEnvironmentVariableW(variable.c_str(), std::wstring(folder.begin(), folder.end()).c_str());
    EXPECT_EQ(folder + "\\w.wld", platform::fullPath(std::string{drive, ':'} + "w.wld"));
    ASSERT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr)) << "folder of " << length;
  }
  SetEnvironmentVariableW(variable.c_str(), nullptr);
  // What cannot be resolved is an error, never the path as given.
  EXPECT_THROW(platform::fullPath(""), platform::SystemError);
  EXPECT_THROW(platform::fullPath("C:\\" + std::string(40000, 'a')), platform::SystemError);
}

// The shell is handed a page's full path from a drive or a share, which no name
// makes a URL, a switch or a device.
TEST(PlatformTest, BrowserIsHandedAFullPath) {
  const std::string folder = platform::fullPath(".");
  for (const char* name : {"http:evil.example?.html", "--manual.html", " lead.html"}) {
    EXPECT_EQ(folder + "\\" + name, platform::browserTarget(name));
  }
  EXPECT_EQ("C:\\w\\Home.html", platform::browserTarget("\\\\?\\C:\\w\\Home.html"));
  EXPECT_EQ("\\\\host\\share\\a.html", platform::browserTarget("\\\\?\\UNC\\host\\share\\a.html"));
  EXPECT_THROW(platform::browserTarget("\\\\.\\CON"), platform::SystemError);
}
#else
// A file is known by what a link leads to, not by the link: a world given
// through a link must be told from its map even when the link's name differs.
TEST(PlatformTest, FileIdentityFollowsLinks) {
  TempDir dir;
  writeFile(dir / "Home.png", "map");
  writeFile(dir / "other", "other");
  ASSERT_EQ(0, symlink("Home.png", (dir / "w.wld").c_str()));
  ASSERT_EQ(0, symlink("missing", (dir / "dangling").c_str()));
  const auto target = platform::fileId(dir / "Home.png");
  ASSERT_TRUE(target);
  EXPECT_EQ(target, platform::fileId(dir / "w.wld"));
  EXPECT_EQ(target, platform::fileId(dir.path() + "/./Home.png"));
  EXPECT_FALSE(target == platform::fileId(dir / "other"));
  EXPECT_FALSE(platform::fileId(dir / "dangling"));
  EXPECT_FALSE(platform::fileId(dir / "none"));
}

// Files on two file systems may have the same inode number, as the first files
// of two fresh tmpfs mounts do: they are two files all the same, or a world on
// one would be taken for a map on the other.
TEST(PlatformTest, FilesOfOneNumberOnTwoFileSystemsAreTwoFiles) {
  EXPECT_FALSE((platform::FileId{1, 7}) == (platform::FileId{2, 7}));
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount file systems";
  TempDir dir;
  // Unmounted on every way out, before the folder is removed.
  struct Mounts {
    std::vector<std::string> points;
    ~Mounts() {
      for (const std::string& point : points) umount(point.c_str());
    }
  } mounts;
  for (const char* name : {"a", "b"}) {
    ASSERT_EQ(0, mkdir((dir / name).c_str(), 0755));
    if (mount("tmpfs", (dir / name).c_str(), "tmpfs", 0, "size=64k") != 0) {
      GTEST_SKIP() << "cannot mount tmpfs here";
    }
    mounts.points.push_back(dir / name);
  }
  writeFile(dir / "a/w.wld", "a world");
  writeFile(dir / "b/Home.png", "a map");
  struct stat a, b;
  ASSERT_EQ(0, stat((dir / "a/w.wld").c_str(), &a));
  ASSERT_EQ(0, stat((dir / "b/Home.png").c_str(), &b));
  const auto world = platform::fileId(dir / "a/w.wld");
  const auto map = platform::fileId(dir / "b/Home.png");
  if (a.st_ino != b.st_ino) GTEST_SKIP() << "the two files have different numbers here";
  ASSERT_TRUE(world && map);
  EXPECT_FALSE(*world == *map);
}
#endif

// The file stream's positions, after small reads from its buffer and after a
// large read that bypasses it: the colour reader goes back to the start after a
// partial byte order mark, and a header's size is measured by seeking.
TEST(PlatformTest, InputStreamKnowsWhereItIsAfterEveryKindOfRead) {
  TempDir dir;
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7 + i / 251);
  writeFile(dir / "data", bytes);
  platform::InputFileStream in(dir / "data");
  char small[10], large[100000];
  in.read(small, sizeof small);
  EXPECT_EQ(std::streampos(10), in.tellg());
  in.seekg(0);
  in.read(small, sizeof small);
  EXPECT_EQ(bytes.substr(0, 10), std::string(small, sizeof small));
  in.seekg(70000);  // past the buffer: the file moves
  in.read(large, sizeof large);  // larger than the buffer: straight from the file
  EXPECT_EQ(bytes.substr(70000, sizeof large), std::string(large, sizeof large));
  EXPECT_EQ(std::streampos(170000), in.tellg());
  in.seekg(0, std::ios::end);
  EXPECT_EQ(std::streampos(bytes.size()), in.tellg());
  in.seekg(5);
  EXPECT_EQ(bytes[5], char(in.get()));
}

}  // namespace
}  // namespace wldmap
