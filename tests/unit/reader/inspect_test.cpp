#include "reader/inspect.h"

#include <gtest/gtest.h>

#include <sstream>

#include "archive/item_paths.h"
#include "archive/vexa_header.h"
#include "streams/item_pipeline.h"
#include "support/tool_test_support.h"
#include "texts/ansi_text.h"
#include "texts/archive_texts.h"
#include "tool_base/item_checksums.h"
#include "tool_base/tool_error.h"

namespace vexa::tool::test {
namespace {

// Sizes around the copy buffer, compressible and not, and an empty file.
const std::map<std::string, Bytes>& Payload() {
  static const std::map<std::string, Bytes> files = {
      {"empty.dat", {}},
      {"one.bin", {0x5A}},
      {"noise.bin", RandomBytes(2 * CopyBufferSize + 5, 7)},
      {"readme.txt", CompressibleBytes(3 * CopyBufferSize - 1)},
  };
  return files;
}

// Compressed: every item alone; Solid: LZMA2 blocks, the packer's default.
enum class Kind { Stored, Compressed, Encrypted, CompressedAndEncrypted, Solid, SolidAndEncrypted };

bool IsEncrypted(Kind Packing) {
  return Packing == Kind::Encrypted || Packing == Kind::CompressedAndEncrypted ||
         Packing == Kind::SolidAndEncrypted;
}

bool IsSolid(Kind Packing) { return Packing == Kind::Solid || Packing == Kind::SolidAndEncrypted; }

class InspectTest : public ToolTest, public ::testing::WithParamInterface<Kind> {
protected:
  // Packs Payload() into out.exe as the parameter says; the item order is the map's.
  std::string PackPayload(Kind Packing) {
    std::vector<fs::path> inputs;
    for (const auto& [name, data] : Payload())
      inputs.push_back(Put("in/" + name, data));
    PackOptions o = Options(inputs);
    o.Store = Packing == Kind::Stored || Packing == Kind::Encrypted;
    o.Solid = IsSolid(Packing);
    if (IsEncrypted(Packing))
      o.Password.Text = Password;
    RunPackCommand(o);
    return Path("out.exe");
  }

  PasswordSource Given(const std::string& Text = Password) { return GivenPassword(Text); }

  // Damaged items named by `vexa verify`, and how many it counted.
  std::pair<std::size_t, std::string> Verify(const std::string& Archive) {
    std::ostringstream out;
    std::ostringstream err;
    const VerifyResult result = VerifyArchive(Archive, Given(), false, out, err);
    EXPECT_FALSE(result.DamagedOutsideItems) << err.str();
    return {result.DamagedItems, err.str()};
  }

