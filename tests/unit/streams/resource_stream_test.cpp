#include "streams/resource_stream.h"

#include <numeric>
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

} // namespace
} // namespace vexa
