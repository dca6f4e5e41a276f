#include "pe/version_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "pe/pe_test_util.h"

namespace vexa::pe {
namespace {

using test::Bytes;

void ExpectSame(const VersionInfo& Read, const VersionInfo& Written) {
  EXPECT_EQ(Read.FileVersion, Written.FileVersion);
  EXPECT_EQ(Read.ProductVersion, Written.ProductVersion);
  EXPECT_EQ(Read.Strings, Written.Strings);
}

// Keys and values of every length parity, so that each padding case occurs; texts beyond
// Latin-1 and outside the basic plane pass unchanged.
TEST(VersionInfo, ReadsBackWhatItBuilds) {
  const VersionInfo cases[] = {
      {},
      {{1, 2, 3, 4}, {65535, 0, 7, 0}, {{u"FileDescription", u"Setup"}}},
      {{},
       {2, 1, 0, 0},
       {{u"CompanyName", u"Société Générale"},
        {u"ProductName", u"日本語の製品"},
        {u"ProductVersion", u"2.1-beta \U0001F600"},
        {u"LegalCopyright", u"(c)"},
        {u"A", u""},
        {u"AB", u"x"}}},
  };
  for (const VersionInfo& info : cases) {
    const Bytes built = BuildVersionInfo(info);
    ASSERT_GE(built.size(), 6u);
    EXPECT_EQ(built[0] | built[1] << 8, static_cast<int>(built.size()));
    const std::optional<VersionInfo> read = ParseVersionInfo(built);
    ASSERT_TRUE(read);
    ExpectSame(*read, info);
  }
}

// The resource compiler's block for the stub and ours for what it holds are the same bytes:
// the layout is the one Windows reads.
TEST(VersionInfo, BuildsTheResourceCompilersLayout) {
#ifndef VEXA_STUB_IMAGE
  GTEST_SKIP() << "configure with -DVEXA_WIN32_BUILD_DIR to test against the stub";
#else
  ASSERT_TRUE(std::filesystem::exists(VEXA_STUB_IMAGE)) << VEXA_STUB_IMAGE << " not built";
  const Bytes image = test::ReadAll(VEXA_STUB_IMAGE);
  const PeImage stub = PeImage::Parse(image);
  const auto found = std::find_if(stub.Entries().begin(), stub.Entries().end(),
                                  [](const ResourceEntry& e) { return e.Type.Id == RtVersion; });
  ASSERT_NE(found, stub.Entries().end());
  const Bytes compiled(found->Data.begin(), found->Data.end());
  const std::optional<VersionInfo> read = ParseVersionInfo(compiled);
  ASSERT_TRUE(read);
  const auto description =
      std::find_if(read->Strings.begin(), read->Strings.end(),
                   [](const auto& s) { return s.first == u"FileDescription"; });
  ASSERT_NE(description, read->Strings.end());
  EXPECT_EQ(description->second, u"Vexa self-extracting archive");
  EXPECT_EQ(BuildVersionInfo(*read), compiled);
#endif
}

TEST(VersionInfo, RefusesWhatItCannotWrite) {
  EXPECT_THROW(BuildVersionInfo({{}, {}, {{u"CompanyName", std::u16string(u"a\0b", 3)}}}),
               PeWriteError);
  EXPECT_THROW(BuildVersionInfo({{}, {}, {{u"Comments", std::u16string(40000, u'x')}}}),
               PeWriteError);
}

// A cut block is no version resource, and lengths that claim more than there is read no
// byte outside the data (the sanitizer build watches).
TEST(VersionInfo, ReadsDamagedBlocksWithinTheirBytes) {
  const Bytes built = BuildVersionInfo({{1, 0, 0, 0}, {1, 0, 0, 0}, {{u"ProductName", u"Name"}}});
  for (std::size_t size = 0; size < built.size(); ++size)
    EXPECT_FALSE(ParseVersionInfo(std::span(built).first(size))) << size;
  for (std::size_t at = 0; at + 1 < built.size(); at += 2) {
    Bytes damaged = built;
    damaged[at] = 0xFF;
    damaged[at + 1] = 0xFF;
    ParseVersionInfo(damaged);
  }
  Bytes otherRoot = built;
  otherRoot[6] = 'W';
  EXPECT_FALSE(ParseVersionInfo(otherRoot));
}

} // namespace
} // namespace vexa::pe
