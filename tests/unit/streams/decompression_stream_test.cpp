#include "streams/decompression_stream.h"

#include <gtest/gtest.h>
#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <list>
#include <new>
#include <string>
#include <vector>

#include "archive/lzma2_item.h"
#include "streams/lzma2_decompression_stream.h"
#include "streams/resource_stream.h"
#include "support/memory_resource_module.h"
#include "support/random_bytes.h"

// Lets a test make the program's heap refuse zlib's allocations. The stream's hooks take
// memory with the nothrow operator new, so this replacement sees every one of them; it
// behaves as the standard one unless a test arms it.
namespace {
int NothrowAllocationsBeforeFailure = -1; // -1: never fail
} // namespace

void* operator new(std::size_t Size, const std::nothrow_t&) noexcept {
  if (NothrowAllocationsBeforeFailure == 0)
    return nullptr;
  if (NothrowAllocationsBeforeFailure > 0)
    --NothrowAllocationsBeforeFailure;
  try {
    return ::operator new(Size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

namespace vexa {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Incompressible(std::size_t Size) { return test::RandomBytes(Size, 12345); }

Bytes Compressible(std::size_t Size) {
  Bytes bytes(Size);
  for (std::size_t i = 0; i < Size; ++i)
    bytes[i] = static_cast<std::uint8_t>("abcdefgh"[(i * i / 7) % 8]);
  return bytes;
}

// Reference compression with zlib itself, independent of the packer's compressor.
Bytes Deflate(const Bytes& Plain) {
  uLongf size = compressBound(static_cast<uLong>(Plain.size()));
  Bytes out(size);
  EXPECT_EQ(compress2(out.data(), &size, Plain.data(), static_cast<uLong>(Plain.size()), 6), Z_OK);
  out.resize(size);
  return out;
}

// An LZMA2 item's data made with liblzma itself, independent of the packer: the prefix,
// the raw stream, through the x86 filter when asked, and the Adler-32 trailer. Its
// dictionary holds the whole input, as the packer's does.
Bytes Lzma2Item(const Bytes& Plain, bool X86 = false) {
  lzma_options_lzma options;
  EXPECT_FALSE(lzma_lzma_preset(&options, 6));
  options.dict_size =
      std::max<std::uint32_t>(LZMA_DICT_SIZE_MIN, static_cast<std::uint32_t>(Plain.size()));
  const lzma_filter filters[] = {{X86 ? LZMA_FILTER_X86 : LZMA_VLI_UNKNOWN, nullptr},
                                 {LZMA_FILTER_LZMA2, &options},
                                 {LZMA_VLI_UNKNOWN, nullptr}};
  const lzma_filter* chain = X86 ? filters : filters + 1;
  lzma_filter properties = {LZMA_FILTER_LZMA2, &options};
  std::uint32_t size = 0;
  EXPECT_EQ(lzma_properties_size(&size, &properties), LZMA_OK);
  Bytes out(Plain.size() + Plain.size() / 2 + 4096);
  out[0] = X86 ? Lzma2Item::X86Filter : Lzma2Item::NoFilter;
  EXPECT_EQ(lzma_properties_encode(&properties, &out[1]), LZMA_OK);
  std::size_t position = Lzma2Item::PrefixSize;
  EXPECT_EQ(lzma_raw_buffer_encode(chain, nullptr, Plain.data(), Plain.size(), out.data(),
                                   &position, out.size()),
            LZMA_OK);
  out.resize(position);
  const uLong checksum = adler32(1, Plain.data(), static_cast<uInt>(Plain.size()));
  for (const int shift : {24, 16, 8, 0})
    out.push_back(static_cast<std::uint8_t>(checksum >> shift));
  return out;
}

// x86 code as the filter sees it: calls and jumps among other bytes.
Bytes MachineCode(std::size_t Size) {
  Bytes bytes = test::RandomBytes(Size, 777);
  for (std::size_t i = 0; i + 5 <= Size; i += 13) {
    bytes[i] = 0xE8;
    bytes[i + 4] = static_cast<std::uint8_t>(i % 3 == 0 ? 0x00 : 0xFF);
  }
  return bytes;
}

template <class E, class F> std::string MessageOf(F&& Action) {
  try {
    Action();
  } catch (const E& e) {
    return e.message();
  }
  return "no exception";
}

// Passes everything through to a resource stream and counts the Reads it is asked for.
class TCountingStream : public TReadOnlyStream {
public:
  explicit TCountingStream(TStream& Inner) : Inner(Inner) {}
  std::int32_t Read(void* Buffer, std::int32_t Count) override {
    ReadCounts.push_back(Count);
    return Inner.Read(Buffer, Count);
  }
  std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) override {
    return Inner.Seek(Offset, Origin);
  }
  std::vector<std::int32_t> ReadCounts;

private:
  TStream& Inner;
};

class DecompressionStreamTest : public ::testing::Test {
protected:
  // A new resource holding Stored, opened as a stream to read from.
  TResourceStream& Source(Bytes Stored) {
    const std::string name = "Item" + std::to_string(Resources.size() + 1);
    Module.Add(name, std::move(Stored));
    return Resources.emplace_back(Module, name);
  }

  // Everything the stream delivers, read with Count at a time.
  static Bytes ReadAll(TStream& Stream, std::int32_t Count = 61440) {
    Bytes all;
    Bytes buffer(static_cast<std::size_t>(Count));
    while (const std::int32_t n = Stream.Read(buffer.data(), Count))
      all.insert(all.end(), buffer.begin(), buffer.begin() + n);
    return all;
  }

  test::MemoryResourceModule Module;
  std::list<TResourceStream> Resources;
};

TEST_F(DecompressionStreamTest, ReadsFillTheBufferUntilTheDataEnds) {
  const Bytes plain = Compressible(100000);
  TDecompressionStream stream(Source(Deflate(plain)));
  Bytes buffer(61440);
  Bytes got;
  for (const std::int32_t expected : {61440, 38560, 0}) {
    const std::int32_t n = stream.Read(buffer.data(), 61440);
    EXPECT_EQ(n, expected);
    got.insert(got.end(), buffer.begin(), buffer.begin() + n);
  }
  EXPECT_EQ(got, plain);
  EXPECT_EQ(stream.Position(), 100000);
  EXPECT_TRUE(stream.StreamEnded());
  EXPECT_EQ(stream.Read(buffer.data(), 61440), 0);
}

TEST_F(DecompressionStreamTest, SourceIsReadOnDemandIn65536ByteChunks) {
  const Bytes plain = Incompressible(200000);
  TCountingStream counting(Source(Deflate(plain)));
  TDecompressionStream stream(counting);
  struct TSeen {
    int Refills = 0;
    TObject* Sender = nullptr;
  } seen;
  stream.OnProgress = {[](void* Data, TObject& Sender) {
                         auto& seen = *static_cast<TSeen*>(Data);
                         ++seen.Refills;
                         seen.Sender = &Sender;
                       },
                       &seen};

  char byte;
  EXPECT_EQ(stream.Read(&byte, 0), 0);
  EXPECT_TRUE(counting.ReadCounts.empty());

  EXPECT_EQ(ReadAll(stream), plain);
  ASSERT_FALSE(counting.ReadCounts.empty());
  for (const std::int32_t count : counting.ReadCounts)
    EXPECT_EQ(count, 65536);
  // The stored stream is a little over 200000 bytes: four chunks, no further source Read
  // once the data has ended.
  EXPECT_EQ(counting.ReadCounts.size(), 4u);
  EXPECT_EQ(seen.Refills, 4);
  EXPECT_EQ(seen.Sender, &stream);
}

TEST_F(DecompressionStreamTest, SourceMovedBetweenReadsIsPutBack) {
  const Bytes plain = Incompressible(150000);
  TResourceStream& source = Source(Deflate(plain));
  TDecompressionStream stream(source);
  Bytes got(1000);
  ASSERT_EQ(stream.Read(got.data(), 1000), 1000);
  source.SetPosition(7);
  const Bytes rest = ReadAll(stream);
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(got, plain);
}

TEST_F(DecompressionStreamTest, SeekSkipsForwardAndRefusesEverythingElse) {
  const Bytes plain = Incompressible(8000);
  TDecompressionStream stream(Source(Deflate(plain)));
  const auto invalid = [&](std::int32_t Offset, std::uint16_t Origin) {
    return MessageOf<EDecompressionError>([&] { stream.Seek(Offset, Origin); });
  };
  EXPECT_EQ(invalid(0, soEnd), "Invalid stream operation");
  EXPECT_EQ(MessageOf<EDecompressionError>([&] { stream.Size(); }), "Invalid stream operation");

  Bytes buffer(100);
  ASSERT_EQ(stream.Read(buffer.data(), 100), 100);
  EXPECT_EQ(invalid(10, soBeginning), "Invalid stream operation");
  EXPECT_EQ(invalid(100, soBeginning), "Invalid stream operation");
  EXPECT_EQ(invalid(-1, soCurrent), "Invalid stream operation");
  EXPECT_EQ(invalid(0, 3), "Invalid stream operation");
  EXPECT_EQ(stream.Seek(0, soCurrent), 100);

  EXPECT_EQ(stream.Seek(10, soCurrent), 110);
  std::uint8_t byte;
  ASSERT_EQ(stream.Read(&byte, 1), 1);
  EXPECT_EQ(byte, plain[110]);
  // Longer than the 4096-byte scratch: whole rounds plus a remainder.
  EXPECT_EQ(stream.Seek(5000, soBeginning), 5000);
  ASSERT_EQ(stream.Read(&byte, 1), 1);
  EXPECT_EQ(byte, plain[5000]);

  // 2999 bytes are left: they are consumed, then the skip fails.
  EXPECT_EQ(MessageOf<EReadError>([&] { stream.Seek(5000, soCurrent); }), "Stream read error");
  EXPECT_EQ(stream.Position(), 8000);
  EXPECT_EQ(stream.Read(&byte, 1), 0);
}

TEST_F(DecompressionStreamTest, SeekToZeroStartsOverWhereTheDataBegan) {
  const Bytes plain = Incompressible(100000);
  Bytes stored(10,
               0xEE); // the compressed data starts at offset 10 of its source
  const Bytes compressed = Deflate(plain);
  stored.insert(stored.end(), compressed.begin(), compressed.end());
  TResourceStream& source = Source(stored);
  source.SetPosition(10);
  TDecompressionStream stream(source);

  Bytes buffer(70000);
  ASSERT_EQ(stream.Read(buffer.data(), 70000), 70000);
  EXPECT_EQ(stream.Seek(0, soBeginning), 0);
  EXPECT_EQ(ReadAll(stream), plain);
  EXPECT_TRUE(stream.StreamEnded());
  EXPECT_EQ(stream.Seek(0, soBeginning), 0);
  EXPECT_FALSE(stream.StreamEnded());
  EXPECT_EQ(ReadAll(stream, 4096), plain);
}

TEST_F(DecompressionStreamTest, WriteIsRefused) {
  TDecompressionStream stream(Source(Deflate(Compressible(10))));
  const std::uint8_t bytes[10] = {};
  EXPECT_EQ(MessageOf<EDecompressionError>([&] { stream.Write(bytes, 0); }),
            "Invalid stream operation");
  EXPECT_EQ(MessageOf<EDecompressionError>([&] { stream.Write(bytes, 10); }),
            "Invalid stream operation");
}

TEST_F(DecompressionStreamTest, DamagedDataRaisesError) {
  const Bytes plain = Incompressible(100000);
  Bytes buffer(61440);

  Bytes notZlib = Deflate(plain);
  notZlib[0] = 0x77; // compression method 7
  {
    TDecompressionStream stream(Source(notZlib));
    EXPECT_EQ(MessageOf<EDecompressionError>([&] { stream.Read(buffer.data(), 61440); }), "error");
  }

  Bytes corrupt = Deflate(plain);
  corrupt[2] ^= 0xFF; // first block header
  {
    TDecompressionStream stream(Source(corrupt));
    EXPECT_EQ(MessageOf<EDecompressionError>([&] { ReadAll(stream); }), "error");
    // The inflater stays failed while input remains.
    EXPECT_EQ(MessageOf<EDecompressionError>([&] { stream.Read(buffer.data(), 61440); }), "error");
  }

  Bytes badChecksum = Deflate(plain);
  badChecksum.back() ^= 1;
  {
    TDecompressionStream stream(Source(badChecksum));
    ASSERT_EQ(stream.Read(buffer.data(), 61440), 61440);
    EXPECT_EQ(MessageOf<EDecompressionError>([&] { ReadAll(stream); }), "error");
    EXPECT_FALSE(stream.StreamEnded());
  }
}

TEST_F(DecompressionStreamTest, PresetDictionaryIsCorruptData) {
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 6), Z_OK);
  const Bytes dictionary = Compressible(100);
  ASSERT_EQ(deflateSetDictionary(&z, dictionary.data(), 100), Z_OK);
  Bytes plain = Compressible(1000);
  Bytes out(2000);
  z.next_in = plain.data();
  z.avail_in = 1000;
  z.next_out = out.data();
  z.avail_out = 2000;
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);

  TDecompressionStream stream(Source(out));
  Bytes buffer(1000);
  EXPECT_EQ(MessageOf<EDecompressionError>([&] { stream.Read(buffer.data(), 1000); }), "error");
}

