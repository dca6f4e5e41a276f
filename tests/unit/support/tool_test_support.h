#pragma once
// Helpers of the tool's tests: a scratch folder per test, files in and out, packing with
// the win32 build's stub, and archives rewritten with the PE writer into the damaged or
// hostile shapes that the packer refuses to make.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/vexa_header.h"
#include "cli/pack_command.h"
#include "cli/password_source.h"
#include "pe/byte_order.h"
#include "pe/pe_image.h"
#include "pe/resource_data.h"
#include "pe/resource_writer.h"
#include "platform/mapped_file.h"
#include "reader/archive_file.h"
#include "support/random_bytes.h"

namespace vexa::tool::test {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadBytes(const fs::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const fs::path& Path, const Bytes& Data) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
}

inline Bytes Text(const std::string& Text) { return Bytes(Text.begin(), Text.end()); }

// The password Text as the command line's --password gives it to the reader.
inline PasswordSource GivenPassword(const std::string& Text) {
  return [Text](unsigned CodePage) {
    PasswordOptions options;
    options.Text = Text;
    options.Wanted = true;
    return *ObtainPassword(options, false, CodePage);
  };
}

using vexa::test::RandomBytes;

inline Bytes CompressibleBytes(std::size_t Size) {
  Bytes bytes(Size);
  for (std::size_t i = 0; i < Size; ++i)
    bytes[i] = static_cast<std::uint8_t>("setup archive item\r\n"[i % 20]);
  return bytes;
}

