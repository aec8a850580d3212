#include "app/map_names.h"

#include <gtest/gtest.h>

namespace wldmap {
namespace {

TEST(MapNamesTest, FolderIsEverythingUpToTheLastSeparatorOfEitherKind) {
  for (bool windows : {false, true}) {
    EXPECT_EQ("C:\\maps\\", folderOf("C:\\maps\\w.wld", windows));
    EXPECT_EQ("/data/maps/", folderOf("/data/maps/w.wld", windows));
    EXPECT_EQ("a/b\\", folderOf("a/b\\c.wld", windows));
    EXPECT_EQ("a\\b/", folderOf("a\\b/c.wld", windows));
    EXPECT_EQ("", folderOf("w.wld", windows));
    EXPECT_EQ("", folderOf("", windows));
    EXPECT_EQ("/", folderOf("/w.wld", windows));
    EXPECT_EQ("dir/", folderOf("dir/", windows));
    EXPECT_EQ("Z:dir\\", folderOf("Z:dir\\w.wld", windows));
  }
  // A drive-relative path names a file in the current folder of that drive, not
  // of the current drive; elsewhere a colon is a letter like any other.
  EXPECT_EQ("Z:", folderOf("Z:dr.wld", true));
  EXPECT_EQ("c:", folderOf("c:w.wld", true));
  EXPECT_EQ("", folderOf("Z:dr.wld", false));
  EXPECT_EQ("", folderOf("1:w.wld", true));
}

TEST(MapNamesTest, SafeFileNameReplacesSeparatorsAndControlCharacters) {
  for (bool windows : {false, true}) {
    EXPECT_EQ("Home", safeFileName("Home", windows));
    EXPECT_EQ("", safeFileName("", windows));
    EXPECT_EQ("a_b_c_d_e", safeFileName("a/b\\c\nd\x7f" "e", windows));
    EXPECT_EQ("_x_", safeFileName("\x01x\x1f", windows));
    // C1 controls, as bare bytes or encoded as U+0080..U+009F, steer terminals too:
    // the first and the last of them, either way.
    EXPECT_EQ("a_b_c", safeFileName("a\x9b" "b\xc2\x85" "c", windows));
    EXPECT_EQ("_x_y__", safeFileName("\x80x\x9fy\xc2\x80\xc2\x9f", windows));
    // Valid UTF-8 stays, up to four bytes a character, U+00A0 included.
    EXPECT_EQ("W\xc3\xa9lt \xe4\xb8\x96\xf0\x9f\x97\xba\xc2\xa0",
              safeFileName("W\xc3\xa9lt \xe4\xb8\x96\xf0\x9f\x97\xba\xc2\xa0", windows));
    EXPECT_EQ("..", safeFileName("..", windows));
  }
  // On POSIX systems any other byte is a legal name byte and stays.
  EXPECT_EQ("a: ?*<>|\"\xff\xe9\xa0", safeFileName("a: ?*<>|\"\xff\xe9\xa0", false));
  EXPECT_EQ("con", safeFileName("con", false));
}

TEST(MapNamesTest, SafeFileNameFollowsWindowsRulesThere) {
  EXPECT_EQ("a_ ______", safeFileName("a: ?*<>|\"", true));
  // Bytes that are not UTF-8: stray, overlong, surrogate, beyond U+10FFFF, cut short.
  EXPECT_EQ("_x_", safeFileName("\xffx\xe9", true));
  EXPECT_EQ("__", safeFileName("\xc0\xaf", true));
  EXPECT_EQ("___", safeFileName("\xed\xa0\x80", true));
  // Overlong three-byte forms end just below E0 A0; E0 A0 80 (U+0800) is the first.
  EXPECT_EQ("___", safeFileName("\xe0\x9f\xbf", true));
  EXPECT_EQ("\xe0\xa0\x80", safeFileName("\xe0\xa0\x80", true));
  EXPECT_EQ("____", safeFileName("\xf4\x90\x80\x80", true));
  EXPECT_EQ("__.", safeFileName("\xe4\xb8.", true));
  // Device names, alone or before a dot, in any case: the consoles, and COM and
  // LPT with a digit or a superscript one, two or three.
  for (const char* device : {"CON", "prn", "Aux", "nul", "CONIN$", "conout$", "COM1", "com9",
                             "COM0", "LPT0", "LPT1", "lpt9", "COM\xc2\xb9", "lpt\xc2\xb2",
                             "COM\xc2\xb3"}) {
    EXPECT_EQ(std::string("_") + device, safeFileName(device, true));
  }
  EXPECT_EQ("_aux.map", safeFileName("aux.map", true));
  // Every space before the dot is trimmed, and a stem of spaces alone is no device.
  EXPECT_EQ("_CON .x", safeFileName("CON .x", true));
  EXPECT_EQ("_CON   .x", safeFileName("CON   .x", true));
  EXPECT_EQ("_nul  ", safeFileName("nul  ", true));
  EXPECT_EQ("   .png", safeFileName("   .png", true));
  EXPECT_EQ("CONx  .x", safeFileName("CONx  .x", true));
  EXPECT_EQ(" CON.x", safeFileName(" CON.x", true));
  EXPECT_EQ("_CON.tar.png", safeFileName("CON.tar.png", true));
  EXPECT_EQ("_CONIN$.png", safeFileName("CONIN$.png", true));
  for (const char* name : {"CONSOLE", "CONIN", "LPT", "xnul", "COM10", "my.aux",
                           "COM\xc2\xb4", "LPT\xc2\xb9x"}) {
    EXPECT_EQ(name, safeFileName(name, true));
  }
}

}  // namespace
}  // namespace wldmap
