#include "crypto/decrypt_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <typeinfo>
#include <vector>

#include "crypto/blowfish.h"
#include "streams/resource_stream.h"
#include "support/memory_resource_module.h"

namespace vexa {
namespace {

using Bytes = std::vector<std::uint8_t>;
const std::string Password = "stream password";

Bytes Plaintext(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i)
    b[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  return b;
}

// The stored form of an item: padded with zeros to whole blocks, one chain from zero.
Bytes Stored(const Bytes& plain) {
  Bytes b(plain);
  b.resize((plain.size() + 7) / 8 * 8, 0);
  TBlowfish bf;
  bf.SetKey(Password);
  bf.Encrypt(b.data(), static_cast<std::int32_t>(b.size()));
  return b;
}

// Passes reads through and records the count of each; MaxChunk makes it read short.
class TCountingStream : public TReadOnlyStream {
public:
  explicit TCountingStream(TStream& Inner, std::int32_t MaxChunk = 1 << 30)
      : Inner(Inner), MaxChunk(MaxChunk) {}
  std::int32_t Read(void* Buffer, std::int32_t Count) override {
    Asked.push_back(Count);
    return Inner.Read(Buffer, std::min(Count, MaxChunk));
  }
  std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) override {
    return Inner.Seek(Offset, Origin);
  }
  std::vector<std::int32_t> Asked;

private:
  TStream& Inner;
  std::int32_t MaxChunk;
};

// Blowfish that counts its buffer operations.
class TCountingCipher : public TCryptor64 {
public:
  explicit TCountingCipher(int& Calls) : Calls(Calls) { Inner.SetKey(Password); }
  std::string GetKey() const override { return Inner.GetKey(); }
  void SetKey(const std::string& Key) override { Inner.SetKey(Key); }
  void CryptBlock(void* Block, std::int32_t Direction) override {
    Inner.CryptBlock(Block, Direction);
  }
  void CryptBuffer(void* Buffer, std::int32_t Count, bool Encrypt) override {
    ++Calls;
    Inner.CryptBuffer(Buffer, Count, Encrypt);
  }

private:
  TBlowfish Inner;
  int& Calls;
};

// An item resource, its resource stream with a counter in front, and the decrypting
// stream over them.
struct Item {
  explicit Item(const Bytes& plain, const Bytes& stored, std::int32_t maxChunk = 1 << 30)
      : Plain(plain) {
    Module.Add("Item1", stored);
    Resource = std::make_unique<TResourceStream>(Module, "Item1");
    Source = std::make_unique<TCountingStream>(*Resource, maxChunk);
    Stream = std::make_unique<TDeCryptStream>(std::make_unique<TCountingCipher>(CipherCalls),
                                              static_cast<std::int32_t>(plain.size()), *Source);
  }
  explicit Item(const Bytes& plain) : Item(plain, Stored(plain)) {}

  Bytes Read(std::int32_t count) {
    Bytes b(static_cast<std::size_t>(count) + 16, 0xEE);
    const std::int32_t n = Stream->Read(b.data(), count);
    EXPECT_TRUE(std::all_of(b.begin() + n, b.end(), [](auto x) { return x == 0xEE; }))
        << "wrote past what it returned";
    b.resize(static_cast<std::size_t>(n));
    return b;
  }
  Bytes Slice(std::size_t from, std::size_t to) const {
    return Bytes(Plain.begin() + from, Plain.begin() + to);
  }

