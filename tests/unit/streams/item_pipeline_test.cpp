#include "streams/item_pipeline.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/password_check.h"
#include "packer/compressor.h"
#include "packer/header_builder.h"
#include "streams/file_stream.h"
#include "streams/resource_stream.h"
#include "support/memory_resource_module.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A target that records every Write and can be told to take fewer bytes than offered.
class RecordingStream : public TStream {
public:
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void* Buffer, std::int32_t Count) override {
    Writes.push_back(Count);
    const std::int32_t taken = Count > Limit ? Limit : Count;
    Limit -= taken;
    Data.insert(Data.end(), static_cast<const std::uint8_t*>(Buffer),
                static_cast<const std::uint8_t*>(Buffer) + taken);
    return taken;
  }
  std::int32_t Seek(std::int32_t, std::uint16_t) override { return 0; }

  std::vector<std::int32_t> Writes;
  Bytes Data;
  std::int32_t Limit = INT32_MAX;
};

Bytes Mixed(std::size_t n, unsigned seed) {
  // Half text-like, half random: compresses, but not to nothing.
  std::mt19937 random(seed);
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i)
    bytes[i] = (i / 512) % 2 ? static_cast<std::uint8_t>(random())
                             : static_cast<std::uint8_t>('a' + i % 7);
  return bytes;
}

Bytes ReadFile(const fs::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TItemRecord Record(const std::string& Name, ItemMethod Method, std::uint32_t Stored,
                   std::uint32_t Original = 0) {
  tool::ItemRecordFields fields;
  fields.FileName = Name;
  fields.Method = Method;
  fields.StoredSize = Stored;
  fields.OriginalSize = Original;
  const Bytes header = tool::BuildHeaderResource({}, {fields});
  TItemRecord record;
  std::memcpy(record.data(), &header[ArchiveLayout::BlockSize], record.size());
  return record;
}

class ItemPipelineTest : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("vexa_pipeline_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }

  // Packs Plain as the packer does and returns the item's record.
  TItemRecord AddItem(const std::string& Resource, const Bytes& Plain, CompressionMethod Method,
                      const std::string& Password) {
    ItemMethod method = imStored;
    Bytes stored = Plain;
    if (const auto compressor = MakeCompressor(Method, 6)) {
      TBytesOutput out;
      if (compressor->CompressIfSmaller(Plain, out)) {
        stored = std::move(out.Stream);
        method = compressor->Method();
      }
    }
    const auto storedSize = static_cast<std::uint32_t>(stored.size());
    if (!Password.empty()) {
      Bytes enciphered;
      TItemEncryptor encryptor(Password);
      encryptor.Add(stored.data(), stored.size(), enciphered);
      encryptor.Finish(enciphered);
      stored = std::move(enciphered);
    }
    Module.Add(Resource, stored);
    return Record("item.bin", method, storedSize, static_cast<std::uint32_t>(Plain.size()));
  }

  fs::path Dir;
  test::MemoryResourceModule Module;
};

TEST(CopyStreamTest, EmptySourceGivesOneWriteOfZero) {
  test::MemoryResourceModule module;
  module.Add("ITEM1", Bytes{});
  TResourceStream source(module, "Item1");
  RecordingStream target;
  int calls = 0;
  CopyStream(source, target, [&calls](std::int32_t) { ++calls; });
  EXPECT_EQ(target.Writes, std::vector<std::int32_t>{0});
  EXPECT_EQ(calls, 0);
}

// The caller's hook runs once a buffer is in the target, not before and not for the end,
// and is told how much that buffer held: the sizes add up to the item.
TEST(CopyStreamTest, HookRunsAfterEachBufferWithItsSize) {
  const struct {
    std::size_t Size;
    std::vector<std::int32_t> Writes;
  } cases[] = {{61440, {61440, 0}}, {150000, {61440, 61440, 27120, 0}}};
  for (const auto& c : cases) {
    test::MemoryResourceModule module;
    module.Add("ITEM1", Bytes(c.Size, 7));
    TResourceStream source(module, "Item1");
    RecordingStream target;
    std::vector<std::size_t> writesAtCall;
    std::vector<std::int32_t> told;
    CopyStream(source, target, [&](std::int32_t Bytes) {
      writesAtCall.push_back(target.Writes.size());
      told.push_back(Bytes);
    });
    EXPECT_EQ(target.Writes, c.Writes) << c.Size;
    const std::vector<std::int32_t> buffers(c.Writes.begin(), c.Writes.end() - 1);
    EXPECT_EQ(told, buffers) << c.Size;
    for (std::size_t i = 0; i < writesAtCall.size(); ++i)
      EXPECT_EQ(writesAtCall[i], i + 1) << c.Size;
  }
}

TEST(CopyStreamTest, ShortWriteRaisesInsteadOfLeavingAShortFile) {
  test::MemoryResourceModule module;
  module.Add("ITEM1", Bytes(100000, 7));
  TResourceStream source(module, "Item1");
  RecordingStream target;
  target.Limit = 70000;
  EXPECT_THROW(CopyStream(source, target), EWriteError);
}

TEST_F(ItemPipelineTest, AllChainsRoundTripAcrossBufferBoundaries) {
  const std::size_t sizes[] = {0, 1, 7, 8, 9, 61440, 65536, 100000, 3 * 1024 * 1024 + 5};
  int n = 0;
  for (const std::size_t size : sizes)
    for (const CompressionMethod method :
         {CompressionMethod::Store, CompressionMethod::Deflate, CompressionMethod::Lzma2})
      for (const std::string password : {"", "s3cret"}) {
        Bytes plain = Mixed(size, static_cast<unsigned>(size));
        if (size > 2 && method == CompressionMethod::Lzma2 && n % 4 == 0)
          plain[0] = 'M', plain[1] = 'Z'; // through the x86 filter
        const std::string resource = "Item" + std::to_string(++n);
        const TItemRecord item = AddItem(resource, plain, method, password);
        const fs::path target = Dir / "item.bin";
        ASSERT_TRUE(ExtractItem(Module, resource, target.string(), password, item));
        EXPECT_EQ(ReadFile(target), plain)
            << size << " method " << static_cast<int>(Compressed(item)) << " " << password;
      }
  EXPECT_EQ(Module.Outstanding(), 0);
}

TEST_F(ItemPipelineTest, ExistingFileIsReplacedWhateverItsLength) {
  const fs::path target = Dir / "item.bin";
  std::ofstream(target) << std::string(100000, 'x');
  const TItemRecord item = AddItem("ITEM1", Bytes{'h', 'i'}, CompressionMethod::Store, "");
  ExtractItem(Module, "Item1", target.string(), "", item);
  EXPECT_EQ(ReadFile(target), (Bytes{'h', 'i'}));
}

TEST_F(ItemPipelineTest, EmptyPasswordCopiesWithoutDeciphering) {
  const TItemRecord item = AddItem("ITEM1", Mixed(100, 1), CompressionMethod::Store, "pw");
  ExtractItem(Module, "Item1", (Dir / "item.bin").string(), "", item);
  EXPECT_EQ(ReadFile(Dir / "item.bin").size(), 104u); // the padded, enciphered bytes
}

TEST_F(ItemPipelineTest, MissingResourceCreatesNoFile) {
  const TItemRecord item = Record("item.bin", imStored, 0);
  EXPECT_THROW(ExtractItem(Module, "Item2", (Dir / "item.bin").string(), "", item),
               TStreamReadException);
  EXPECT_FALSE(fs::exists(Dir / "item.bin"));
}

TEST_F(ItemPipelineTest, MissingFolderRaisesWithTheFullPath) {
  const TItemRecord item = AddItem("ITEM1", Bytes{1}, CompressionMethod::Store, "");
  const std::string target = (Dir / "no-such-folder" / "item.bin").string();
  try {
    ExtractItem(Module, "Item1", target, "", item);
    FAIL() << "no EFCreateError";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.message(), "Cannot create file " + target);
  }
}