  static constexpr char Password[] = "Sesame 42";
};

TEST_P(InspectTest, ExtractGivesBackEveryFileAndVerifyPassesIt) {
  const std::string packed = PackPayload(GetParam());
  // Built in place, the archive keeps the stub's image checksum, stale now: only an
  // archive that vexa packed promises a current one.
  BuildInPlace(StubPath(), packed, Path("in-place.exe"));
  const struct {
    std::string Archive;
    const char* Report;
    const char* ImageChecksum;
  } builds[] = {
      {packed, ": 4 item(s) OK, image checksum OK\n", "\"image_checksum\": \"ok\""},
      {Path("in-place.exe"),
       ": 4 item(s) OK (no checksums in this archive: stored items checked by size only); "
       "image checksum not checked (it does not fit the file, but this archive was not packed "
       "by vexa",
       "\"image_checksum\": \"not checked\""},
  };
  for (const auto& build : builds) {
    ExtractOptions options;
    options.Directory = Path("unpacked");
    options.Password = Given();
    std::ostringstream out, err;
    ExtractArchiveTo(build.Archive, options, out, err);
    for (const auto& [name, data] : Payload())
      EXPECT_EQ(ReadBytes(Dir / "unpacked" / name), data) << name << " from " << build.Archive;
    fs::remove_all(Dir / "unpacked");

    std::ostringstream report, json;
    EXPECT_TRUE(VerifyArchive(build.Archive, Given(), false, report, err).Passed()) << err.str();
    EXPECT_NE(report.str().find(build.Report), std::string::npos) << report.str();
    EXPECT_TRUE(VerifyArchive(build.Archive, Given(), true, json, err).Passed());
    EXPECT_NE(json.str().find("\"passed\": true"), std::string::npos) << json.str();
    EXPECT_NE(json.str().find(build.ImageChecksum), std::string::npos) << json.str();
    EXPECT_EQ(err.str(), "") << build.Archive;
  }
}

TEST_P(InspectTest, ListShowsEveryItemAndHowItIsStored) {
  const std::string archive = PackPayload(GetParam());
  std::ostringstream json, err;
  ListArchive(archive, true, json, err);
  const bool compressed = GetParam() == Kind::Compressed ||
                          GetParam() == Kind::CompressedAndEncrypted || IsSolid(GetParam());
  EXPECT_EQ(json.str().find("\"encrypted\"") != std::string::npos, IsEncrypted(GetParam()))
      << json.str();
  for (const auto& [name, data] : Payload())
    EXPECT_NE(
        json.str().find("{\"name\": \"" + name + "\", \"size\": " + std::to_string(data.size())),
        std::string::npos)
        << name << " in " << json.str();
  if (IsSolid(GetParam())) {
    // One block: the first item holds the stream of all four, the others continue it.
    EXPECT_NE(json.str().find("\"empty.dat\", \"size\": 0, \"stored\": "), std::string::npos);
    EXPECT_NE(json.str().find("\"method\": \"lzma2\", \"block\": 1"), std::string::npos);
    for (const char* name : {"noise.bin", "one.bin", "readme.txt"})
      EXPECT_NE(json.str().find(std::string("\"") + name +
                                "\", \"size\": " + std::to_string(Payload().at(name).size()) +
                                ", \"stored\": 0, \"compressed\": true, \"method\": \"lzma2+\", "
                                "\"block\": 1"),
                std::string::npos)
          << name << " in " << json.str();
  } else {
    // Noise is stored as it is even when compression is on: deflating it would not help.
    EXPECT_NE(json.str().find("\"noise.bin\", \"size\": 122885, \"stored\": 122885, "
                              "\"compressed\": false, \"method\": \"stored\", \"block\": 2"),
              std::string::npos)
        << json.str();
  }
  EXPECT_EQ(json.str().find("\"compressed\": true") != std::string::npos, compressed);

  std::ostringstream table;
  ListArchive(archive, false, table, err);
  EXPECT_NE(table.str().find("4 item(s)"), std::string::npos) << table.str();
  if (IsSolid(GetParam())) {
    // The block's stream stands on its first item, and so does the block's ratio: with one
    // block, the whole archive's.
    const std::string text = table.str();
    const auto wordOf = [&](std::size_t LineAt, std::size_t Nth) {
      std::istringstream line(text.substr(LineAt, text.find('\n', LineAt) - LineAt));
      std::string word;
      for (std::size_t i = 0; i < Nth; ++i)
        line >> word;
      return word;
    };
    EXPECT_EQ(wordOf(text.find("empty.dat"), 4), wordOf(text.find("4 item(s)"), 5)) << text;
  }
  EXPECT_NE(json.str().find("\"item_resources_past_header\": 0,"), std::string::npos);
  EXPECT_EQ(err.str(), "");
}

TEST_P(InspectTest, VerifyNamesEachDamagedItem) {
  if (IsSolid(GetParam()))
    return; // its items share one resource: InspectRefusalTest.ADamagedBlockNamesItsItems
  const std::string archive = PackPayload(GetParam());
  // Items in map order: 1 empty.dat, 2 noise.bin, 3 one.bin, 4 readme.txt.
  RewriteArchive(archive, Path("damaged.exe"), [&](std::vector<pe::Resource>& resources) {
    Bytes noise = ResourceBytes(archive, "ITEM2");
    noise[noise.size() / 2] ^= 0x01;
    SetData(*FindResource(resources, "ITEM2"), noise);
    Bytes text = ResourceBytes(archive, "ITEM4");
    text.resize(text.size() / 2 / 8 * 8);
    SetData(*FindResource(resources, "ITEM4"), text);
    std::erase_if(resources, [](const pe::Resource& r) {
      return r.Name == pe::ResourceKey::FromName("ITEM3");
    });
  });
  const auto [damaged, report] = Verify(Path("damaged.exe"));
  EXPECT_EQ(damaged, 3u) << report;
  EXPECT_NE(report.find("item 2 (noise.bin)"), std::string::npos) << report;
  EXPECT_NE(report.find("item 3 (one.bin) is missing"), std::string::npos) << report;
  EXPECT_NE(report.find("item 4 (readme.txt)"), std::string::npos) << report;
  EXPECT_EQ(report.find("empty.dat"), std::string::npos) << report;
  std::ostringstream json, jsonErr;
  EXPECT_FALSE(VerifyArchive(Path("damaged.exe"), Given(), true, json, jsonErr).Passed());
  EXPECT_NE(json.str().find("\"passed\": false"), std::string::npos) << json.str();
  EXPECT_NE(json.str().find("{\"item\": 3, \"name\": \"one.bin\", \"problem\": \"is missing or "
                            "shorter than its stored size\"}"),
            std::string::npos)
      << json.str();
  EXPECT_EQ(jsonErr.str(), "");

  // Extracting stops at the first damaged item and keeps no file that is not the item.
  ExtractOptions options;
  options.Directory = Path("unpacked");
  options.Password = Given();
  std::ostringstream out, err;
  EXPECT_THROW(ExtractArchiveTo(Path("damaged.exe"), options, out, err), ToolError);
  EXPECT_TRUE(fs::exists(Dir / "unpacked" / "empty.dat"));
  EXPECT_FALSE(fs::exists(Dir / "unpacked" / "noise.bin"));
}

INSTANTIATE_TEST_SUITE_P(EveryKind, InspectTest,
                         ::testing::Values(Kind::Stored, Kind::Compressed, Kind::Encrypted,
                                           Kind::CompressedAndEncrypted, Kind::Solid,
                                           Kind::SolidAndEncrypted));

using InspectRefusalTest = ToolTest;

TEST_F(InspectRefusalTest, AWrongOrMissingPasswordReadsNothing) {
  PackOptions o = Options({Put("a.txt", Text("secret text"))});
  o.Password.Text = "right";
  RunPackCommand(o);
  const PasswordSource wrong = GivenPassword("Right");
  std::ostringstream out, err;
  EXPECT_THROW(VerifyArchive(Path("out.exe"), wrong, false, out, err), ToolError);
  ExtractOptions options;
  options.Directory = Path("unpacked");
  options.Password = wrong;
  EXPECT_THROW(ExtractArchiveTo(Path("out.exe"), options, out, err), ToolError);
  EXPECT_FALSE(fs::exists(Dir / "unpacked"));
  // No terminal to ask on and no other source: refused rather than read without one.
  const ScopedEnv none("VEXA_PASSWORD", nullptr);
  EXPECT_THROW(VerifyArchive(Path("out.exe"), {}, false, out, err), ToolError);
}

// Copies Archive to Output with its first items renamed to Names, as vexa pack would never
// name them.
void RenameItems(const std::string& Archive, const std::string& Output,
                 const std::vector<std::string>& Names) {
  RewriteArchive(Archive, Output, [&](std::vector<pe::Resource>& resources) {
    Bytes header = ResourceBytes(Archive, "HEADER");
    for (std::size_t i = 0; i < Names.size(); ++i) {
      const auto field = header.begin() + ArchiveLayout::BlockSize +
                         i * ArchiveLayout::ItemRecordSize + ArchiveLayout::FileNameOffset;
      std::fill_n(field, ArchiveLayout::NameFieldSize, 0);
      std::copy(Names[i].begin(), Names[i].end(), field);
    }
    SetData(*FindResource(resources, "HEADER"), header);
  });
}

TEST_F(InspectRefusalTest, ExtractRefusesUnsafeNamesAndExistingFilesBeforeWritingAny) {
  RunPackCommand(Options({Put("a.txt", Text("first")), Put("b.txt", Text("second"))}));
  ExtractOptions options;
  options.Directory = Path("unpacked");
  std::ostringstream out, err;

  const std::vector<std::vector<std::string>> hostile = {
      {"a.txt", "..\\b.txt"},
      {"a.txt", "C:\\b.txt"},
      {"a.txt", "sub\\.\\b.txt"},
      {"a.txt", ".."},
      {"a.txt", "sub\\\\b.txt"},
      {"sub/CON", "b.txt"},
      // one file on Windows
      {"a.txt", "A.TXT"},
      {"sub\\a.txt", "SUB/A.TXT"},
      // a file where a folder goes
      {"a.txt", "A.TXT\\b.txt"},
      {"sub\\a.txt", "Sub"},
  };
  for (const std::vector<std::string>& names : hostile) {
    RenameItems(Path("out.exe"), Path("hostile.exe"), names);
    EXPECT_THROW(ExtractArchiveTo(Path("hostile.exe"), options, out, err), ToolError) << names[1];
    EXPECT_FALSE(fs::exists(Dir / "unpacked")) << names[1];
  }

  // A destination that cannot be made, below a file, is named in the refusal.
  options.Directory = Path("a.txt/unpacked");
  try {
    ExtractArchiveTo(Path("out.exe"), options, out, err);
    ADD_FAILURE() << "extracted below a file";
  } catch (const ToolError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot create " + options.Directory), std::string::npos)
        << e.what();
  }
  options.Directory = Path("unpacked");

  fs::create_directories(Dir / "unpacked");
  WriteBytes(Dir / "unpacked" / "b.txt", Text("mine"));
  EXPECT_THROW(ExtractArchiveTo(Path("out.exe"), options, out, err), ToolError);
  EXPECT_FALSE(fs::exists(Dir / "unpacked" / "a.txt"));
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "b.txt"), Text("mine"));

