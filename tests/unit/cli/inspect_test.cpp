#include "cli/inspect.h"

#include <gtest/gtest.h>

#include <sstream>

#include "archive/vexa_header.h"
#include "cli/item_checksums.h"
#include "cli/tool_error.h"
#include "streams/item_pipeline.h"
#include "tool_test_support.h"

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

enum class Kind { Stored, Compressed, Encrypted, CompressedAndEncrypted };

class InspectTest : public ToolTest, public ::testing::WithParamInterface<Kind> {
protected:
  // Packs Payload() into out.exe as the parameter says; the item order is the map's.
  std::string PackPayload(Kind Packing) {
    std::vector<fs::path> inputs;
    for (const auto& [name, data] : Payload())
      inputs.push_back(Put("in/" + name, data));
    PackOptions o = Options(inputs);
    o.Store = Packing == Kind::Stored || Packing == Kind::Encrypted;
    if (Packing == Kind::Encrypted || Packing == Kind::CompressedAndEncrypted)
      o.Password.Text = Password;
    PackArchive(o);
    return Path("out.exe");
  }

  PasswordOptions Given(const std::string& Text = Password) {
    PasswordOptions p;
    p.Text = Text;
    return p;
  }

  // Damaged items named by `vexa verify`, and the count it returned.
  std::pair<std::size_t, std::string> Verify(const std::string& Archive) {
    std::ostringstream out;
    std::ostringstream err;
    const std::size_t damaged = VerifyArchive(Archive, Given(), out, err);
    return {damaged, err.str()};
  }

  static constexpr char Password[] = "Sesame 42";
};

TEST_P(InspectTest, ExtractGivesBackEveryFileAndVerifyPassesIt) {
  const std::string archive = PackPayload(GetParam());
  ExtractOptions options;
  options.Directory = Path("unpacked");
  options.Password = Given();
  std::ostringstream out;
  ExtractArchiveTo(archive, options, out);
  for (const auto& [name, data] : Payload())
    EXPECT_EQ(ReadBytes(Dir / "unpacked" / name), data) << name;
  EXPECT_EQ(Verify(archive), std::make_pair(std::size_t{0}, std::string()));
}

TEST_P(InspectTest, ListShowsEveryItemAndHowItIsStored) {
  const std::string archive = PackPayload(GetParam());
  std::ostringstream json;
  ListArchive(archive, true, json);
  const bool encrypted =
      GetParam() == Kind::Encrypted || GetParam() == Kind::CompressedAndEncrypted;
  const bool compressed =
      GetParam() == Kind::Compressed || GetParam() == Kind::CompressedAndEncrypted;
  EXPECT_EQ(json.str().find("\"encrypted\"") != std::string::npos, encrypted) << json.str();
  for (const auto& [name, data] : Payload())
    EXPECT_NE(
        json.str().find("{\"name\": \"" + name + "\", \"size\": " + std::to_string(data.size())),
        std::string::npos)
        << name << " in " << json.str();
  // Noise is stored as it is even when compression is on: deflating it would not help.
  EXPECT_NE(json.str().find("\"noise.bin\", \"size\": 122885, \"stored\": 122885, "
                            "\"compressed\": false"),
            std::string::npos);
  EXPECT_EQ(json.str().find("\"compressed\": true") != std::string::npos, compressed);

  std::ostringstream table;
  ListArchive(archive, false, table);
  EXPECT_NE(table.str().find("4 item(s)"), std::string::npos) << table.str();
}

TEST_P(InspectTest, VerifyNamesEachDamagedItem) {
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

  // Extracting stops at the first damaged item and keeps no file that is not the item.
  ExtractOptions options;
  options.Directory = Path("unpacked");
  options.Password = Given();
  std::ostringstream out;
  EXPECT_THROW(ExtractArchiveTo(Path("damaged.exe"), options, out), ToolError);
  EXPECT_TRUE(fs::exists(Dir / "unpacked" / "empty.dat"));
  EXPECT_FALSE(fs::exists(Dir / "unpacked" / "noise.bin"));
}

INSTANTIATE_TEST_SUITE_P(EveryKind, InspectTest,
                         ::testing::Values(Kind::Stored, Kind::Compressed, Kind::Encrypted,
                                           Kind::CompressedAndEncrypted));