TEST_F(DecompressionStreamTest, CutShortDataEndsWithoutFailureButNotEnded) {
  const Bytes plain = Incompressible(150000);
  const Bytes compressed = Deflate(plain);
  TDecompressionStream stream(Source(Bytes(compressed.begin(), compressed.end() - 20000)));
  const Bytes got = ReadAll(stream);
  ASSERT_GT(got.size(), 100000u);
  ASSERT_LT(got.size(), plain.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), plain.begin()));
  char byte;
  EXPECT_EQ(stream.Read(&byte, 1), 0);
  EXPECT_FALSE(stream.StreamEnded());

  // Only the Adler-32 trailer missing: every byte arrives, yet the item is incomplete.
  TDecompressionStream noTrailer(Source(Bytes(compressed.begin(), compressed.end() - 4)));
  EXPECT_EQ(ReadAll(noTrailer), plain);
  EXPECT_FALSE(noTrailer.StreamEnded());

  TDecompressionStream empty(Source(Bytes{}));
  EXPECT_EQ(empty.Read(&byte, 1), 0);
  EXPECT_FALSE(empty.StreamEnded());
}

// Whatever zlib decoded before the cut comes out, also when the last Read before the
// source ran dry had no room for it: small reads leave the rest of a match pending.
TEST_F(DecompressionStreamTest, CutShortDataDeliversEveryByteDecodedBeforeTheCut) {
  const Bytes compressed = Deflate(Compressible(3000));
  for (std::size_t cut = 2; cut < compressed.size(); ++cut) {
    const Bytes head(compressed.begin(), compressed.begin() + cut);
    Bytes expected(3000);
    z_stream z{};
    inflateInit(&z);
    z.next_in = const_cast<Bytef*>(head.data());
    z.avail_in = static_cast<uInt>(head.size());
    z.next_out = expected.data();
    z.avail_out = static_cast<uInt>(expected.size());
    inflate(&z, Z_NO_FLUSH);
    expected.resize(z.total_out);
    inflateEnd(&z);

    TDecompressionStream stream(Source(head));
    EXPECT_EQ(ReadAll(stream, 7), expected) << "cut after " << cut << " bytes";
  }
}