  // --force replaces a link instead of writing through it.
  WriteBytes(Dir / "outside.txt", Text("outside"));
  fs::create_symlink(Dir / "outside.txt", Dir / "unpacked" / "a.txt");
  options.Force = true;
  ExtractArchiveTo(Path("out.exe"), options, out, err);
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "a.txt"), Text("first"));
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "b.txt"), Text("second"));
  EXPECT_EQ(ReadBytes(Dir / "outside.txt"), Text("outside"));
  EXPECT_FALSE(fs::is_symlink(Dir / "unpacked" / "a.txt"));
}

TEST_F(InspectRefusalTest, ItemsInSubfoldersGoIntoThemButNeverThroughALink) {
  RunPackCommand(Options({Put("a.txt", Text("first")), Put("b.txt", Text("second"))}));
  RenameItems(Path("out.exe"), Path("sub.exe"), {"sub\\a.txt", "SUB/deeper/b.txt"});
  std::ostringstream table, json, out, err;
  ListArchive(Path("sub.exe"), false, table, err);
  ListArchive(Path("sub.exe"), true, json, err);
  EXPECT_NE(table.str().find("\nsub\\a.txt "), std::string::npos) << table.str();
  EXPECT_NE(json.str().find("\"SUB/deeper/b.txt\""), std::string::npos) << json.str();
  EXPECT_TRUE(VerifyArchive(Path("sub.exe"), {}, false, out, err).Passed()) << err.str();

  ExtractOptions options;
  options.Directory = Path("unpacked");
  ExtractArchiveTo(Path("sub.exe"), options, out, err);
  // One folder for both, spelled as the first item spells it, as Windows would have it.
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "sub" / "a.txt"), Text("first"));
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "sub" / "deeper" / "b.txt"), Text("second"));
  EXPECT_FALSE(fs::exists(Dir / "unpacked" / "SUB"));
  EXPECT_THROW(ExtractArchiveTo(Path("sub.exe"), options, out, err), ToolError);

  // --force replaces a link in place of a file...
  WriteBytes(Dir / "outside.txt", Text("outside"));
  fs::remove(Dir / "unpacked" / "sub" / "a.txt");
  fs::create_symlink(Dir / "outside.txt", Dir / "unpacked" / "sub" / "a.txt");
  options.Force = true;
  ExtractArchiveTo(Path("sub.exe"), options, out, err);
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "sub" / "a.txt"), Text("first"));
  EXPECT_FALSE(fs::is_symlink(Dir / "unpacked" / "sub" / "a.txt"));
  EXPECT_EQ(ReadBytes(Dir / "outside.txt"), Text("outside"));

  // ...but a link or a file in place of a folder refuses everything, --force or not.
  WriteBytes(Dir / "unpacked" / "sub" / "a.txt", Text("mine"));
  fs::create_directories(Dir / "elsewhere");
  fs::remove_all(Dir / "unpacked" / "sub" / "deeper");
  fs::create_directory_symlink(Dir / "elsewhere", Dir / "unpacked" / "sub" / "deeper");
  try {
    ExtractArchiveTo(Path("sub.exe"), options, out, err);
    ADD_FAILURE() << "written through a link";
  } catch (const ToolError& e) {
    EXPECT_NE(std::string(e.what()).find("item 2 (SUB/deeper/b.txt)"), std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(fs::is_empty(Dir / "elsewhere"));
  fs::remove(Dir / "unpacked" / "sub" / "deeper");
  WriteBytes(Dir / "unpacked" / "sub" / "deeper", Text("a file"));
  EXPECT_THROW(ExtractArchiveTo(Path("sub.exe"), options, out, err), ToolError);
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "sub" / "a.txt"), Text("mine"));
}