// Sets an environment variable for one test and restores the old value afterwards.
class ScopedEnv {
public:
  ScopedEnv(const char* Name, const char* Value) : Name(Name) {
    if (const char* old = std::getenv(Name))
      Old = old;
    Set(Value);
  }
  ~ScopedEnv() { Set(Old ? Old->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  void Set(const char* Value) {
    if (Value)
      ::setenv(Name, Value, 1);
    else
      ::unsetenv(Name);
  }
  const char* Name;
  std::optional<std::string> Old;
};

// A fresh folder for each test, removed afterwards; packing uses the win32 build's stub
// and skips the test when the build has none.
class ToolTest : public ::testing::Test {
protected:
  void SetUp() override {
#ifndef VEXA_STUB_IMAGE
    GTEST_SKIP() << "configured without VEXA_WIN32_BUILD_DIR: no stub to pack with";
#else
    std::random_device seed;
    Dir = fs::temp_directory_path() / ("vexa-tool-test-" + std::to_string(seed()));
    fs::create_directories(Dir);
#endif
  }
  void TearDown() override {
    std::error_code ignored;
    if (!Dir.empty())
      fs::remove_all(Dir, ignored);
  }

  static std::string StubPath() {
#ifdef VEXA_STUB_IMAGE
    return VEXA_STUB_IMAGE;
#else
    return {};
#endif
  }

  fs::path Put(const std::string& Name, const Bytes& Data) {
    const fs::path path = Dir / Name;
    fs::create_directories(path.parent_path());
    WriteBytes(path, Data);
    return path;
  }

  // Options for packing Inputs into Dir/Output with the test stub, to the temp folder.
  PackOptions Options(std::vector<fs::path> Inputs, const std::string& Output = "out.exe") {
    PackOptions options;
    options.Output = (Dir / Output).string();
    for (const fs::path& input : Inputs)
      options.Inputs.push_back(input.string());
    options.TempFolder = true;
    options.Stub = StubPath();
    return options;
  }

  std::string Path(const std::string& Name) const { return (Dir / Name).string(); }

  fs::path Dir;
};

// Writes a copy of Archive to Output with its resources changed by Edit: the list holds
// every resource of the archive, in the writer's form, for Edit to drop, add or replace.
inline void RewriteArchive(const std::string& Archive, const std::string& Output,
                           const std::function<void(std::vector<pe::Resource>&)>& Edit) {
  platform::MappedFile file;
  ASSERT_EQ(file.Open(Archive), "");
  const pe::PeImage image = pe::PeImage::Parse(file.Bytes());
  std::vector<pe::Resource> resources = image.Resources();
  Edit(resources);
  pe::WriteImageWithResources(image, resources, Output);
}

// The resource Name (RCDATA unless Type says otherwise) in Resources; fails the test when
// there is none.
inline pe::Resource*
FindResource(std::vector<pe::Resource>& Resources, const std::string& Name,
             const pe::ResourceKey& Type = pe::ResourceKey::FromId(pe::RtRcData)) {
  for (pe::Resource& r : Resources)
    if (r.Type == Type && r.Name == pe::ResourceKey::FromName(Name))
      return &r;
  ADD_FAILURE() << "no resource " << Name;
  return nullptr;
}

// The bytes of resource Name as the archive holds them.
inline Bytes ResourceBytes(const std::string& Archive, const std::string& Name,
                           const pe::ResourceKey& Type = pe::ResourceKey::FromId(pe::RtRcData)) {
  platform::MappedFile file;
  EXPECT_EQ(file.Open(Archive), "");
  const pe::PeImage image = pe::PeImage::Parse(file.Bytes());
  for (const pe::ResourceEntry& entry : image.Entries())
    if (entry.Type == Type && entry.Name == pe::ResourceKey::FromName(Name))
      return Bytes(entry.Data.begin(), entry.Data.end());
  ADD_FAILURE() << "no resource " << Name << " in " << Archive;
  return {};
}

inline void SetData(pe::Resource& Resource, Bytes Data) {
  Resource.Data = std::make_shared<pe::BytesData>(std::move(Data));
}

// Writes to Output a copy of Stub with the archive resources of Packed (its RCDATA) added in
// place, as builders other than vexa do with the system's resource-update functions: no
// item checksums of vexa, and the stub's own image checksum left in the header, where it
// no longer fits the file.
inline void BuildInPlace(const std::string& Stub, const std::string& Packed,
                         const std::string& Output) {
  platform::MappedFile packed;
  ASSERT_EQ(packed.Open(Packed), "");
  std::vector<pe::Resource> archive = pe::PeImage::Parse(packed.Bytes()).Resources();
  std::erase_if(archive, [](const pe::Resource& r) {
    return !(r.Type == pe::ResourceKey::FromId(pe::RtRcData));
  });
  RewriteArchive(Stub, Output, [&](std::vector<pe::Resource>& resources) {
    resources.insert(resources.end(), archive.begin(), archive.end());
  });
  const Bytes stub = ReadBytes(Stub);
  const std::uint32_t linkersChecksum = pe::PeImage::Parse(stub).Headers().CheckSum;
  ASSERT_NE(linkersChecksum, 0u) << "the stub holds no checksum to leave behind";
  Bytes written = ReadBytes(Output);
  const std::uint64_t field = pe::PeImage::Parse(written).Headers().CheckSumOffset();
  pe::detail::Put32(&written.at(field), linkersChecksum);
  WriteBytes(Output, written);
}

// Writes to Output a copy of Archive whose header lost its flags and item count to a run
// of zeroed bytes, written in place, so that the item resources and the image checksum
// field stay as they were.
inline void ZeroHeaderCount(const std::string& Archive, const std::string& Output) {
  Bytes bytes = ReadBytes(Archive);
  const pe::PeImage image = pe::PeImage::Parse(bytes);
  std::size_t at = 0;
  for (const pe::ResourceEntry& entry : image.Entries())
    if (entry.Name == pe::ResourceKey::FromName("HEADER"))
      at = static_cast<std::size_t>(entry.Data.data() - bytes.data());
  ASSERT_NE(at, 0u) << "no header in " << Archive;
  std::fill_n(bytes.begin() + at, ArchiveLayout::ItemCountOffset + 2, 0);
  WriteBytes(Output, bytes);
}

} // namespace vexa::tool::test
