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

TEST(SafeItemNameTest, OnlyPlainNamesStayInsideTheDestination) {
  for (const char* name : {"setup.exe", "a", ".hidden", "a..b", "name with spaces.txt"})
    EXPECT_TRUE(IsSafeItemFileName(name)) << name;
  for (const char* name : {"", "..", ".", "...", ". .", "..\\x", "C:\\x", "C:x", "\\x", "/x", "a/b",
                           "a\\b", "x:stream"})
    EXPECT_FALSE(IsSafeItemFileName(name)) << name;
}

} // namespace
} // namespace vexa