// A tree goes out as it came in: folders three deep, names past 32 bytes and beyond the
// code page, a file packed through a link, and an empty folder; a link planted in the
// destination where a folder goes refuses everything.
TEST_F(InspectRefusalTest, ATreeComesBackWholeWithItsPathsAndEmptyFolders) {
  const std::map<std::string, Bytes> files = {
      {"Microsoft.Extensions.DependencyInjection.dll", RandomBytes(5000, 3)},
      {"platforms/qwindows.dll", CompressibleBytes(40000)},
      {"платформы/深い/フォルダ/設定.json", Text("{}")},
      {"readme.txt", Text("read me")},
  };
  for (const auto& [path, data] : files)
    Put("app/" + path, data);
  fs::create_directories(Dir / "app" / "logs" / "空");
  WriteBytes(Dir / "target.bin", Text("linked"));
  fs::create_symlink(Dir / "target.bin", Dir / "app" / "link.bin");
  RunPackCommand(Options({Dir / "app"}));

  std::ostringstream table, json, out, err;
  ListArchive(Path("out.exe"), false, table, err);
  ListArchive(Path("out.exe"), true, json, err);
  EXPECT_NE(table.str().find("\nплатформы\\深い\\フォルダ\\設定.json "), std::string::npos)
      << table.str();
  EXPECT_NE(table.str().find("\nlogs\\空\\ (empty folder)\n"), std::string::npos) << table.str();
  EXPECT_NE(json.str().find("{\"name\": \"платформы\\\\深い\\\\フォルダ\\\\設定.json\", "
                            "\"file_name\": \"~5.json\""),
            std::string::npos)
      << json.str();
  EXPECT_NE(json.str().find("\"empty_folders\": [\"logs\\\\空\"]"), std::string::npos)
      << json.str();
  EXPECT_TRUE(VerifyArchive(Path("out.exe"), {}, false, out, err).Passed()) << err.str();
  EXPECT_EQ(err.str(), "");

  ExtractOptions options;
  options.Directory = Path("unpacked");
  ExtractArchiveTo(Path("out.exe"), options, out, err);
  for (const auto& [path, data] : files)
    EXPECT_EQ(ReadBytes(Dir / "unpacked" / path), data) << path;
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "link.bin"), Text("linked"));
  EXPECT_FALSE(fs::is_symlink(Dir / "unpacked" / "link.bin"));
  EXPECT_TRUE(fs::is_directory(Dir / "unpacked" / "logs" / "空"));

  options.Force = true;
  fs::create_directories(Dir / "elsewhere");
  for (const char* folder : {"logs", "платформы/深い"}) {
    SCOPED_TRACE(folder);
    fs::remove_all(Dir / "unpacked");
    fs::create_directories((Dir / "unpacked" / folder).parent_path());
    fs::create_directory_symlink(Dir / "elsewhere", Dir / "unpacked" / folder);
    try {
      ExtractArchiveTo(Path("out.exe"), options, out, err);
      ADD_FAILURE() << "written through a link";
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find("would be written through the link"), std::string::npos)
          << e.what();
    }
    EXPECT_TRUE(fs::is_empty(Dir / "elsewhere"));
  }
}

// A link planted once extract has checked every target (here while it asks for the
// password), where a folder or a file goes: refused, and nothing is written outside.
TEST_F(InspectRefusalTest, ALinkPlantedWhileExtractRunsIsNeverWrittenThrough) {
  Put("in/sub/a.txt", Text("first"));
  Put("in/b.txt", Text("second"));
  PackOptions o = Options({Dir / "in"});
  o.Password.Text = "pass";
  RunPackCommand(o);
  WriteBytes(Dir / "outside.txt", Text("outside"));
  fs::create_directories(Dir / "elsewhere");
  struct Case {
    const char* Place; // in the destination
    const char* Target;
    const char* Refusal;
  };
  const Case cases[] = {
      {"sub", "elsewhere", "would be written through the link"},
      {"sub", "outside.txt", "would be written through the link"},
      {"sub", "nowhere", "would be written through the link"},
      {"b.txt", "outside.txt", "b.txt exists; use --force to overwrite"},
      {"b.txt", "elsewhere", "b.txt exists; use --force to overwrite"},
      {"b.txt", "nowhere", "b.txt exists; use --force to overwrite"},
  };
  ExtractOptions options;
  options.Directory = Path("unpacked");
  for (const bool force : {false, true})
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.Place) + " -> " + c.Target + (force ? " with --force" : ""));
      fs::remove_all(Dir / "unpacked");
      options.Force = force;
      options.Password = [&](unsigned) {
        fs::create_directories(Dir / "unpacked");
        fs::create_symlink(Dir / c.Target, Dir / "unpacked" / c.Place);
        return std::string("pass");
      };
      std::ostringstream out, err;
      const bool folder = std::string(c.Place) == "sub";
      try {
        ExtractArchiveTo(Path("out.exe"), options, out, err);
        // --force replaces a link where a file goes, and only the link.
        EXPECT_TRUE(force && !folder) << "written with a link in the way";
        EXPECT_EQ(ReadBytes(Dir / "unpacked" / "b.txt"), Text("second"));
      } catch (const ToolError& e) {
        EXPECT_FALSE(force && !folder) << e.what();
        EXPECT_NE(std::string(e.what()).find(c.Refusal), std::string::npos) << e.what();
      }
      EXPECT_EQ(ReadBytes(Dir / "outside.txt"), Text("outside"));
      EXPECT_TRUE(fs::is_empty(Dir / "elsewhere"));
      EXPECT_FALSE(fs::exists(Dir / "nowhere"));
    }
}

