#pragma once
// Helpers of the PE tests: synthetic PE32 images, scratch files, and the view of an image
// through readers that are not ours (python3-pefile and wrestool, via pe_check.py).

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pe/byte_order.h"
#include "pe/pe_image.h"
#include "pe/resource_data.h"

namespace vexa::pe::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint32_t ImageFileAlignment = 0x200;
inline constexpr std::uint32_t ImageSectionAlignment = 0x1000;

// A PE32 GUI image: headers of HeaderSize bytes, Count code sections of one file block
// each, and, when Rsrc is not empty, a last section ".rsrc" holding those bytes as the
// resource directory (the tests' hand-made trees use offsets relative to its start).
inline Bytes MinimalImage(int Count = 1, const Bytes& Rsrc = {},
                          std::uint32_t HeaderSize = ImageFileAlignment) {
  using detail::Put16;
  using detail::Put32;
  const int sections = Count + (Rsrc.empty() ? 0 : 1);
  const std::uint32_t rsrcRaw = (static_cast<std::uint32_t>(Rsrc.size()) + ImageFileAlignment - 1) /
                                ImageFileAlignment * ImageFileAlignment;
  Bytes b(HeaderSize + ImageFileAlignment * Count + rsrcRaw);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(&b[0x3C], 0x40);
  std::memcpy(&b[0x40], "PE\0\0", 4);
  std::uint8_t* file = &b[0x44];
  Put16(file, 0x14C);
  Put16(file + 2, static_cast<std::uint16_t>(sections));
  Put16(file + 16, 224);
  Put16(file + 18, 0x102);
  std::uint8_t* opt = file + 20;
  Put16(opt, 0x10B);
  Put32(opt + 16, ImageSectionAlignment); // entry point
  Put32(opt + 28, 0x400000);              // image base
  Put32(opt + 32, ImageSectionAlignment);
  Put32(opt + 36, ImageFileAlignment);
  Put16(opt + 40, 4); // OS version
  Put16(opt + 48, 4); // subsystem version
  Put32(opt + 56, ImageSectionAlignment * (1 + sections));
  Put32(opt + 60, HeaderSize);
  Put16(opt + 68, 2); // GUI
  Put32(opt + 92, 16);
  std::uint8_t* table = opt + 224;
  for (int i = 0; i < sections; ++i) {
    std::uint8_t* s = table + 40 * i;
    const bool rsrc = i == Count;
    std::memcpy(s, rsrc ? ".rsrc" : ".text", 5);
    Put32(s + 8, rsrc ? static_cast<std::uint32_t>(Rsrc.size()) : 0x10);
    Put32(s + 12, ImageSectionAlignment * (1 + i));
    Put32(s + 16, rsrc ? rsrcRaw : ImageFileAlignment);
    Put32(s + 20, HeaderSize + ImageFileAlignment * i);
    Put32(s + 36, rsrc ? 0x40000040 : 0x60000020);
    if (!rsrc)
      b[HeaderSize + ImageFileAlignment * i] = 0xC3;
  }
  if (!Rsrc.empty()) {
    Put32(opt + 96 + 16, ImageSectionAlignment * (1 + Count));
    Put32(opt + 96 + 20, static_cast<std::uint32_t>(Rsrc.size()));
    std::copy(Rsrc.begin(), Rsrc.end(), b.begin() + HeaderSize + ImageFileAlignment * Count);
  }
  return b;
}

inline Bytes ReadAll(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& Path, const Bytes& Data) {
  std::ofstream(Path, std::ios::binary)
      .write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
}

// A folder of its own under the system's temporary folder, removed with everything in it.
class ScratchDir {
public:
  ScratchDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "vexa-pe-XXXXXX").string();
    Dir = ::mkdtemp(templ.data());
  }
  ~ScratchDir() { std::filesystem::remove_all(Dir); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string operator/(const std::string& Name) const { return (Dir / Name).string(); }

private:
  std::filesystem::path Dir;
};

inline Resource RcData(const std::string& Name, Bytes Data, std::uint16_t Language = 0) {
  return {ResourceKey::FromId(RtRcData), ResourceKey::FromName(Name), Language, 0,
          std::make_shared<BytesData>(std::move(Data))};
}

inline Bytes Pattern(std::size_t Size, std::uint8_t Seed) {
  Bytes b(Size);
  for (std::size_t i = 0; i < Size; ++i)
    b[i] = static_cast<std::uint8_t>(Seed + i * 7 + (i >> 8));
  return b;
}

// The image the win32 build made from tests/unit/pe/fixture; empty when this build was
// configured without the win32 build's folder.
inline std::string FixturePath() {
#ifdef VEXA_PE_FIXTURE
  return VEXA_PE_FIXTURE;
#else
  return {};
#endif
}

#define VEXA_REQUIRE_FIXTURE(Path)                                                                 \
  const std::string Path = ::vexa::pe::test::FixturePath();                                        \
  if (Path.empty())                                                                                \
    GTEST_SKIP() << "configure with -DVEXA_WIN32_BUILD_DIR to test against the PE fixture";        \
  ASSERT_TRUE(std::filesystem::exists(Path)) << Path << " missing: build the win32 side first"

// The lines pe_check.py prints for Path (given Mode, such as --strings, first), and what
// our reader must print for the same facts.
inline std::vector<std::string> IndependentView(const std::string& Path,
                                                const std::string& Mode = "") {
  const std::string command = std::string(VEXA_PYTHON) + " " + VEXA_SOURCE_DIR +
                              "/tests/unit/pe/pe_check.py " + Mode + " '" + Path + "' 2>&1";
  std::vector<std::string> lines;
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n')
      line.pop_back();
    lines.push_back(line);
  }
  const int status = pipe != nullptr ? ::pclose(pipe) : -1;
  EXPECT_EQ(status, 0) << command;
  return lines;
}

inline std::vector<std::string> OurView(const PeImage& Image) {
  std::vector<std::string> lines;
  for (const ResourceEntry& e : Image.Entries()) {
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08lx",
                  ::crc32(0, e.Data.data(), static_cast<uInt>(e.Data.size())));
    lines.push_back("resource " + e.Type.ToString() + " " + e.Name.ToString() + " " +
                    std::to_string(e.Language) + " " + std::to_string(e.CodePage) + " " +
                    std::to_string(e.Data.size()) + " " + crc);
  }
  for (const ResourceEntry& e : Image.Entries())
    lines.push_back("wrestool " + e.Type.ToString() + " " + e.Name.ToString() + " " +
                    std::to_string(e.Language) + " " + std::to_string(e.Data.size()));
  return lines;
}

} // namespace vexa::pe::test