TEST_F(DecompressionStreamTest, BytesAfterTheDataAreIgnored) {
  const Bytes plain = Compressible(5000);
  Bytes stored = Deflate(plain);
  const Bytes junk = Incompressible(100000);
  stored.insert(stored.end(), junk.begin(), junk.end());

  TDecompressionStream stream(Source(stored));
  Bytes buffer(61440);
  EXPECT_EQ(stream.Read(buffer.data(), 61440), 5000);
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), buffer.begin()));
  EXPECT_TRUE(stream.StreamEnded());
  EXPECT_EQ(stream.Read(buffer.data(), 61440), 0);

  // Asked for exactly the data's length, the end is only met by the next Read.
  TDecompressionStream exact(Source(stored));
  EXPECT_EQ(exact.Read(buffer.data(), 5000), 5000);
  EXPECT_EQ(exact.Read(buffer.data(), 61440), 0);
  EXPECT_TRUE(exact.StreamEnded());
}

TEST_F(DecompressionStreamTest, OutOfMemoryRaisesBadAlloc) {
  struct Disarm {
    ~Disarm() { NothrowAllocationsBeforeFailure = -1; }
  } disarm;
  TResourceStream& source = Source(Deflate(Compressible(100000)));

  NothrowAllocationsBeforeFailure = 0;
  EXPECT_THROW(TDecompressionStream{source}, std::bad_alloc);

  // zlib takes its window when a Read stops before the end of the data.
  NothrowAllocationsBeforeFailure = 1;
  TDecompressionStream stream(source);
  Bytes buffer(1000);
  EXPECT_THROW(stream.Read(buffer.data(), 1000), std::bad_alloc);
}