// ITEMPATHS as a hostile builder may write it: extract refuses before writing anything,
// anywhere, and verify names the item; an unsafe empty folder is left unmade; a damaged
// resource is named with the items it leaves without a path.
TEST_F(InspectRefusalTest, HostileItemPathsWriteNothingOutside) {
  Put("in/a.txt", Text("first"));
  Put("in/sub/b.txt", Text("second"));
  RunPackCommand(Options({Dir / "in"}));
  const auto withPaths = [&](const Bytes& Paths) {
    RewriteArchive(Path("out.exe"), Path("hostile.exe"), [&](std::vector<pe::Resource>& r) {
      SetData(*FindResource(r, "ITEMPATHS"), Paths);
    });
  };
  struct Case {
    std::vector<std::u16string> Items;
    const char* Problem; // as verify reports it
  };
  const Case cases[] = {
      {{u"a.txt", u"..\\b.txt"}, "item 2 (..\\b.txt) has a path the extractor refuses"},
      {{u"a.txt", u"sub\\..\\..\\b.txt"}, "item 2 (sub\\..\\..\\b.txt) has a path"},
      {{u"C:\\b.txt", u"b.txt"}, "item 1 (C:\\b.txt) has a path"},
      {{u"\\b.txt", u"a.txt"}, "item 1 (\\b.txt) has a path"},
      {{u"a.txt", u"sub/../../b.txt"}, "item 2 (sub/../../b.txt) has a path"},
      {{u"a.txt", u"sub\\lpt1.txt"}, "item 2 (sub\\lpt1.txt) has a path"},
      {{u"a.txt", u"b.txt:stream"}, "item 2 (b.txt:stream) has a path"},
      {{u"a.txt", u"A.TXT"}, nullptr},
      {{u"a.txt", u"a.txt\\b.txt"}, nullptr},
  };
  ExtractOptions options;
  options.Directory = Path("deep/unpacked");
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8FromUtf16(c.Items[1]));
    withPaths(EncodeItemPaths({c.Items, {}}));
    std::ostringstream out, err;
    EXPECT_THROW(ExtractArchiveTo(Path("hostile.exe"), options, out, err), ToolError);
    EXPECT_FALSE(fs::exists(Dir / "deep"));
    EXPECT_FALSE(fs::exists(Dir / "b.txt"));
    const VerifyResult verified = VerifyArchive(Path("hostile.exe"), {}, false, out, err);
    EXPECT_EQ(verified.Passed(), c.Problem == nullptr) << err.str();
    if (c.Problem) {
      EXPECT_NE(err.str().find(c.Problem), std::string::npos) << err.str();
    }
  }

  // Fewer paths than items, and a last path without its end.
  Bytes shortPaths = EncodeItemPaths({{u"a.txt"}, {}});
  Bytes unended = EncodeItemPaths({{u"a.txt", u"b.txt"}, {}});
  unended.resize(unended.size() - 2);
  for (const auto& [paths, why] :
       {std::pair{shortPaths, "ITEMPATHS is damaged: it holds paths for 1 of the 2 items, none "
                              "for item 2"},
        std::pair{unended, "it holds paths for 1 of the 2 items"}}) {
    withPaths(paths);
    std::ostringstream out, err;
    try {
      ExtractArchiveTo(Path("hostile.exe"), options, out, err);
      ADD_FAILURE() << "extracted with a damaged ITEMPATHS";
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(Dir / "deep"));
    EXPECT_EQ(VerifyArchive(Path("hostile.exe"), {}, false, out, err).PathProblems, 1u);
    EXPECT_NE(err.str().find(why), std::string::npos) << err.str();
  }

  // The items are safe, the folder is not: the items come out, the folder is not made.
  withPaths(EncodeItemPaths({{u"a.txt", u"sub\\b.txt"}, {u"..\\up", u"AUX"}}));
  std::ostringstream out, err;
  ExtractArchiveTo(Path("hostile.exe"), options, out, err);
  EXPECT_EQ(ReadBytes(Dir / "deep" / "unpacked" / "sub" / "b.txt"), Text("second"));
  EXPECT_FALSE(fs::exists(Dir / "deep" / "up"));
  EXPECT_FALSE(fs::exists(Dir / "deep" / "unpacked" / "AUX"));
  EXPECT_NE(err.str().find("the empty folder ..\\up would not be a folder inside"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(VerifyArchive(Path("hostile.exe"), {}, false, out, err).PathProblems, 2u);
}

// A Russian archive's names and password are in Windows-1251: vexa reads them back as the
// users' Windows would, and compares names as it would.
TEST_F(InspectRefusalTest, ARussianArchiveIsReadInItsCodePage) {
  PackOptions o = Options({Put("файл.txt", Text("first")), Put("Ёлка.txt", Text("second"))});
  o.Texts.Language = "ru";
  o.Password.Text = "пароль";
  RunPackCommand(o);
  const PasswordSource russian = GivenPassword("пароль");
  const PasswordSource upper = GivenPassword("ПАРОЛЬ");
  std::ostringstream out, err, json;
  EXPECT_TRUE(VerifyArchive(Path("out.exe"), russian, false, out, err).Passed()) << err.str();
  EXPECT_THROW(VerifyArchive(Path("out.exe"), upper, false, out, err), ToolError);
  ListArchive(Path("out.exe"), true, json, err);
  EXPECT_NE(json.str().find("\"code_page\": 1251,\n  \"code_page_recorded\": true"),
            std::string::npos)
      << json.str();
  EXPECT_NE(json.str().find("{\"name\": \"Ёлка.txt\""), std::string::npos) << json.str();

  ExtractOptions options;
  options.Directory = Path("unpacked");
  options.Password = russian;
  ExtractArchiveTo(Path("out.exe"), options, out, err);
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "файл.txt"), Text("first"));
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "Ёлка.txt"), Text("second"));

  // Names as another builder may write them: one folder for both, spelled as the first item
  // spells it; ч and Ч are one letter, я and џ (ÿ and Ÿ in Windows-1252) two.
  RenameItems(Path("out.exe"), Path("sub.exe"),
              {"\xE8\xEC\xFF\\\xF7\xE0\xE9.txt", "\xC8\xCC\xDF/\x9F.txt"});
  options.Directory = Path("sub");
  ExtractArchiveTo(Path("sub.exe"), options, out, err);
  EXPECT_EQ(ReadBytes(Dir / "sub" / "имя" / "чай.txt"), Text("first"));
  EXPECT_EQ(ReadBytes(Dir / "sub" / "имя" / "џ.txt"), Text("second"));
  RenameItems(Path("out.exe"), Path("same.exe"), {"\xF7\xE0\xE9.txt", "\xD7\xC0\xC9.TXT"});
  options.Directory = Path("same");
  try {
    ExtractArchiveTo(Path("same.exe"), options, out, err);
    ADD_FAILURE() << "two items written to one file";
  } catch (const ToolError& e) {
    EXPECT_NE(std::string(e.what()).find(
                  "item 2 (ЧАЙ.TXT) and item 1 (чай.txt) would be the same file on Windows"),
              std::string::npos)
        << e.what();
  }
  RenameItems(Path("out.exe"), Path("apart.exe"), {"\xFF.txt", "\x9F.txt"});
  options.Directory = Path("apart");
  ExtractArchiveTo(Path("apart.exe"), options, out, err);
  EXPECT_EQ(ReadBytes(Dir / "apart" / "я.txt"), Text("first"));
  EXPECT_EQ(ReadBytes(Dir / "apart" / "џ.txt"), Text("second"));

  // An archive that does not record its code page is read in Windows-1252, as before.
  RewriteArchive(Path("out.exe"), Path("unrecorded.exe"), [](std::vector<pe::Resource>& r) {
    std::erase_if(r, [](const pe::Resource& Resource) {
      return Resource.Name == pe::ResourceKey::FromName(CodePageResourceName);
    });
  });
  std::ostringstream table;
  ListArchive(Path("unrecorded.exe"), false, table, err);
  EXPECT_NE(
      table.str().find("Code page:   Windows-1252 (assumed: the archive does not record it)\n"),
      std::string::npos)
      << table.str();
  EXPECT_NE(table.str().find("\nôàéë.txt "), std::string::npos) << table.str();
  try {
    VerifyArchive(Path("unrecorded.exe"), russian, false, out, err);
    ADD_FAILURE() << "a Russian password taken for a Windows-1252 archive";
  } catch (const ToolError& e) {
    EXPECT_NE(std::string(e.what()).find("outside the Windows-1252 code page"), std::string::npos)
        << e.what();
  }
}

