#include "pe/resource_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "pe/pe_resource_module.h"
#include "pe/pe_test_util.h"
#include "pe/resource_data.h"

namespace vexa::pe {
namespace {

using test::Bytes;

std::string Key(const ResourceKey& Type, const ResourceKey& Name, std::uint16_t Language) {
  return Type.ToString() + "/" + Name.ToString() + "/" + std::to_string(Language);
}

Bytes DataOf(const ResourceData& Data) {
  struct Collect : OutputSink {
    Bytes All;
    void Write(std::span<const std::uint8_t> B) override {
      All.insert(All.end(), B.begin(), B.end());
    }
  } sink;
  Data.WriteTo(sink);
  return sink.All;
}

// Each input resource is in Image under its upper-cased key, with the same bytes, and
// nothing else is. The data lies in the order of Expected, whatever the directory's order,
// so that a reader of the items in their numeric order goes through the file front to back.
void ExpectHolds(const PeImage& Image, const std::vector<Resource>& Expected) {
  ASSERT_EQ(Image.Entries().size(), Expected.size());
  const std::uint8_t* previousEnd = Image.Bytes().data();
  const auto upper = [](ResourceKey K) {
    for (char16_t& c : K.Name)
      c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    return K;
  };
  for (const Resource& r : Expected) {
    const ResourceKey type = upper(r.Type), name = upper(r.Name);
    const auto found =
        std::find_if(Image.Entries().begin(), Image.Entries().end(), [&](const ResourceEntry& e) {
          return e.Type == type && e.Name == name && e.Language == r.Language;
        });
    ASSERT_NE(found, Image.Entries().end()) << Key(type, name, r.Language);
    EXPECT_EQ(found->CodePage, r.CodePage);
    EXPECT_EQ(Bytes(found->Data.begin(), found->Data.end()), DataOf(*r.Data))
        << Key(r.Type, name, r.Language);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(found->Data.data()) % 8,
              reinterpret_cast<std::uintptr_t>(Image.Bytes().data()) % 8);
    EXPECT_GE(found->Data.data(), previousEnd) << Key(type, name, r.Language) << " lies before "
                                               << "the data of the resource given before it";
    previousEnd = found->Data.data() + found->Data.size();
  }
}

// The order the loader's binary search needs: at each level names first, in ordinal
// order of their code units, then ids ascending.
bool LoaderOrder(const ResourceKey& A, const ResourceKey& B) {
  if (A.IsName() && B.IsName())
    return std::lexicographical_compare(A.Name.begin(), A.Name.end(), B.Name.begin(), B.Name.end(),
                                        [](char16_t x, char16_t y) { return x < y; });
  if (A.IsName() != B.IsName())
    return A.IsName();
  return A.Id < B.Id;
}

void ExpectLoaderOrder(const PeImage& Image) {
  const auto& e = Image.Entries();
  for (std::size_t i = 1; i < e.size(); ++i) {
    const bool sameType = e[i - 1].Type == e[i].Type;
    const bool sameName = sameType && e[i - 1].Name == e[i].Name;
    const bool ordered = !sameType   ? LoaderOrder(e[i - 1].Type, e[i].Type)
                         : !sameName ? LoaderOrder(e[i - 1].Name, e[i].Name)
                                     : e[i - 1].Language < e[i].Language;
    EXPECT_TRUE(ordered) << Key(e[i - 1].Type, e[i - 1].Name, e[i - 1].Language) << " before "
                         << Key(e[i].Type, e[i].Name, e[i].Language);
  }
}

// pefile and wrestool see what our reader sees, pefile computes the same checksum, and
// the section table agrees with the headers.
// The file header's characteristics, which the writer keeps as the stub has them.
std::uint16_t Characteristics(const Bytes& Image, const PeImage& Parsed) {
  const std::size_t at = Parsed.Headers().PeOffset + 22;
  return static_cast<std::uint16_t>(Image.at(at) | Image.at(at + 1) << 8);
}

void ExpectIndependentReadersAgree(const std::string& Path, const PeImage& Image) {
  std::vector<std::string> expected = test::OurView(Image);
  const bool large = Characteristics(test::ReadAll(Path), Image) & 0x20;
  expected.push_back(std::string("large-address-aware ") + (large ? "yes" : "no"));
  const std::string checksum = std::to_string(Image.Headers().CheckSum);
  expected.push_back("checksum " + checksum + " " + checksum);
  expected.push_back("layout ok");
  EXPECT_EQ(test::IndependentView(Path), expected);
}

// The archive's resources, as the packer adds them: names in mixed case, zero-byte and
// odd-sized data, enough items that names sort past one digit, one read from a file.
std::vector<Resource> ArchiveResources(const test::ScratchDir& Dir, int Items) {
  std::vector<Resource> r;
  r.push_back(test::RcData("Header", test::Pattern(656 + 81 * Items + 40, 1)));
  const std::size_t sizes[] = {0, 1, 3, 7, 8, 9, 4095, 4097, 65537, 12};
  for (int i = 1; i <= Items; ++i)
    r.push_back(
        test::RcData("Item" + std::to_string(i),
                     test::Pattern(sizes[i % std::size(sizes)], static_cast<std::uint8_t>(i))));
  r.push_back(test::RcData("WelcomeText", Bytes{'H', 'i', 0}));
  r.push_back(test::RcData("WelcomeTitle", Bytes{0}));
  const std::string file = Dir / "item-source";
  test::WriteAll(file, test::Pattern(100005, 77));
  r.push_back({ResourceKey::FromId(RtRcData), ResourceKey::FromName("FromFile"), 0, 0,
               std::make_shared<FileRegionData>(file, 5, 100000)});
  return r;
}

// Packs an archive into the image at StubPath, keeping all of its resources, and checks
// the result with every reader.
void ExpectArchiveAddedToImage(const std::string& StubPath) {
  test::ScratchDir dir;
  const Bytes stubBytes = test::ReadAll(StubPath);
  const PeImage stub = PeImage::Parse(stubBytes);
  std::vector<Resource> all = stub.Resources();
  const std::vector<Resource> archive = ArchiveResources(dir, 120);
  all.insert(all.end(), archive.begin(), archive.end());

  const std::string out = dir / "out.exe";
  const WriteReport report = WriteImageWithResources(stub, all, out);
  EXPECT_FALSE(report.DroppedCertificate);

  const Bytes outBytes = test::ReadAll(out);
  const PeImage written = PeImage::Parse(outBytes);
  ExpectHolds(written, all);
  ExpectLoaderOrder(written);
  ExpectIndependentReadersAgree(out, written);

  // mingw's images end with .reloc, so the new section follows it and every old section
  // keeps its place and its bytes.
  ASSERT_EQ(written.Sections().size(), stub.Sections().size() + 1);
  for (std::size_t i = 0; i < stub.Sections().size(); ++i) {
    const Section& s = stub.Sections()[i];
    EXPECT_EQ(written.Sections()[i].VirtualAddress, s.VirtualAddress);
    EXPECT_TRUE(std::equal(stubBytes.begin() + s.PointerToRawData,
                           stubBytes.begin() + s.PointerToRawData + s.SizeOfRawData,
                           outBytes.begin() + s.PointerToRawData));
  }
  EXPECT_EQ(Characteristics(outBytes, written), Characteristics(stubBytes, stub));
  EXPECT_EQ(written.Headers().SizeOfInitializedData,
            stub.Headers().SizeOfInitializedData + written.Sections().back().SizeOfRawData);

  // Names the stub asks for in any case find the stored upper-case names.
  const TPeResourceModule module(written);
  for (const char* name : {"Header", "Item1", "ITEM1", "iTeM1", "Item120", "WelcomeText"})
    EXPECT_NE(module.Find(name), nullptr) << name;
  EXPECT_EQ(module.Find("Item121"), nullptr);
}

TEST(ResourceWriter, AddsAnArchiveToTheFixtureThatEveryReaderSees) {
  VEXA_REQUIRE_FIXTURE(fixture);
  ExpectArchiveAddedToImage(fixture);
}

TEST(ResourceWriter, AddsAnArchiveToTheStubThatEveryReaderSees) {
#ifndef VEXA_STUB_IMAGE
  GTEST_SKIP() << "configure with -DVEXA_WIN32_BUILD_DIR to test against the stub";
#else
  ASSERT_TRUE(std::filesystem::exists(VEXA_STUB_IMAGE)) << VEXA_STUB_IMAGE << " not built";
  ExpectArchiveAddedToImage(VEXA_STUB_IMAGE);
  // 4 GiB of address space on 64-bit Windows for the image that carries the archive.
  const std::vector<std::string> view = test::IndependentView(VEXA_STUB_IMAGE);
  EXPECT_NE(std::find(view.begin(), view.end(), "large-address-aware yes"), view.end());
#endif
}

TEST(ResourceWriter, ReplacesALastResourceSectionInPlace) {
  test::ScratchDir dir;
  const Bytes bare = test::MinimalImage(2);
  std::vector<Resource> first = {test::RcData("Old", Bytes(5000, 'O')),
                                 test::RcData("Keep", Bytes{1, 2, 3})};
  WriteImageWithResources(PeImage::Parse(bare), first, dir / "first.exe");
  const Bytes firstBytes = test::ReadAll(dir / "first.exe");
  const PeImage once = PeImage::Parse(firstBytes);
  ASSERT_EQ(once.Sections().size(), 3u);

  std::vector<Resource> second = once.Resources();
  second.erase(second.begin() + 1); // "OLD" sorts after "KEEP"
  second.push_back(test::RcData("New", Bytes(700, 'N')));
  WriteImageWithResources(once, second, dir / "second.exe");
  const Bytes secondBytes = test::ReadAll(dir / "second.exe");
  const PeImage twice = PeImage::Parse(secondBytes);

  ExpectHolds(twice, second);
  ExpectIndependentReadersAgree(dir / "second.exe", twice);
  ASSERT_EQ(twice.Sections().size(), 3u);
  EXPECT_EQ(twice.Sections()[2].VirtualAddress, once.Sections()[2].VirtualAddress);
  EXPECT_EQ(secondBytes.size(), bare.size() + twice.Sections()[2].SizeOfRawData);
  EXPECT_EQ(std::search_n(secondBytes.begin(), secondBytes.end(), 5000, 'O'), secondBytes.end())
      << "the replaced section's data was left behind";
  EXPECT_EQ(twice.Headers().SizeOfInitializedData, twice.Sections()[2].SizeOfRawData);
}

TEST(ResourceWriter, DropsACertificateTable) {
  VEXA_REQUIRE_FIXTURE(fixture);
  test::ScratchDir dir;
  const Bytes unsignedBytes = test::ReadAll(fixture);
  Bytes signedBytes = unsignedBytes;
  signedBytes.resize((signedBytes.size() + 7) / 8 * 8);
  const auto certAt = static_cast<std::uint32_t>(signedBytes.size());
  const Bytes certificate = test::Pattern(0x321, 0xCE);
  signedBytes.insert(signedBytes.end(), certificate.begin(), certificate.end());
  signedBytes.resize((signedBytes.size() + 7) / 8 * 8);
  const PeImage plain = PeImage::Parse(unsignedBytes);
  std::uint8_t* security = &signedBytes[plain.Headers().OptionalHeaderOffset + 96 + 8 * 4];
  detail::Put32(security, certAt);
  detail::Put32(security + 4, static_cast<std::uint32_t>(certificate.size()));

  const PeImage signedStub = PeImage::Parse(signedBytes);
  ASSERT_TRUE(signedStub.HasCertificate());
  const std::vector<Resource> resources = {test::RcData("Item1", Bytes{4, 5, 6})};
  EXPECT_TRUE(WriteImageWithResources(signedStub, resources, dir / "a.exe").DroppedCertificate);
  EXPECT_FALSE(WriteImageWithResources(plain, resources, dir / "b.exe").DroppedCertificate);
  // Without its certificate the signed stub is the unsigned one.
  const Bytes a = test::ReadAll(dir / "a.exe");
  EXPECT_EQ(a, test::ReadAll(dir / "b.exe"));
  EXPECT_FALSE(PeImage::Parse(a).HasCertificate());
}

TEST(ResourceWriter, WritesAnEmptyTreeAndKeepsKeysOfEveryKind) {
  test::ScratchDir dir;
  const Bytes bare = test::MinimalImage();
  const PeImage stub = PeImage::Parse(bare);
  WriteImageWithResources(stub, {}, dir / "empty.exe");
  const Bytes empty = test::ReadAll(dir / "empty.exe");
  EXPECT_TRUE(PeImage::Parse(empty).Entries().empty());

  // A named type, ids and names mixed at every level, several languages, names that are
  // prefixes of others and a name beyond ASCII (kept as it is).
  auto data = [](std::uint8_t b) { return std::make_shared<BytesData>(Bytes(3, b)); };
  ResourceKey wide;
  wide.Name = u"\u00E9T\u00C9";
  const std::vector<Resource> mixed = {
      {ResourceKey::FromName("Custom"), ResourceKey::FromId(1), 0, 0, data(1)},
      {ResourceKey::FromId(RtRcData), ResourceKey::FromName("ab"), 1033, 1252, data(2)},
      {ResourceKey::FromId(RtRcData), ResourceKey::FromName("ab"), 7, 0, data(3)},
      {ResourceKey::FromId(RtRcData), ResourceKey::FromName("A"), 0, 0, data(4)},
      {ResourceKey::FromId(RtRcData), ResourceKey::FromName("AB_"), 0, 0, data(5)},
      {ResourceKey::FromId(RtRcData), ResourceKey::FromId(3), 0, 0, data(6)},
      {ResourceKey::FromId(RtRcData), wide, 0, 0, data(7)},
      {ResourceKey::FromId(RtIcon), ResourceKey::FromId(2), 0, 0, data(8)},
  };
  WriteImageWithResources(stub, mixed, dir / "mixed.exe");
  const Bytes bytes = test::ReadAll(dir / "mixed.exe");
  const PeImage written = PeImage::Parse(bytes);
  ExpectHolds(written, mixed);
  ExpectLoaderOrder(written);
  ExpectIndependentReadersAgree(dir / "mixed.exe", written);
}

TEST(ResourceWriter, RefusesBeforeWritingAnything) {
  test::ScratchDir dir;
  const std::string out = dir / "out.exe";
  const auto refusal = [&](const Bytes& Stub, const std::vector<Resource>& R) {
    try {
      WriteImageWithResources(PeImage::Parse(Stub), R, out);
      return std::string();
    } catch (const PeWriteError& e) {
      EXPECT_FALSE(std::filesystem::exists(out)) << e.what();
      return std::string(e.what());
    }
  };
  const Bytes bare = test::MinimalImage();

  EXPECT_NE(refusal(bare, {test::RcData("Item1", {1}), test::RcData("ITEM1", {2})})
                .find("duplicate resource 10/ITEM1/0"),
            std::string::npos);
  EXPECT_NE(refusal(bare, {{ResourceKey::FromId(RtRcData), ResourceKey::FromId(1), 0, 0, nullptr}})
                .find("has no data"),
            std::string::npos);

  // Five sections fill a 0x200-byte header; a sixth header has no room.
  EXPECT_NE(refusal(test::MinimalImage(5), {}).find("no room for another section header"),
            std::string::npos);
  Bytes busy = test::MinimalImage();
  busy[0x40 + 24 + 224 + 40 + 3] = 0x77; // something lives just after the section table
  EXPECT_NE(refusal(busy, {}).find("bytes after the section table are in use"), std::string::npos);

  // Sizes a 32-bit image cannot hold are refused without reading any data.
  struct Huge : ResourceData {
    std::uint64_t Size() const override { return 0x40000000; }
    void WriteTo(OutputSink&) const override { ADD_FAILURE() << "data read although refused"; }
  };
  const auto huge = std::make_shared<Huge>();
  std::vector<Resource> tooMuch;
  for (int i = 0; i < 2; ++i)
    tooMuch.push_back({ResourceKey::FromId(RtRcData),
                       ResourceKey::FromId(static_cast<std::uint16_t>(i)), 0, 0, huge});
  EXPECT_NE(refusal(bare, tooMuch).find("does not fit a 32-bit image"), std::string::npos);
  tooMuch.pop_back();
  EXPECT_EQ(refusal(bare, {}), "");
  std::filesystem::remove(out);
  // One gigabyte fits, but not beside a stub whose image already spans most of the rest.
  Bytes big = test::MinimalImage();
  detail::Put32(&big[0x40 + 24 + 224 + 8], 0x3FF00000); // .text's VirtualSize
  EXPECT_NE(refusal(big, tooMuch).find("does not fit a 32-bit image"), std::string::npos);
}

TEST(ResourceWriter, HoldsAtMost65535NamesOfAType) {
  test::ScratchDir dir;
  const Bytes bare = test::MinimalImage();
  const PeImage stub = PeImage::Parse(bare);
  const auto one = std::make_shared<BytesData>(Bytes{1});
  std::vector<Resource> items;
  for (int i = 1; i <= 0xFFFF; ++i)
    items.push_back({ResourceKey::FromId(RtRcData),
                     ResourceKey::FromName("ITEM" + std::to_string(i)), 0, 0, one});
  WriteImageWithResources(stub, items, dir / "full.exe");
  const Bytes full = test::ReadAll(dir / "full.exe");
  EXPECT_EQ(PeImage::Parse(full).Entries().size(), 0xFFFFu);

  items.push_back(test::RcData("Header", {2}));
  try {
    WriteImageWithResources(stub, items, dir / "over.exe");
    ADD_FAILURE() << "65536 names written";
  } catch (const PeWriteError& e) {
    EXPECT_NE(std::string(e.what()).find("too many resources of type 10"), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "over.exe"));
}

TEST(ResourceWriter, RemovesThePartialFileWhenASourceFails) {
  test::ScratchDir dir;
  const std::string out = dir / "out.exe";
  const Bytes bare = test::MinimalImage();
  const PeImage stub = PeImage::Parse(bare);
  const auto fails = [&](std::shared_ptr<const ResourceData> Data) {
    try {
      WriteImageWithResources(
          stub, {{ResourceKey::FromId(RtRcData), ResourceKey::FromId(1), 0, 0, Data}}, out);
    } catch (const std::exception& e) {
      EXPECT_FALSE(std::filesystem::exists(out));
      return std::string(e.what());
    }
    return std::string();
  };

  struct Short : ResourceData {
    std::uint64_t Size() const override { return 100; }
    void WriteTo(OutputSink& Out) const override { Out.Write(Bytes(60, 1)); }
  };
  EXPECT_NE(fails(std::make_shared<Short>()).find("delivered 60 bytes instead of 100"),
            std::string::npos);

  struct Broken : ResourceData {
    std::uint64_t Size() const override { return 1 << 20; }
    void WriteTo(OutputSink& Out) const override {
      Out.Write(Bytes(300000, 2));
      throw std::runtime_error("disk gone");
    }
  };
  EXPECT_EQ(fails(std::make_shared<Broken>()), "disk gone");

  const std::string source = dir / "shrunk";
  test::WriteAll(source, Bytes(10, 3));
  EXPECT_NE(
      fails(std::make_shared<FileRegionData>(source, 4, 10)).find("File " + source + " ended"),
      std::string::npos);
  EXPECT_NE(fails(std::make_shared<FileRegionData>(dir / "missing", 0, 1)).find("Cannot open file"),
            std::string::npos);
}

} // namespace
} // namespace vexa::pe
