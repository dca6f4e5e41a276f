#include "archive/archive_paths.h"

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

TEST(SafeItemPathTest, NamesThatStayInsideTheDestination) {
  for (const char* name : {"setup.exe", "a", ".hidden", "a..b", "name with spaces.txt", "a/b",
                           "a\\b", "sub\\inner.txt", "sub/deeper\\x", "..x\\y", "a.\\b",
                           "sub\\.hidden", " a\\b"})
    EXPECT_TRUE(IsSafeItemPath(name)) << name;
  for (const char* name :
       {"", "..", ".", "...", ". .", "..\\x", "C:\\x", "C:x", "\\x", "/x", "\\\\server\\x",
        "x:stream", "sub\\x:stream", "sub\\..\\..\\x", "sub/../x", "sub\\..", "sub\\.\\x",
        ".\\x", "...\\x", ". \\x", "a\\\\b", "a//b", "sub\\", "sub/", "a\\ \\b"})
    EXPECT_FALSE(IsSafeItemPath(name)) << name;
}

} // namespace
} // namespace vexa
