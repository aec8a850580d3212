#include "colors/colors.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "support/failing_stream.h"

namespace wldmap {
namespace {

struct Loaded {
  TileColorTable table;
  std::vector<std::string> warnings;
};

Loaded load(const std::string& text) {
  std::istringstream in(text);
  Loaded result;
  result.table = loadTileColors(in, result.warnings);
  return result;
}

TEST(ColorsTest, OneGroupWithOrWithoutFinalNewline) {
  for (const char* text : {"0 151 107 75 255", "0 151 107 75 255\n", "  0\t151\n107 75\r\n255 \n"}) {
    const Loaded loaded = load(text);
    ASSERT_EQ(1u, loaded.table.size()) << text;
    EXPECT_EQ((Color{151, 107, 75, 255}), lookup(loaded.table, 0));
    EXPECT_TRUE(loaded.warnings.empty());
  }
}

TEST(ColorsTest, LaterGroupReplacesEarlierAndComponentsKeepTheirLowByte) {
  const Loaded loaded = load("7 9 9 9 9 7 1 2 3 4\n5 300 -1 0 128\n-3 +1 2 3 4");
  EXPECT_EQ(3u, loaded.table.size());
  EXPECT_EQ((Color{1, 2, 3, 4}), lookup(loaded.table, 7));
  EXPECT_EQ((Color{44, 255, 0, 128}), lookup(loaded.table, 5));
  EXPECT_EQ((Color{1, 2, 3, 4}), lookup(loaded.table, -3));
  EXPECT_TRUE(loaded.warnings.empty());
}

// Names: comments, blank lines, spaces and line ends of both kinds; each bad
// line warned with its number and skipped, the rest kept.
TEST(ColorsTest, NamesFileKeepsGoodLinesAndWarnsOfEachBadOne) {
  const std::string longest(kLongestName - 1, 'x');
  std::istringstream in("\xEF\xBB\xBF# made-up names\n\ntile 7  Copper   ore  # the first\r\n"
                        "wall -56 Deep\xC3\xA9 wall\n"
                        "tile 1 \xC3\xA9" + longest + "\n"  // exactly the longest
                        "tile\nwall x Stone\ntile 128 Big\nfloor 1 Dirt\ntile 2\n"
                        "tile 3 " + longest + "xx\ntile 4 \xC3\x28\ntile 5 \xED\xA0\x80\n"
                        "tile 7 Ore of copper\ntile -128 " + std::string(2000, 'y') + "\ntile -1 Last");
  std::vector<std::string> warnings;
  const TypeNames names = loadTypeNames(in, warnings);
  EXPECT_EQ((std::map<int32_t, std::string>{{-1, "Last"}, {1, "\xC3\xA9" + longest}, {7, "Ore of copper"}}),
            names.tiles);
  EXPECT_EQ((std::map<int32_t, std::string>{{-56, "Deep\xC3\xA9 wall"}}), names.walls);
  const std::vector<std::string> expected{
      "line 6: no type number after \"tile\"", "line 7: no type number after \"wall\"",
      "line 8: type 128 is not from -128 to 127", "line 9: it starts with neither \"tile\" nor \"wall\"",
      "line 10: no name after the type", "line 11: the name is longer than 64 characters",
      "line 12: the name is not UTF-8", "line 13: the name is not UTF-8",
      "line 15: it is longer than 1024 bytes"};
  ASSERT_EQ(expected.size(), warnings.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i] + "; it is skipped", warnings[i]);
}

TEST(ColorsTest, EmptyOrBlankFileGivesAnEmptyTable) {
  for (const char* text : {"", "   \n\t\n"}) {
    const Loaded loaded = load(text);
    EXPECT_EQ(0u, loaded.table.size());
    EXPECT_TRUE(loaded.warnings.empty());
  }
}

TEST(ColorsTest, StopsAtABadTokenKeepingCompleteGroups) {
  for (const char* bad : {"abc", "12abc", "4294967296", "-2147483649", "1.5", "+-3", "+"}) {
    const Loaded loaded = load(std::string("1 1 1 1 1\n2 2 2 ") + bad + " 2\n3 3 3 3 3\n");
    EXPECT_EQ(1u, loaded.table.size()) << bad;
    EXPECT_TRUE(loaded.table.has(1));
    ASSERT_EQ(1u, loaded.warnings.size()) << bad;
    EXPECT_NE(std::string::npos, loaded.warnings[0].find("group 2"));
    EXPECT_NE(std::string::npos, loaded.warnings[0].find(bad));
  }
}

TEST(ColorsTest, BadTokenIsQuotedSafelyForATerminal) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\x1b[2Jb", "\"a\\x1b[2Jb\""},     // an escape sequence is shown, not sent
      {"\xc3\xa9t\xe9", "\"\\xc3\\xa9t\\xe9\""},
      {std::string(1 << 20, '7') + "x", "\"" + std::string(40, '7') + "...\""},
      // The ends of what is shown as it is (a space, 0x20, ends a token), and one
      // past each; quotes and backslashes are escaped so that the shown token
      // ends where it seems to.
      {"x\x1f!~\x7f\x80\xff", "\"x\\x1f!~\\x7f\\x80\\xff\""},
      {"x\"\\", "\"x\\\"\\\\\""},
      // Cut at 40 bytes: 40 are shown whole, 41 are cut.
      {"x" + std::string(39, '7'), "\"x" + std::string(39, '7') + "\""},
      {"x" + std::string(40, '7'), "\"x" + std::string(39, '7') + "...\""},
  };
  for (const auto& [token, shown] : cases) {
    const Loaded loaded = load("1 1 1 1 1 " + token);
    ASSERT_EQ(1u, loaded.warnings.size());
    EXPECT_EQ("group 2: " + shown +
                  " is not a 32-bit integer; this group and everything after it are ignored",
              loaded.warnings[0]);
  }
}