TEST_F(InspectRefusalTest, WithoutChecksumsAFlippedStoredByteGoesUnseenButLengthsStillCount) {
  PackOptions o = Options({Put("a.bin", RandomBytes(1000, 3))});
  o.Store = true;
  RunPackCommand(o);
  const auto rewrite = [&](const std::string& Output, std::size_t Keep) {
    RewriteArchive(Path("out.exe"), Path(Output), [&](std::vector<pe::Resource>& resources) {
      std::erase_if(resources, [](const pe::Resource& r) {
        return r.Type == pe::ResourceKey::FromName(ChecksumsType);
      });
      Bytes item = ResourceBytes(Path("out.exe"), "ITEM1");
      item[10] ^= 0xFF;
      item.resize(Keep);
      SetData(*FindResource(resources, "ITEM1"), item);
    });
  };
  std::ostringstream out, err;
  rewrite("flipped.exe", 1000);
  EXPECT_TRUE(VerifyArchive(Path("flipped.exe"), {}, false, out, err).Passed());
  EXPECT_NE(out.str().find("no checksums"), std::string::npos) << out.str();
  rewrite("short.exe", 999);
  EXPECT_EQ(VerifyArchive(Path("short.exe"), {}, false, out, err).DamagedItems, 1u);
  EXPECT_NE(err.str().find("item 1 (a.bin) gives 999 bytes instead of 1000"), std::string::npos)
      << err.str();
}