  Bytes Plain;
  test::MemoryResourceModule Module;
  std::unique_ptr<TResourceStream> Resource;
  std::unique_ptr<TCountingStream> Source;
  int CipherCalls = 0;
  std::unique_ptr<TDeCryptStream> Stream;
};

TEST(DeCryptStreamTest, EmptyItemNeverReadsTheSource) {
  Item item(Bytes{});
  EXPECT_EQ(item.Read(61440).size(), 0u);
  EXPECT_TRUE(item.Source->Asked.empty());
  EXPECT_EQ(item.CipherCalls, 0);
}

TEST(DeCryptStreamTest, DropsThePaddingOfTheLastBlock) {
  Item item(Plaintext(100));
  EXPECT_EQ(item.Read(61440), item.Plain);
  EXPECT_EQ(item.Source->Asked, std::vector<std::int32_t>{104});
  EXPECT_EQ(item.Read(61440).size(), 0u);
  EXPECT_EQ(item.Source->Asked.size(), 1u);
}

TEST(DeCryptStreamTest, KeepsWhatWasNotAskedForAndServesItFirst) {
  Item item(Plaintext(40));
  EXPECT_EQ(item.Read(5), item.Slice(0, 5));
  EXPECT_EQ(item.Source->Asked, std::vector<std::int32_t>{8});
  EXPECT_EQ(item.Read(5), item.Slice(5, 10)); // 3 kept bytes, then 2 of the next block
  EXPECT_EQ(item.Source->Asked, (std::vector<std::int32_t>{8, 8}));
  EXPECT_EQ(item.CipherCalls, 2);

  // Bytes 10 to 15 are kept: reading them touches neither the source nor the cipher.
  EXPECT_EQ(item.Read(4), item.Slice(10, 14));
  EXPECT_EQ(item.Read(2), item.Slice(14, 16));
  EXPECT_EQ(item.Source->Asked.size(), 2u);
  EXPECT_EQ(item.CipherCalls, 2);

  EXPECT_EQ(item.Read(100), item.Slice(16, 40));
  EXPECT_EQ(item.Source->Asked.back(), 24);
}

TEST(DeCryptStreamTest, AnyReadSizesDeliverTheSameBytes) {
  const Bytes plain = Plaintext(3001);
  for (std::int32_t chunk : {1, 7, 8, 9, 1000, 65536}) {
    Item item(plain);
    Bytes all;
    for (Bytes part; !(part = item.Read(chunk)).empty();)
      all.insert(all.end(), part.begin(), part.end());
    EXPECT_EQ(all, plain) << "chunk " << chunk;
    EXPECT_EQ(item.Stream->Position(), 3001);
  }
}

TEST(DeCryptStreamTest, SourceThatReadsShortIsReadUntilTheFillIsComplete) {
  const Bytes plain = Plaintext(100);
  Item item(plain, Stored(plain), 3);
  EXPECT_EQ(item.Read(100), plain);
}

TEST(DeCryptStreamTest, TruncatedItemRaisesInsteadOfDeliveringUnreadBytes) {
  const Bytes plain = Plaintext(100);
  Bytes stored = Stored(plain);
  stored.resize(96);
  Item item(plain, stored);
  EXPECT_EQ(item.Read(96), item.Slice(0, 96));
  EXPECT_THROW(item.Read(4), TStreamReadException);

  Item empty(plain, Bytes{});
  EXPECT_THROW(empty.Read(1), TStreamReadException);
}

// A StoredSize of 2 GiB or more reads as negative: refused, not an empty item.
TEST(DeCryptStreamTest, NegativeSizeIsRefused) {
  test::MemoryResourceModule module;
  module.Add("Item1", Stored(Plaintext(16)));
  TResourceStream source(module, "Item1");
  auto cipher = std::make_unique<TBlowfish>();
  cipher->SetKey(Password);
  EXPECT_THROW(TDeCryptStream(std::move(cipher), INT32_MIN, source), TStreamReadException);
}

TEST(DeCryptStreamTest, SeekMovesOnlyTheLogicalPosition) {
  Item item(Plaintext(40));
  EXPECT_EQ(item.Stream->Size(), 40);
  item.Read(13);
  EXPECT_EQ(item.Stream->Seek(0, soCurrent), 13);

  for (auto [offset, origin] : {std::pair{41, 0}, {-1, 0}, {1, 2}, {-14, 1}, {0, 3}}) {
    EXPECT_THROW(item.Stream->Seek(offset, static_cast<std::uint16_t>(origin)),
                 TStreamReadException)
        << offset << "," << origin;
    EXPECT_EQ(item.Stream->Position(), 13);
  }

  // Back to 5: the next bytes are still the next stored ones, and less may follow.
  EXPECT_EQ(item.Stream->Seek(-8, soCurrent), 5);
  EXPECT_EQ(item.Read(3), item.Slice(13, 16));
  EXPECT_EQ(item.Stream->Seek(40, soBeginning), 40);
  EXPECT_EQ(item.Read(10).size(), 0u);
  EXPECT_EQ(item.Stream->Seek(-40, soEnd), 0);
}

TEST(DeCryptStreamTest, WriteIsAProgrammingError) {
  Item item(Plaintext(8));
  const std::uint8_t b[8] = {};
  try {
    item.Stream->Write(b, 8);
    ADD_FAILURE() << "Write returned";
  } catch (const TObject& e) {
    EXPECT_EQ(typeid(e), typeid(TObject));
  }
}

} // namespace
} // namespace vexa