// A token longer than any number may be is not one, whatever its digits, and
// is read no further than that: a file of one endless token costs nothing.
TEST(ColorsTest, TokensLongerThanAnyNumberAreBadAndNeverHeldWhole) {
  const std::string padded = std::string(kLongestToken - 1, '0') + "5";
  const Loaded fits = load("1 1 1 1 " + padded);
  EXPECT_EQ((Color{1, 1, 1, 5}), lookup(fits.table, 1));
  EXPECT_TRUE(fits.warnings.empty());
  const Loaded tooLong = load("1 1 1 1 " + padded + "0");
  EXPECT_EQ(0u, tooLong.table.size());
  ASSERT_EQ(1u, tooLong.warnings.size());
  EXPECT_EQ(0u, tooLong.warnings[0].find("group 1: \"" + std::string(40, '0') + "...\" is not"));

  // One good group, then 64 MiB of digits, of which no more than the longest
  // token and one byte is read.
  std::istringstream huge("0 1 2 3 255 " + std::string(size_t(64) << 20, '7'));
  std::vector<std::string> warnings;
  EXPECT_EQ(1u, loadTileColors(huge, warnings).size());
  ASSERT_EQ(1u, warnings.size());
  EXPECT_EQ(0u, warnings[0].find("group 2: \"" + std::string(40, '7') + "...\" is not"));
  EXPECT_EQ(std::streampos(12 + kLongestToken + 1), huge.tellg());
}