TEST_F(ItemPipelineTest, UnsafeNamesAreNotWrittenNamesInASubfolderAre) {
  Module.Add("ITEM1", Bytes{1, 2, 3});
  for (const char* name : {"..\\x", "C:\\x", "\\x", "sub\\..\\..\\x", "sub\\.\\x", "a\\\\b", ""}) {
    EXPECT_FALSE(ExtractItem(Module, "Item1", (Dir / "x").string(), "", Record(name, imStored, 3)))
        << name;
    EXPECT_FALSE(fs::exists(Dir / "x"));
  }
  fs::create_directories(Dir / "sub");
  EXPECT_TRUE(
      ExtractItem(Module, "Item1", (Dir / "sub" / "x").string(), "", Record("sub/x", imStored, 3)));
  EXPECT_EQ(ReadFile(Dir / "sub" / "x"), (Bytes{1, 2, 3}));
}

TEST_F(ItemPipelineTest, CompressedDataCutShortRaisesAndKeepsThePartialFile) {
  const Bytes plain = Mixed(200000, 3);
  const std::pair<ItemMethod, Bytes> methods[] = {
      {imZlib, TZlibCompressor(6).Compress(plain)},
      {imLzma2, TLzma2Compressor(6).Compress(plain)},
  };
  for (auto [method, packed] : methods) {
    packed.resize(packed.size() / 2);
    const std::string resource = "ITEM" + std::to_string(method);
    Module.Add(resource, packed);
    const TItemRecord item = Record("item.bin", method, static_cast<std::uint32_t>(packed.size()),
                                    static_cast<std::uint32_t>(plain.size()));
    EXPECT_THROW(ExtractItem(Module, resource, (Dir / "item.bin").string(), "", item),
                 EDecompressionError);
    const Bytes partial = ReadFile(Dir / "item.bin");
    EXPECT_LT(partial.size(), plain.size()) << int{method};
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), plain.begin())) << int{method};
  }
}

