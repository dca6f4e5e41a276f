#include "streams/resource_stream.h"

#include <numeric>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/memory_resource_module.h"

namespace vexa {
namespace {

std::vector<std::uint8_t> Counting(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

class ResourceStreamTest : public ::testing::Test {
protected:
  ResourceStreamTest() {
    Module.Add("ITEM1", Counting(40));
    Module.Add("EMPTY", std::vector<std::uint8_t>{});
  }
  test::MemoryResourceModule Module;
};

TEST_F(ResourceStreamTest, NamesMatchWithoutRegardToCase) {
  for (const char* name : {"Item1", "ITEM1", "item1", "iTeM1"}) {
    TResourceStream stream(Module, name);
    EXPECT_EQ(stream.Size(), 40) << name;
  }
  EXPECT_EQ(Module.Outstanding(), 0);
}

TEST_F(ResourceStreamTest, MissingResourceRaisesAndHoldsNothing) {
  EXPECT_THROW(TResourceStream(Module, "Item11"), TStreamReadException);
  EXPECT_EQ(Module.Outstanding(), 0);
}

TEST_F(ResourceStreamTest, EmptyResourceReadsZero) {
  TResourceStream stream(Module, "Empty");
  std::uint8_t b;
  EXPECT_EQ(stream.Read(&b, 1), 0);
}

TEST_F(ResourceStreamTest, ReadsStopAtTheEnd) {
  TResourceStream stream(Module, "Item1");
  std::uint8_t buffer[100];
  stream.SetPosition(30);
  EXPECT_EQ(stream.Read(buffer, 100), 10);
  EXPECT_EQ(buffer[0], 30);
  EXPECT_EQ(buffer[9], 39);
  EXPECT_EQ(stream.Position(), 40);
  EXPECT_EQ(stream.Read(buffer, 100), 0);
}

TEST_F(ResourceStreamTest, SeeksOutsideTheResourceRaiseAndKeepThePosition) {
  TResourceStream stream(Module, "Item1");
  EXPECT_EQ(stream.Seek(0, soEnd), 40);
  std::uint8_t b;
  EXPECT_EQ(stream.Read(&b, 1), 0);
  EXPECT_EQ(stream.Seek(40, soBeginning), 40);
  stream.SetPosition(0);
  EXPECT_THROW(stream.Seek(41, soBeginning), TStreamReadException);
  EXPECT_THROW(stream.Seek(-1, soCurrent), TStreamReadException);
  EXPECT_THROW(stream.Seek(0, 3), TStreamReadException);
  EXPECT_EQ(stream.Position(), 0);
}

TEST_F(ResourceStreamTest, SizeLeavesThePositionWhereItWas) {
  TResourceStream stream(Module, "Item1");
  stream.SetPosition(17);
  EXPECT_EQ(stream.Size(), 40);
  EXPECT_EQ(stream.Position(), 17);
}

TEST_F(ResourceStreamTest, ReadBufferDemandsTheWholeCount) {
  TResourceStream stream(Module, "Item1");
  std::vector<std::uint8_t> buffer(4096);
  stream.ReadBuffer(buffer.data(), 0);
  EXPECT_EQ(stream.Position(), 0);
  stream.SetPosition(40 - 10);
  try {
    stream.ReadBuffer(buffer.data(), 4096);
    FAIL() << "no EReadError";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.message(), "Stream read error");
  }
  EXPECT_EQ(stream.Position(), 40); // the short read's bytes are consumed
}

// Records the bytes the stream says it is done with.
class DoneWithRecorder : public test::MemoryResourceModule {
public:
  void DoneWith(const std::uint8_t* Begin, std::size_t Count) const override {
    Spans.emplace_back(Begin, Count);
  }
  mutable std::vector<std::pair<const std::uint8_t*, std::size_t>> Spans;
};

TEST(ResourceStreamDoneWith, HandsBackOnlyWhatLiesBehindTheReader) {
  constexpr std::int32_t MiB = 1 << 20;
  DoneWithRecorder module;
  module.Add("BIG", Counting(3 * MiB + MiB / 2 + 5));
  const TResourceModule::Loaded handle = module.Load(module.Find("BIG"));
  const std::uint8_t* const base = module.Lock(handle);
  module.Free(handle);

  TResourceStream stream(module, "Big");
  std::vector<std::uint8_t> buffer(61440);
  const std::uint8_t* expectedBegin = base;
  std::size_t seen = 0;
  while (stream.Read(buffer.data(), static_cast<std::int32_t>(buffer.size())) > 0) {
    for (; seen < module.Spans.size(); ++seen) {
      const auto [begin, count] = module.Spans[seen];
      EXPECT_EQ(begin, expectedBegin) << "spans follow each other";
      EXPECT_GE(count, 65536u) << "handed back in large steps, not read by read";
      EXPECT_LE(begin + count, base + stream.Position()) << "nothing ahead of the reader";
      expectedBegin = begin + count;
    }
  }
  EXPECT_GE(expectedBegin, base + 3 * MiB) << "most of it handed back by the end";

  // After a seek back, the bytes read again are handed back again.
  stream.SetPosition(MiB / 2);
  module.Spans.clear();
  for (int i = 0; i < MiB / 61440 + 1; ++i)
    stream.ReadBuffer(buffer.data(), static_cast<std::int32_t>(buffer.size()));
  ASSERT_FALSE(module.Spans.empty());
  EXPECT_EQ(module.Spans[0].first, base + MiB / 2);
}

TEST(ResourceStreamDoneWith, HandsBackWhatWasReadOfASmallResourceWhenClosed) {
  DoneWithRecorder module;
  module.Add("SMALL", Counting(5000));
  const TResourceModule::Loaded handle = module.Load(module.Find("SMALL"));
  const std::uint8_t* const base = module.Lock(handle);
  module.Free(handle);
  {
    TResourceStream stream(module, "Small");
    std::vector<std::uint8_t> buffer(3000);
    stream.ReadBuffer(buffer.data(), 3000);
    EXPECT_TRUE(module.Spans.empty()) << "nothing handed back read by read";
  }
  ASSERT_EQ(module.Spans.size(), 1u);
  EXPECT_EQ(module.Spans[0].first, base);
  EXPECT_EQ(module.Spans[0].second, 3000u) << "only what was read";
  { TResourceStream unread(module, "Small"); }
  EXPECT_EQ(module.Spans.size(), 1u) << "nothing read, nothing handed back";
}

TEST(LoadResourceTextTest, TextEndsAtTheFirstNulOrTheResourceEnd) {
  test::MemoryResourceModule module;
  module.Add("WELCOMETEXT", std::string("Install?\0junk", 13));
  module.Add("NONUL", std::string("whole"));
  module.Add("LEADNUL", std::string("\0x", 2));
  EXPECT_EQ(LoadResourceText(module, "WelcomeText"), "Install?");
  EXPECT_EQ(LoadResourceText(module, "NoNul"), "whole");
  EXPECT_EQ(LoadResourceText(module, "LeadNul"), "");
  EXPECT_EQ(LoadResourceText(module, "WelcomeTitle"), "");
  EXPECT_EQ(module.Outstanding(), 0);
}

TEST(LoadResourceTextTest, WideTextEndsAtTheFirstNulUnitOrTheLastWholeUnit) {
  test::MemoryResourceModule module;
  // "Да?" in UTF-16LE: the high byte of a unit is no end, only a whole NUL unit is.
  module.Add("WELCOMETEXTW", std::string("\x14\x04\x30\x04?\0\0\0x\0", 10));
  module.Add("ODD", std::string("A\0\x00\x01", 4) + 'B');
  module.Add("NULFIRST", std::string("\0\0A\0", 4));
  EXPECT_EQ(LoadResourceWideText(module, "WelcomeTextW"), u"Да?");
  EXPECT_EQ(LoadResourceWideText(module, "Odd"), u"A\u0100");
  EXPECT_EQ(LoadResourceWideText(module, "NulFirst"), u"");
  EXPECT_EQ(LoadResourceWideText(module, "WelcomeTitleW"), u"");
  EXPECT_EQ(module.Outstanding(), 0);
}

} // namespace
} // namespace vexa