TEST(ColorsTest, ByteOrderMarks) {
  // Windows editors start a UTF-8 file with a mark; the file reads as without it.
  const Loaded utf8 = load("\xEF\xBB\xBF" "0 151 107 75 255\n");
  EXPECT_EQ((Color{151, 107, 75, 255}), lookup(utf8.table, 0));
  EXPECT_TRUE(utf8.warnings.empty());
  // A lone 0xEF, or the first two bytes of a mark, are part of a bad token, also
  // in a file too short to hold a whole mark.
  for (const char* text : {"\xEF" "1 2 3 4 5", "\xEF\xBB" "1 2 3 4 5", "\xEF", "\xEF\xBB"}) {
    const Loaded loaded = load(text);
    ASSERT_EQ(1u, loaded.warnings.size());
    EXPECT_NE(std::string::npos, loaded.warnings[0].find("not a 32-bit integer"))
        << loaded.warnings[0];
  }
  for (const std::string mark : {"\xFF\xFE", "\xFE\xFF"}) {
    const Loaded utf16 = load(mark + std::string("0\0 \0" "1\0", 6));
    EXPECT_EQ(0u, utf16.table.size());
    ASSERT_EQ(1u, utf16.warnings.size());
    EXPECT_NE(std::string::npos, utf16.warnings[0].find("UTF-16"));
  }
}

// Any 32-bit type is read, but only the 256 a tile's type byte can hold are
// kept: the table's size does not grow with the file's.
TEST(ColorsTest, KeepsOnlyTheTypesATileCanHave) {
  const Loaded loaded = load("2147483647 0 0 0 0 -2147483648 1 1 1 1 128 2 2 2 2 -129 3 3 3 3\n"
                             "127 4 4 4 4 -128 5 5 5 5 200 6 6 6 6");
  EXPECT_TRUE(loaded.warnings.empty());
  EXPECT_EQ(2u, loaded.table.size());
  EXPECT_EQ((Color{4, 4, 4, 4}), lookup(loaded.table, 127));
  EXPECT_EQ((Color{5, 5, 5, 5}), lookup(loaded.table, -128));
  for (int32_t type : {128, -129, 200, 2147483647}) {
    EXPECT_FALSE(loaded.table.has(type)) << type;
    EXPECT_EQ((Color{0, 0, 0, 255}), lookup(loaded.table, type)) << type;
  }
}

TEST(ColorsTest, IncompleteLastGroupIsIgnoredWithAWarning) {
  for (const char* text : {"1 10 20 30 40\n2 50 60\n", "1 10 20 30 40\n2"}) {
    const Loaded loaded = load(text);
    EXPECT_EQ(1u, loaded.table.size());
    ASSERT_EQ(1u, loaded.warnings.size()) << text;
    EXPECT_NE(std::string::npos, loaded.warnings[0].find("group 2 has only")) << text;
  }
}

// A read that fails is not the end of the file: a table cut short there would
// paint the rest of the tiles black and call it a success.
TEST(ColorsTest, FailedReadIsAnErrorNotTheEnd) {
  for (const char* text : {"", "\xEF\xBB", "0 151 107 75 255\n", "0 151 107 75 255", "1 2 3"}) {
    FailingBuffer buffer(text);
    std::istream in(&buffer);
    std::vector<std::string> warnings;
    EXPECT_THROW(loadTileColors(in, warnings), std::runtime_error) << text;
  }
}

TEST(ColorsTest, LookupDefaultsToOpaqueBlack) {
  const Loaded loaded = load("1 10 20 30 40");
  EXPECT_EQ((Color{10, 20, 30, 40}), lookup(loaded.table, 1));
  EXPECT_EQ((Color{0, 0, 0, 255}), lookup(loaded.table, 2));
  EXPECT_EQ((Color{0, 0, 0, 255}), lookup(loaded.table, -1));
}

TEST(ColorsTest, ShippedFileLoadsCleanly) {
  std::ifstream in(WLDMAP_SHIPPED_COLORS);
  ASSERT_TRUE(in);
  std::vector<std::string> warnings;
  const TileColorTable table = loadTileColors(in, warnings);
  EXPECT_TRUE(warnings.empty());
  // Every material the sample generator paints has a colour of its own.
  for (int type : {0, 1, 2, 3, 5, 6, 7, 8, 9, 53, 57, 58, 59, 60}) {
    EXPECT_TRUE(table.has(type)) << type;
  }
  EXPECT_EQ((Color{151, 107, 75, 255}), lookup(table, 0));
  EXPECT_EQ((Color{192, 202, 203, 128}), lookup(table, 51));
}

}  // namespace
}  // namespace wldmap