// The LZMA2 stream: the same reading contract over the decoder of LZMA2 items.

TEST_F(DecompressionStreamTest, Lzma2ItemsRoundTripWithAndWithoutTheFilter) {
  for (const bool x86 : {false, true})
    for (const std::size_t size : {0, 1, 4, 5, 9, 65535, 65536, 65541, 300000}) {
      const Bytes plain = x86 ? MachineCode(size) : Compressible(size);
      for (const std::int32_t count : {1, 4093, 61440}) {
        TLzma2DecompressionStream stream(Source(Lzma2Item(plain, x86)), size);
        EXPECT_EQ(ReadAll(stream, count), plain) << size << (x86 ? " x86 " : " ") << count;
        EXPECT_TRUE(stream.StreamEnded());
        EXPECT_EQ(stream.Position(), static_cast<std::int32_t>(size));
      }
    }
}

TEST_F(DecompressionStreamTest, Lzma2SeekSkipsForwardAndRefusesEverythingElse) {
  const Bytes plain = Incompressible(8000);
  TLzma2DecompressionStream stream(Source(Lzma2Item(plain)), plain.size());
  Bytes buffer(100);
  ASSERT_EQ(stream.Read(buffer.data(), 100), 100);
  EXPECT_EQ(MessageOf<EDecompressionError>([&] { stream.Seek(0, soBeginning); }),
            "Invalid stream operation");
  EXPECT_EQ(MessageOf<EDecompressionError>([&] { stream.Seek(0, soEnd); }),
            "Invalid stream operation");
  EXPECT_EQ(stream.Seek(5000, soBeginning), 5000);
  std::uint8_t byte;
  ASSERT_EQ(stream.Read(&byte, 1), 1);
  EXPECT_EQ(byte, plain[5000]);
  EXPECT_EQ(MessageOf<EReadError>([&] { stream.Seek(5000, soCurrent); }), "Stream read error");
}

