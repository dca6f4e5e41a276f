#include "platform/folder_handle.h"

#include <sys/stat.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "platform/path_facts.h"

#include "pe/pe_test_util.h"

namespace vexa::platform {
namespace {

namespace fs = std::filesystem;
using Outcome = FolderHandle::Outcome;

// A destination holding a real folder "sub", and, outside it, a folder and a file that a
// planted link may lead to.
class FolderHandleTest : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(Root / "sub");
    fs::create_directories(Outside);
    pe::test::WriteAll(OutsideFile, {'o', 'u', 't'});
    std::string why;
    ASSERT_EQ(Destination.Open(Root, why), Outcome::Done) << why;
  }

  // Replaces what stands at Name in the destination by a link to Target.
  void PlantLink(const std::string& Name, const fs::path& Target) {
    fs::remove_all(Root / Name);
    fs::create_symlink(Target, Root / Name);
  }

  pe::test::ScratchDir Scratch;
  const fs::path Root = Scratch / "destination";
  const fs::path Outside = Scratch / "outside";
  const fs::path OutsideFile = Scratch / "outside.txt";
  FolderHandle Destination;
};

// Each time the folder was a real one when a check by path looked, and a link when the walk
// reached it.
TEST_F(FolderHandleTest, AFolderSwappedForALinkAfterTheCheckIsRefused) {
  const fs::path targets[] = {Outside, OutsideFile, Scratch / "nowhere"};
  for (const fs::path& target : targets) {
    SCOPED_TRACE(target);
    ASSERT_TRUE(fs::is_directory(fs::symlink_status(Root / "sub")));
    PlantLink("sub", target);
    FolderHandle sub;
    std::string why;
    EXPECT_EQ(sub.OpenIn(Destination, "sub", why), Outcome::Link);
    EXPECT_TRUE(fs::is_symlink(Root / "sub"));
    fs::remove(Root / "sub");
    fs::create_directory(Root / "sub");
  }
  EXPECT_TRUE(fs::is_empty(Outside));
  EXPECT_FALSE(fs::exists(Scratch / "nowhere"));
}

TEST_F(FolderHandleTest, FoldersAreMadeAndAFileInTheWayIsNoFolder) {
  FolderHandle made, sub;
  std::string why;
  ASSERT_EQ(made.OpenIn(Destination, "new", why), Outcome::Done) << why;
  EXPECT_TRUE(fs::is_directory(Root / "new"));
  EXPECT_EQ(made.Path(), Root / "new");
  ASSERT_EQ(sub.OpenIn(Destination, "sub", why), Outcome::Done) << why;

  pe::test::WriteAll(Root / "file", {1});
  EXPECT_EQ(made.OpenIn(Destination, "file", why), Outcome::Failed);
  EXPECT_NE(why, "");
}

// A folder held open is written into even when its path has come to lead through a link.
TEST_F(FolderHandleTest, AFileGoesIntoTheHeldFolderNotThroughALinkAtItsPath) {
  FolderHandle sub;
  std::string why;
  ASSERT_EQ(sub.OpenIn(Destination, "sub", why), Outcome::Done) << why;
  fs::rename(Root / "sub", Root / "moved");
  PlantLink("sub", Outside);
  FileHandle file = InvalidFileHandle;
  ASSERT_EQ(sub.OpenNewFile("a.txt", false, file, why), Outcome::Done) << why;
  EXPECT_EQ(WriteFile(file, "abc", 3), 3);
  CloseFile(file);
  EXPECT_EQ(pe::test::ReadAll(Root / "moved" / "a.txt"), (pe::test::Bytes{'a', 'b', 'c'}));
  EXPECT_TRUE(fs::is_empty(Outside));
  EXPECT_TRUE(sub.RemoveFile("a.txt"));
  EXPECT_FALSE(fs::exists(Root / "moved" / "a.txt"));
}

// A link at a file's place, to a file, to a folder or to nothing, is never written through:
// it is there already, and replacing it removes the link alone.
TEST_F(FolderHandleTest, ALinkAtAFilesPlaceIsReplacedNeverFollowed) {
  const fs::path targets[] = {OutsideFile, Outside, Scratch / "nowhere.txt"};
  for (const fs::path& target : targets) {
    SCOPED_TRACE(target);
    PlantLink("a.txt", target);
    FileHandle file = InvalidFileHandle;
    std::string why;
    EXPECT_EQ(Destination.OpenNewFile("a.txt", false, file, why), Outcome::Exists);
    EXPECT_TRUE(fs::is_symlink(Root / "a.txt"));
    ASSERT_EQ(Destination.OpenNewFile("a.txt", true, file, why), Outcome::Done) << why;
    EXPECT_EQ(WriteFile(file, "new", 3), 3);
    CloseFile(file);
    EXPECT_FALSE(fs::is_symlink(Root / "a.txt"));
    EXPECT_EQ(pe::test::ReadAll(Root / "a.txt"), (pe::test::Bytes{'n', 'e', 'w'}));
  }
  EXPECT_EQ(pe::test::ReadAll(OutsideFile), (pe::test::Bytes{'o', 'u', 't'}));
  EXPECT_TRUE(fs::is_empty(Outside));
  EXPECT_FALSE(fs::exists(Scratch / "nowhere.txt"));

  // A folder is no file to replace.
  FileHandle file = InvalidFileHandle;
  std::string why;
  EXPECT_EQ(Destination.OpenNewFile("sub", true, file, why), Outcome::Failed);
  EXPECT_TRUE(fs::is_directory(Root / "sub"));
}

// What the checks by path see before anything is written: a link is told apart from what it
// leads to, and one that leads nowhere is still a link.
TEST_F(FolderHandleTest, LookAtTellsALinkFromWhatItLeadsTo) {
  using Kind = PathFacts::Kind;
  pe::test::WriteAll(Root / "file.txt", {'a', 'b', 'c'});
  PlantLink("to-file", OutsideFile);
  PlantLink("to-folder", Outside);
  PlantLink("dangling", Scratch / "nothing");
  ASSERT_EQ(::mkfifo((Root / "fifo").c_str(), 0600), 0);
  const struct {
    const char* Name;
    Kind Leads;
    bool Link;
  } cases[] = {{"file.txt", Kind::File, false},   {"sub", Kind::Folder, false},
               {"to-file", Kind::File, true},     {"to-folder", Kind::Folder, true},
               {"dangling", Kind::Missing, true}, {"missing", Kind::Missing, false},
               {"fifo", Kind::Other, false}};
  for (const auto& c : cases) {
    const PathFacts facts = LookAt(Root / c.Name);
    EXPECT_EQ(facts.Leads, c.Leads) << c.Name;
    EXPECT_EQ(facts.Link, c.Link) << c.Name;
  }
  EXPECT_EQ(LookAt(Root / "to-file").Size, 3u);
  EXPECT_EQ(LookAt(Root / "file.txt" / "below").Leads, Kind::Missing);

  std::vector<fs::path> names;
  std::string why;
  ASSERT_TRUE(ListFolder(Root, names, why)) << why;
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<fs::path>{"dangling", "fifo", "file.txt", "sub", "to-file", "to-folder"}));
  EXPECT_FALSE(ListFolder(Root / "missing", names, why));
  EXPECT_FALSE(why.empty());
}

} // namespace
} // namespace vexa::platform
