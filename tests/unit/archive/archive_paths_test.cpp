#include "archive/archive_paths.h"
#include "archive/item_paths.h"

#include <gtest/gtest.h>

namespace vexa {
namespace {

TEST(PathJoinTest, OneBackslashBetweenFolderAndName) {
  EXPECT_EQ(PathJoin("C:\\Temp\\", "a.dll"), "C:\\Temp\\a.dll");
  EXPECT_EQ(PathJoin("C:\\Dist", "Setup"), "C:\\Dist\\Setup");
  EXPECT_EQ(PathJoin("\\\\server\\share", "x"), "\\\\server\\share\\x");
}

TEST(FolderPartTest, UpToTheLastBackslashOrColon) {
  EXPECT_EQ(FolderPart("C:\\Dist\\x.exe"), "C:\\Dist\\");
  EXPECT_EQ(FolderPart("C:x.exe"), "C:");
  EXPECT_EQ(FolderPart("x.exe"), "");
}

TEST(SplitPathTest, EveryComponentEmptyOnesIncluded) {
  EXPECT_EQ(SplitPath("a\\b/c", "\\/"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitPath("a\\b", "/"), std::vector<std::string>{"a\\b"});
  EXPECT_EQ(SplitPath("/a//", "/"), (std::vector<std::string>{"", "a", "", ""}));
}

TEST(SafeItemPathTest, NamesThatStayInsideTheDestination) {
  for (const char* name :
       {"setup.exe", "a", ".hidden", "a..b", "name with spaces.txt", "a/b", "a\\b",
        "sub\\inner.txt", "sub/deeper\\x", "..x\\y", "a.\\b", "sub\\.hidden", " a\\b"})
    EXPECT_TRUE(IsSafeItemPath(name)) << name;
  for (const char* name : {"",
                           "..",
                           ".",
                           "...",
                           ". .",
                           "..\\x",
                           "C:\\x",
                           "C:x",
                           "\\x",
                           "/x",
                           "\\\\server\\x",
                           "x:stream",
                           "sub\\x:stream",
                           "sub\\..\\..\\x",
                           "sub/../x",
                           "sub\\..",
                           "sub\\.\\x",
                           ".\\x",
                           "...\\x",
                           ". \\x",
                           "a\\\\b",
                           "a//b",
                           "sub\\",
                           "sub/",
                           "a\\ \\b"})
    EXPECT_FALSE(IsSafeItemPath(name)) << name;
}

TEST(SafeTreePathTest, EachComponentMustNameSomethingInside) {
  const std::u16string longest(MaxPathComponentUnits, u'x');
  for (const std::u16string_view path :
       {u"setup.exe", u"platforms\\qwindows.dll", u"a\\b\\c\\d.txt",
        u"\u041F\u0430\u043F\u043A\u0430\\\u6587.txt", u".hidden", u"a..b\\x", u"CONFIG.SYS",
        u"COM10", u"LPT", u"NULL.txt", u"con1.txt", u"a.\\b", u" a", u"COM\u00B9x"})
    EXPECT_TRUE(IsSafeTreePath(path)) << std::string(path.begin(), path.end());
  EXPECT_TRUE(IsSafeTreePath(longest));
  for (const std::u16string_view path : {u"",          u".",
                                         u"..",        u". .",
                                         u"..\\x",     u"a\\..\\..\\x",
                                         u"a\\.\\x",   u"\\x",
                                         u"a\\",       u"a\\\\b",
                                         u"C:\\x",     u"x:stream",
                                         u"a/b",       u"a\\b/..",
                                         u"a<b",       u"a>b",
                                         u"a\"b",      u"a|b",
                                         u"a?b",       u"a*b",
                                         u"a\tb",      u"a\\\x01",
                                         u"CON",       u"con",
                                         u"Nul.txt",   u"aux .log",
                                         u"sub\\PRN",  u"COM1",
                                         u"lpt9.dll",  u"COM0",
                                         u"COM\u00B9", u"LPT\u00B3.txt",
                                         u"CONIN$",    u"conout$.x"})
    EXPECT_FALSE(IsSafeTreePath(path)) << std::string(path.begin(), path.end());
  EXPECT_FALSE(IsSafeTreePath(longest + u"x"));
  std::u16string deep;
  while (deep.size() <= MaxItemPathUnits)
    deep += u"folder\\";
  EXPECT_FALSE(IsSafeTreePath(deep + u"x"));
}

// The table's paths, each in a string of its own.
std::optional<TItemPaths> Decoded(const std::vector<std::uint8_t>& Bytes, std::size_t Size,
                                  std::size_t ItemCount) {
  const std::optional<TItemPathTable> table = TItemPathTable::Decode(Bytes.data(), Size, ItemCount);
  if (!table)
    return std::nullopt;
  TItemPaths paths;
  for (std::size_t i = 0; i < ItemCount; ++i)
    paths.Items.push_back(table->Item(i));
  for (std::size_t i = 0; i < table->EmptyFolderCount(); ++i)
    paths.EmptyFolders.push_back(table->EmptyFolder(i));
  return paths;
}

TEST(ItemPathsTest, RoundTripAndDamagedResources) {
  // Folders shared by runs of paths, left and come back to, and paths that are all folder,
  // start with a separator, or have none: each comes back as stored.
  const TItemPaths paths{{u"a.txt", u"sub\\\u00E9t\u00E9.dll", u"sub\\b\\c.txt", u"sub\\b\\d.txt",
                          u"sub\\e.txt", u"sub\\", u"\\x", u"x"},
                         {u"empty", u"sub\\also", u"sub\\b\\"}};
  const std::vector<std::uint8_t> bytes = EncodeItemPaths(paths);
  const std::optional<TItemPaths> read = Decoded(bytes, bytes.size(), 8);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->Items, paths.Items);
  EXPECT_EQ(read->EmptyFolders, paths.EmptyFolders);
  // The same bytes read for more items take the folders for items, and then run short.
  EXPECT_EQ(Decoded(bytes, bytes.size(), 11)->Items.back(), u"sub\\b\\");
  EXPECT_EQ(Decoded(bytes, bytes.size(), 11)->EmptyFolders.size(), 0u);
  EXPECT_FALSE(Decoded(bytes, bytes.size(), 12));
  EXPECT_FALSE(Decoded(bytes, bytes.size() - 1, 8)); // odd length
  EXPECT_FALSE(Decoded(bytes, bytes.size() - 2, 8)); // last NUL missing
  EXPECT_TRUE(TItemPathTable::Decode(nullptr, 0, 0));
  // An empty path is stored as read, and refused per item by the path rule.
  const std::vector<std::uint8_t> empty{0, 0};
  EXPECT_EQ(Decoded(empty, empty.size(), 1)->Items, std::vector<std::u16string>{u""});
}

TEST(ItemPathsTest, FoldersOutermostFirst) {
  EXPECT_EQ(FoldersOf(u"a\\b\\c.txt"), (std::vector<std::u16string_view>{u"a", u"a\\b"}));
  EXPECT_TRUE(FoldersOf(u"c.txt").empty());
}

} // namespace
} // namespace vexa