// Every damage fails as a damaged zlib item does, and the stream stays failed.
TEST_F(DecompressionStreamTest, DamagedLzma2ItemsRaiseError) {
  const Bytes plain = Compressible(200000);
  const Bytes good = Lzma2Item(plain);
  struct TCase {
    const char* What;
    Bytes Stored;
    std::uint64_t PlainSize;
  };
  const auto with = [&](std::size_t Offset, std::uint8_t Value) {
    Bytes bytes = good;
    bytes[Offset] = Value;
    return bytes;
  };
  Bytes trailing = good;
  trailing.push_back(0);
  const std::uint8_t fitting = Lzma2Item::SmallestDictionaryByte(plain.size());
  const TCase cases[] = {
      {"unknown filter", with(0, 2), plain.size()},
      {"dictionary larger than the data", with(1, fitting + 1), plain.size()},
      {"dictionary no encoder writes", with(1, 40), 1ull << 32},
      {"corrupt chunk header", with(2, 0x03), plain.size()},
      {"corrupt properties", with(7, 0xFF), plain.size()},
      {"corrupt data", with(good.size() / 2, good[good.size() / 2] ^ 0x55), plain.size()},
      {"more bytes than the items hold", good, plain.size() - 1},
      {"fewer bytes than the items hold", good, plain.size() + 1},
      {"checksum mismatch", with(good.size() - 1, good.back() ^ 1), plain.size()},
      {"bytes after the trailer", trailing, plain.size()},
  };
  for (const TCase& c : cases) {
    TLzma2DecompressionStream stream(Source(c.Stored), c.PlainSize);
    // Damage found at the stream's end comes after every byte before it, at most the
    // items' bytes: a block's earlier items come out whole.
    Bytes before;
    EXPECT_EQ(MessageOf<EDecompressionError>([&] {
                Bytes buffer(4093);
                while (const std::int32_t n = stream.Read(buffer.data(), 4093))
                  before.insert(before.end(), buffer.begin(), buffer.begin() + n);
              }),
              "error")
        << c.What;
    if (c.Stored.size() == good.size() + 1 || c.PlainSize + 1 == plain.size() ||
        c.PlainSize == plain.size() + 1 || c.Stored.back() != good.back()) {
      EXPECT_EQ(before, Bytes(plain.begin(),
                              plain.begin() + std::min<std::size_t>(plain.size(), c.PlainSize)))
          << c.What;
    }
    EXPECT_FALSE(stream.StreamEnded()) << c.What;
    std::uint8_t byte;
    EXPECT_EQ(MessageOf<EDecompressionError>([&] { stream.Read(&byte, 1); }), "error") << c.What;
  }
}