// A block whose stream or records are damaged: verify names the item where reading stopped
// and every later item of the block, which it never reached; extract stops at that item,
// keeps the items before it whole and drops its file.
TEST_F(InspectRefusalTest, ADamagedBlockNamesItsItems) {
  const std::map<std::string, Bytes> files = {{"a.txt", CompressibleBytes(100000)},
                                              {"b.bin", RandomBytes(5000, 4)},
                                              {"c.txt", CompressibleBytes(70000)},
                                              {"d.txt", CompressibleBytes(3000)}};
  std::vector<fs::path> inputs;
  for (const auto& [name, data] : files)
    inputs.push_back(Put("in/" + name, data));
  RunPackCommand(Options(inputs));
  const Bytes header = ResourceBytes(Path("out.exe"), "HEADER");
  const Bytes stream = ResourceBytes(Path("out.exe"), "ITEM1");
  const auto record = [](Bytes& Header, std::size_t Item, std::size_t Offset) {
    return Header.begin() + 656 + 81 * static_cast<std::ptrdiff_t>(Item) +
           static_cast<std::ptrdiff_t>(Offset);
  };
  const auto addToField = [&](Bytes& Header, std::size_t Item, std::size_t Offset, int Delta) {
    const auto at = record(Header, Item, Offset);
    std::uint32_t value =
        static_cast<std::uint32_t>(at[0] | at[1] << 8 | at[2] << 16 | at[3] << 24);
    value += static_cast<std::uint32_t>(Delta);
    for (int i = 0; i < 4; ++i)
      at[i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  constexpr std::size_t Method = 64, Original = 73, Stored = 77;
  ASSERT_EQ(header[656 + Method], imLzma2);
  ASSERT_EQ(header[656 + 3 * 81 + Method], imLzma2Continued);

  const struct {
    const char* Name;
    std::function<void(Bytes& Header, Bytes& Stream)> Damage;
    std::size_t FirstDamaged; // from 1; 0: wherever the damage takes effect
    const char* Problem;      // of the first damaged item
  } cases[] = {
      {"a byte flipped", [](Bytes&, Bytes& S) { S[S.size() / 2] ^= 0x55; }, 0, "is damaged"},
      {"cut short", [](Bytes&, Bytes& S) { S.resize(S.size() / 2); }, 0, "is damaged"},
      {"more bytes than the items", [&](Bytes& H, Bytes&) { addToField(H, 3, Original, -1); }, 4,
       "is damaged: corrupt compressed data"},
      {"fewer bytes than the items", [&](Bytes& H, Bytes&) { addToField(H, 3, Original, 1); }, 4,
       "is damaged: corrupt compressed data"},
      {"a checksum mismatch", [](Bytes&, Bytes& S) { S.back() ^= 0x01; }, 4,
       "is damaged: corrupt compressed data"},
      {"a byte after the checksum",
       [&](Bytes& H, Bytes& S) {
         S.push_back(0);
         addToField(H, 0, Stored, 1);
       },
       4, "is damaged: corrupt compressed data"},
      {"no LZMA2 item before the continuing ones",
       [&](Bytes& H, Bytes&) { *record(H, 0, Method) = imStored; }, 1, "gives "},
      {"stored data on a continuing item", [&](Bytes& H, Bytes&) { addToField(H, 2, Stored, 7); },
       1, "is damaged: item 3 (c.txt), which continues its block, has stored data of its own"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes damagedHeader = header;
    Bytes damagedStream = stream;
    c.Damage(damagedHeader, damagedStream);
    RewriteArchive(Path("out.exe"), Path("damaged.exe"), [&](std::vector<pe::Resource>& r) {
      SetData(*FindResource(r, "HEADER"), damagedHeader);
      SetData(*FindResource(r, "ITEM1"), damagedStream);
    });
    std::ostringstream out, err, json;
    const VerifyResult result = VerifyArchive(Path("damaged.exe"), {}, false, out, err);
    const std::vector<std::string> names = {"a.txt", "b.bin", "c.txt", "d.txt"};
    const auto named = [&](std::size_t Item) {
      return err.str().find("item " + std::to_string(Item) + " (" + names[Item - 1] + ")") !=
             std::string::npos;
    };
    std::size_t first = 1;
    while (first < 4 && !named(first))
      ++first;
    // Wherever the damage shows, the block's last item is never read whole.
    EXPECT_TRUE(named(4)) << err.str();
    if (c.FirstDamaged) {
      EXPECT_EQ(first, c.FirstDamaged) << err.str();
      EXPECT_EQ(result.DamagedItems, 5 - first) << err.str();
    }
    EXPECT_NE(err.str().find("item " + std::to_string(first) + " (" + names[first - 1] + ") " +
                             c.Problem),
              std::string::npos)
        << err.str();
    VerifyArchive(Path("damaged.exe"), {}, true, json, err);
    EXPECT_NE(json.str().find("{\"item\": 4, \"name\": \"d.txt\""), std::string::npos)
        << json.str();

    ExtractOptions options;
    options.Directory = Path("unpacked");
    try {
      ExtractArchiveTo(Path("damaged.exe"), options, out, err);
      ADD_FAILURE() << "extracted a damaged block";
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find("item " + std::to_string(first) + " ("),
                std::string::npos)
          << e.what();
    }
    for (std::size_t i = 1; i <= 4; ++i) {
      const fs::path file = Dir / "unpacked" / names[i - 1];
      if (i < first)
        EXPECT_EQ(ReadBytes(file), files.at(names[i - 1])) << file;
      else
        EXPECT_FALSE(fs::exists(file)) << file;
    }
    fs::remove_all(Dir / "unpacked");
  }
}

// Where a byte of a packed archive is flipped outside its items: the file offset, found in
// the archive's own headers.
struct OutsideItems {
  const char* Where;
  std::function<std::size_t(const pe::PeImage&)> Offset;
};

TEST_F(InspectRefusalTest, AByteFlippedOutsideTheItemsFailsVerifyAndExtract) {
  const Bytes payload = CompressibleBytes(4000);
  RunPackCommand(Options({Put("a.txt", payload)}));
  const Bytes packed = ReadBytes(Path("out.exe"));
  const pe::PeImage image = pe::PeImage::Parse(packed);
  const OutsideItems places[] = {
      {"the stub's code",
       [](const pe::PeImage& Image) {
         for (const pe::Section& section : Image.Sections())
           if (section.Characteristics & 0x20) // IMAGE_SCN_CNT_CODE
             return std::size_t{section.PointerToRawData + 0x200};
         ADD_FAILURE() << "no code section";
         return std::size_t{0};
       }},
      {"the version resource",
       [](const pe::PeImage& Image) {
         for (const pe::ResourceEntry& entry : Image.Entries())
           if (entry.Type == pe::ResourceKey::FromId(16)) // RT_VERSION
             return static_cast<std::size_t>(entry.Data.data() + 40 - Image.Bytes().data());
         ADD_FAILURE() << "no version resource";
         return std::size_t{0};
       }},
      {"the file header's time stamp",
       [](const pe::PeImage& Image) { return std::size_t{Image.Headers().PeOffset + 8}; }},
  };
  std::ostringstream out, err;
  ASSERT_TRUE(VerifyArchive(Path("out.exe"), {}, false, out, err).Passed()) << err.str();
  EXPECT_NE(out.str().find("1 item(s) OK, image checksum OK"), std::string::npos) << out.str();
  for (const OutsideItems& place : places) {
    Bytes flipped = packed;
    flipped.at(place.Offset(image)) ^= 0x10;
    WriteBytes(Dir / "flipped.exe", flipped);
    std::ostringstream flippedOut, flippedErr;
    const VerifyResult result =
        VerifyArchive(Path("flipped.exe"), {}, false, flippedOut, flippedErr);
    EXPECT_EQ(result.DamagedItems, 0u) << place.Where;
    EXPECT_TRUE(result.DamagedOutsideItems) << place.Where;
    EXPECT_NE(flippedErr.str().find("damaged outside its items"), std::string::npos)
        << place.Where << ": " << flippedErr.str();
    EXPECT_EQ(flippedOut.str(), "") << place.Where;

    ExtractOptions options;
    options.Directory = Path("unpacked");
    try {
      ExtractArchiveTo(Path("flipped.exe"), options, flippedOut, flippedErr);
      ADD_FAILURE() << "extracted with " << place.Where << " changed";
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find(": damaged: the image checksum is 0x"),
                std::string::npos)
          << e.what();
    }
    EXPECT_FALSE(fs::exists(Dir / "unpacked")) << place.Where;
  }

  // Without a checksum in the header nothing outside the items can be judged.
  Bytes unchecked = packed;
  std::fill_n(unchecked.begin() + image.Headers().OptionalHeaderOffset + 64, 4, 0);
  unchecked.at(places[0].Offset(image)) ^= 0x10;
  WriteBytes(Dir / "unchecked.exe", unchecked);
  std::ostringstream uncheckedOut;
  EXPECT_TRUE(VerifyArchive(Path("unchecked.exe"), {}, false, uncheckedOut, err).Passed());
  EXPECT_NE(uncheckedOut.str().find("image checksum not checked"), std::string::npos)
      << uncheckedOut.str();
}

// A licence that a person must accept: the header block's byte that other builders leave 0
// refuses the stub's unattended switches, and list says which an archive does.
TEST_F(InspectRefusalTest, ListShowsWhetherTheArchiveTakesUnattendedSwitches) {
  for (const bool refuse : {false, true}) {
    PackOptions o = Options({Put("setup.exe", Text("MZ"))});
    o.NoUnattended = refuse;
    RunPackCommand(o);
    EXPECT_EQ(ResourceBytes(Path("out.exe"), "HEADER").at(ArchiveLayout::UnattendedOffset),
              refuse ? ArchiveLayout::RefuseUnattended : 0);
    std::ostringstream table, json, err;
    ListArchive(Path("out.exe"), false, table, err);
    ListArchive(Path("out.exe"), true, json, err);
    EXPECT_NE(table.str().find(refuse ? "Unattended:  refused (/S, /passive and /D= end with"
                                      : "Unattended:  /S, /passive and /D= accepted"),
              std::string::npos)
        << table.str();
    EXPECT_NE(json.str().find(refuse ? "\"unattended\": false," : "\"unattended\": true,"),
              std::string::npos)
        << json.str();
  }
}

TEST_F(InspectRefusalTest, AHeaderThatLostItsItemCountIsNoEmptyArchive) {
  RunPackCommand(Options({Put("a.txt", Text("first")), Put("b.txt", Text("second"))}));
  BuildInPlace(StubPath(), Path("out.exe"), Path("in-place.exe"));
  // Only the archive that vexa packed can be told damaged; in the other, item resources
  // that the header does not name may be a builder's leftovers.
  const struct {
    const char* Archive;
    bool Damaged;
  } builds[] = {{"out.exe", true}, {"in-place.exe", false}};
  for (const auto& build : builds) {
    ZeroHeaderCount(Path(build.Archive), Path("zeroed.exe"));
    const std::string warning = "vexa: warning: " + Path("zeroed.exe") +
                                ": item resources go on past the header's 0 item(s) (ITEM1 to "
                                "ITEM2), which are not read;";
    std::ostringstream list, listErr;
    ListArchive(Path("zeroed.exe"), true, list, listErr);
    EXPECT_NE(list.str().find("\"item_resources_past_header\": 2,"), std::string::npos)
        << list.str();
    EXPECT_EQ(listErr.str().rfind(warning, 0), 0u) << listErr.str();

    std::ostringstream out, err;
    EXPECT_EQ(VerifyArchive(Path("zeroed.exe"), {}, false, out, err).Passed(), !build.Damaged)
        << build.Archive;
    EXPECT_EQ(err.str().rfind(warning, 0), 0u) << err.str();
    EXPECT_EQ(err.str().find(": damaged outside its items: the image checksum is 0x") !=
                  std::string::npos,
              build.Damaged)
        << err.str();

    ExtractOptions options;
    options.Directory = Path("unpacked");
    std::ostringstream extractOut, extractErr;
    if (build.Damaged) {
      EXPECT_THROW(ExtractArchiveTo(Path("zeroed.exe"), options, extractOut, extractErr),
                   ToolError);
      EXPECT_FALSE(fs::exists(Dir / "unpacked"));
    } else {
      ExtractArchiveTo(Path("zeroed.exe"), options, extractOut, extractErr);
      EXPECT_EQ(extractOut.str(), "0 file(s) written to " + Path("unpacked") + "\n");
      EXPECT_EQ(extractErr.str().rfind(warning, 0), 0u) << extractErr.str();
    }
  }

  // A missing item of an archive built in place is still damage.
  RewriteArchive(Path("in-place.exe"), Path("missing.exe"), [](std::vector<pe::Resource>& r) {
    std::erase_if(
        r, [](const pe::Resource& x) { return x.Name == pe::ResourceKey::FromName("ITEM2"); });
  });
  std::ostringstream out, err;
  EXPECT_EQ(VerifyArchive(Path("missing.exe"), {}, false, out, err).DamagedItems, 1u);
  EXPECT_NE(err.str().find("item 2 (b.txt) is missing"), std::string::npos) << err.str();
}

} // namespace
} // namespace vexa::tool::test