using InspectRefusalTest = ToolTest;

TEST_F(InspectRefusalTest, AWrongOrMissingPasswordReadsNothing) {
  PackOptions o = Options({Put("a.txt", Text("secret text"))});
  o.Password.Text = "right";
  PackArchive(o);
  PasswordOptions wrong;
  wrong.Text = "Right";
  std::ostringstream out, err;
  EXPECT_THROW(VerifyArchive(Path("out.exe"), wrong, out, err), ToolError);
  ExtractOptions options;
  options.Directory = Path("unpacked");
  options.Password = wrong;
  EXPECT_THROW(ExtractArchiveTo(Path("out.exe"), options, out), ToolError);
  EXPECT_FALSE(fs::exists(Dir / "unpacked"));
  // No terminal to ask on and no other source: refused rather than read without one.
  const ScopedEnv none("VEXA_PASSWORD", nullptr);
  EXPECT_THROW(VerifyArchive(Path("out.exe"), {}, out, err), ToolError);
}

TEST_F(InspectRefusalTest, ExtractRefusesUnsafeNamesAndExistingFilesBeforeWritingAny) {
  PackArchive(Options({Put("a.txt", Text("first")), Put("b.txt", Text("second"))}));
  ExtractOptions options;
  options.Directory = Path("unpacked");
  std::ostringstream out;

  for (const std::string unsafe : {"..\\b.txt", "C:\\b.txt", "sub/b.txt", "..", "A.TXT"}) {
    RewriteArchive(Path("out.exe"), Path("hostile.exe"), [&](std::vector<pe::Resource>& resources) {
      Bytes header = ResourceBytes(Path("out.exe"), "HEADER");
      const std::size_t record = ArchiveLayout::BlockSize + ArchiveLayout::ItemRecordSize;
      std::fill_n(header.begin() + record + ArchiveLayout::FileNameOffset,
                  ArchiveLayout::NameFieldSize, 0);
      std::copy(unsafe.begin(), unsafe.end(),
                header.begin() + record + ArchiveLayout::FileNameOffset);
      SetData(*FindResource(resources, "HEADER"), header);
    });
    EXPECT_THROW(ExtractArchiveTo(Path("hostile.exe"), options, out), ToolError) << unsafe;
    EXPECT_FALSE(fs::exists(Dir / "unpacked")) << unsafe;
  }

  fs::create_directories(Dir / "unpacked");
  WriteBytes(Dir / "unpacked" / "b.txt", Text("mine"));
  EXPECT_THROW(ExtractArchiveTo(Path("out.exe"), options, out), ToolError);
  EXPECT_FALSE(fs::exists(Dir / "unpacked" / "a.txt"));
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "b.txt"), Text("mine"));

  // --force replaces a link instead of writing through it.
  WriteBytes(Dir / "outside.txt", Text("outside"));
  fs::create_symlink(Dir / "outside.txt", Dir / "unpacked" / "a.txt");
  options.Force = true;
  ExtractArchiveTo(Path("out.exe"), options, out);
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "a.txt"), Text("first"));
  EXPECT_EQ(ReadBytes(Dir / "unpacked" / "b.txt"), Text("second"));
  EXPECT_EQ(ReadBytes(Dir / "outside.txt"), Text("outside"));
  EXPECT_FALSE(fs::is_symlink(Dir / "unpacked" / "a.txt"));
}

TEST_F(InspectRefusalTest, WithoutChecksumsAFlippedStoredByteGoesUnseenButLengthsStillCount) {
  PackOptions o = Options({Put("a.bin", RandomBytes(1000, 3))});
  o.Store = true;
  PackArchive(o);
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
  EXPECT_EQ(VerifyArchive(Path("flipped.exe"), {}, out, err), 0u);
  EXPECT_NE(out.str().find("no checksums"), std::string::npos) << out.str();
  rewrite("short.exe", 999);
  EXPECT_EQ(VerifyArchive(Path("short.exe"), {}, out, err), 1u);
  EXPECT_NE(err.str().find("item 1 (a.bin) gives 999 bytes instead of 1000"), std::string::npos)
      << err.str();
}

} // namespace
} // namespace vexa::tool::test