TEST_F(DecompressionStreamTest, CutShortLzma2ItemsEndWithoutFailureButNotEnded) {
  const Bytes plain = MachineCode(100000);
  const Bytes stored = Lzma2Item(plain, true);
  for (const std::size_t cut :
       {std::size_t{0}, std::size_t{1}, std::size_t{2}, stored.size() / 2, stored.size() - 1}) {
    TLzma2DecompressionStream stream(Source(Bytes(stored.begin(), stored.begin() + cut)),
                                     plain.size());
    const Bytes got = ReadAll(stream, 777);
    EXPECT_LE(got.size(), plain.size()) << cut;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), plain.begin())) << cut;
    EXPECT_FALSE(stream.StreamEnded()) << cut;
  }
}

TEST_F(DecompressionStreamTest, Lzma2OutOfMemoryRaisesBadAlloc) {
  struct Disarm {
    ~Disarm() { NothrowAllocationsBeforeFailure = -1; }
  } disarm;
  for (const int allowed : {0, 1}) { // the probabilities, then the dictionary
    TLzma2DecompressionStream stream(Source(Lzma2Item(Compressible(1000))), 1000);
    NothrowAllocationsBeforeFailure = allowed;
    Bytes buffer(1000);
    EXPECT_THROW(stream.Read(buffer.data(), 1000), std::bad_alloc) << allowed;
  }
}

} // namespace
} // namespace vexa