// A continued item's bytes are in another item's stream: read alone, it is damaged.
TEST_F(ItemPipelineTest, ContinuedItemReadAloneRaises) {
  Module.Add("ITEM1", Bytes{});
  EXPECT_THROW(ExtractItem(Module, "Item1", (Dir / "item.bin").string(), "",
                           Record("item.bin", imLzma2Continued, 0, 10)),
               EDecompressionError);
}

// A block's items come out of its one stream into their files in turn, enciphered or not;
// a skipped item's bytes are read and dropped, and the progress hook counts only what was
// written. Records that cannot be right, and a stream cut short, raise as a damaged item
// does.
TEST_F(ItemPipelineTest, ABlocksItemsAreWrittenInTurn) {
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"a", Mixed(70000, 1)}, {"b", Mixed(100000, 2)}, {"c", Mixed(5000, 3)}, {"d", {}}};
  std::vector<std::span<const std::uint8_t>> parts;
  for (const auto& [name, data] : files)
    parts.emplace_back(data);
  TBytesOutput block;
  ASSERT_TRUE(TLzma2Compressor(6).CompressIfSmaller(parts, block));
  const auto records = [&](std::uint32_t ContinuedStored) {
    TItemRecords items;
    for (const auto& [name, data] : files)
      items.push_back(std::make_unique<TItemRecord>(
          Record(name, items.empty() ? imLzma2 : imLzma2Continued,
                 items.empty() ? static_cast<std::uint32_t>(block.Stream.size()) : ContinuedStored,
                 static_cast<std::uint32_t>(data.size()))));
    return items;
  };
  for (const std::string password : {"", "pw"}) {
    Bytes stored = block.Stream;
    if (!password.empty()) {
      stored.clear();
      TItemEncryptor encryptor(password);
      encryptor.Add(block.Stream.data(), block.Stream.size(), stored);
      encryptor.Finish(stored);
    }
    Module.Add("ITEM1", stored);
    const TItemRecords items = records(0);
    {
      TBlockReader reader(Module, "Item1", password, items, 0);
      EXPECT_EQ(reader.Length(), 4u);
      std::int64_t counted = 0;
      for (std::size_t i = 0; i < files.size(); ++i) {
        if (i == 1) {
          SkipBlockItem(reader);
          continue;
        }
        const std::string target = (Dir / ("item" + std::to_string(i))).string();
        WriteBlockItem(
            reader, [&] { return std::make_unique<TFileStream>(target, fmCreate); },
            [&](std::int32_t n) { counted += n; });
      }
      EXPECT_TRUE(reader.Done());
      EXPECT_EQ(counted, 75000);
    }
    for (const std::size_t i : {0, 2, 3})
      EXPECT_EQ(ReadFile(Dir / ("item" + std::to_string(i))), files[i].second) << i;
    EXPECT_FALSE(fs::exists(Dir / "item1"));
    EXPECT_EQ(Module.Outstanding(), 0);
  }

  EXPECT_THROW(TBlockReader(Module, "Item1", "", records(1), 0), EDecompressionError);
  EXPECT_THROW(TBlockReader(Module, "Item1", "", records(0), 1), EDecompressionError);
  Module.Add("ITEM1", Bytes(block.Stream.begin(), block.Stream.begin() + block.Stream.size() / 2));
  const TItemRecords items = records(0);
  TBlockReader reader(Module, "Item1", "", items, 0);
  const std::string cut = (Dir / "cut").string();
  EXPECT_THROW(for (std::size_t i = 0; i < files.size(); ++i) WriteBlockItem(
                   reader, [&] { return std::make_unique<TFileStream>(cut, fmCreate); }),
               EDecompressionError);
}

TEST_F(ItemPipelineTest, EncryptedItemShorterThanItsPaddingRaises) {
  const TItemRecord item = AddItem("ITEM1", Mixed(100, 2), CompressionMethod::Store, "pw");
  Module.Add("ITEM2", Bytes(96, 0)); // 100 bytes need 104 stored
  EXPECT_THROW(ExtractItem(Module, "Item2", (Dir / "item.bin").string(), "pw", item),
               TStreamReadException);
}

} // namespace
} // namespace vexa
