#include "pe/version_info.h"

#include <string_view>

#include "pe/resource.h"

namespace vexa::pe {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t FixedSignature = 0xFEEF04BD;
constexpr std::uint32_t FixedStructVersion = 0x00010000;
constexpr std::size_t FixedSize = 52;
constexpr std::uint32_t FileFlagsMask = 0x3F; // VS_FFI_FILEFLAGSMASK
constexpr std::uint32_t FileOsNtWindows32 = 0x00040004;
constexpr std::uint32_t FileTypeApp = 1;
constexpr std::uint16_t BinaryValue = 0;
constexpr std::uint16_t TextValue = 1;
constexpr std::uint16_t NeutralLanguage = 0;
constexpr std::uint16_t UnicodeCodePage = 1200;

void Put16(Bytes& Out, std::uint16_t V) {
  Out.push_back(static_cast<std::uint8_t>(V));
  Out.push_back(static_cast<std::uint8_t>(V >> 8));
}

void Put32(Bytes& Out, std::uint32_t V) {
  Put16(Out, static_cast<std::uint16_t>(V));
  Put16(Out, static_cast<std::uint16_t>(V >> 16));
}

void PutText(Bytes& Out, std::u16string_view Text) {
  for (const char16_t c : Text)
    Put16(Out, c);
  Put16(Out, 0);
}

void Align(Bytes& Out) {
  while (Out.size() % 4)
    Out.push_back(0);
}

std::uint16_t Length16(std::size_t Size) {
  if (Size > 0xFFFF)
    throw PeWriteError("the version resource would take " + std::to_string(Size) +
                       " bytes; its blocks hold at most 65535");
  return static_cast<std::uint16_t>(Size);
}

// One block: its length, its value's length, the value's kind, the key, then the value and
// the children, each on a 4-byte boundary. The length leaves out padding after the last.
Bytes Block(std::u16string_view Key, std::uint16_t Kind, const Bytes& Value,
            std::uint16_t ValueLength, const std::vector<Bytes>& Children = {}) {
  Bytes out(6, 0);
  PutText(out, Key);
  Align(out);
  out.insert(out.end(), Value.begin(), Value.end());
  for (const Bytes& child : Children) {
    Align(out);
    out.insert(out.end(), child.begin(), child.end());
  }
  const std::uint16_t length = Length16(out.size());
  out[0] = static_cast<std::uint8_t>(length);
  out[1] = static_cast<std::uint8_t>(length >> 8);
  out[2] = static_cast<std::uint8_t>(ValueLength);
  out[3] = static_cast<std::uint8_t>(ValueLength >> 8);
  out[4] = static_cast<std::uint8_t>(Kind);
  return out;
}

std::uint32_t High(const std::array<std::uint16_t, 4>& V) {
  return static_cast<std::uint32_t>(V[0]) << 16 | V[1];
}
std::uint32_t Low(const std::array<std::uint16_t, 4>& V) {
  return static_cast<std::uint32_t>(V[2]) << 16 | V[3];
}

Bytes FixedInfo(const VersionInfo& Info) {
  Bytes out;
  for (const std::uint32_t v :
       {FixedSignature, FixedStructVersion, High(Info.FileVersion), Low(Info.FileVersion),
        High(Info.ProductVersion), Low(Info.ProductVersion), FileFlagsMask, std::uint32_t{0},
        FileOsNtWindows32, FileTypeApp, std::uint32_t{0}, std::uint32_t{0}, std::uint32_t{0}})
    Put32(out, v);
  return out;
}

// A block read in place: bounds already checked against the whole resource.
struct ReadBlock {
  std::u16string Key;
  std::span<const std::uint8_t> Value;
  std::span<const std::uint8_t> Children;
  std::span<const std::uint8_t> FromValue; // the value to the end of the block
};

std::uint16_t Word(std::span<const std::uint8_t> Data, std::size_t At) {
  return static_cast<std::uint16_t>(Data[At] | Data[At + 1] << 8);
}

std::size_t Aligned(std::size_t Offset) { return (Offset + 3) & ~std::size_t{3}; }

// The block at the start of Data (which begins on a 4-byte boundary of the resource), and
// how far the next one starts; nothing when its lengths do not fit.
std::optional<ReadBlock> ReadAt(std::span<const std::uint8_t> Data, std::size_t& Next) {
  if (Data.size() < 6)
    return std::nullopt;
  const std::size_t length = Word(Data, 0);
  if (length < 6 || length > Data.size())
    return std::nullopt;
  const auto block = Data.first(length);
  ReadBlock read;
  std::size_t at = 6;
  for (;; at += 2) {
    if (at + 2 > length)
      return std::nullopt;
    if (const char16_t c = Word(block, at); c != 0)
      read.Key.push_back(c);
    else
      break;
  }
  const std::size_t valueStart = std::min(Aligned(at + 2), length);
  const std::size_t valueBytes = Word(block, 4) == TextValue ? 2u * Word(block, 2) : Word(block, 2);
  const std::size_t valueEnd = std::min(valueStart + valueBytes, length);
  read.Value = block.subspan(valueStart, valueEnd - valueStart);
  read.FromValue = block.subspan(valueStart);
  const std::size_t childStart = std::min(Aligned(valueEnd), length);
  read.Children = block.subspan(childStart);
  Next = std::min(Aligned(length), Data.size());
  return read;
}

std::vector<ReadBlock> Children(std::span<const std::uint8_t> Data) {
  std::vector<ReadBlock> found;
  std::size_t next = 0;
  while (const auto block = ReadAt(Data, next)) {
    found.push_back(*block);
    Data = Data.subspan(next);
  }
  return found;
}

// A string's value as its writer meant it: up to its NUL. Writers disagree on whether the
// value's length counts characters or bytes, so the block's own end bounds it instead.
std::u16string TextOf(const ReadBlock& String) {
  std::u16string text;
  for (std::size_t at = 0; at + 2 <= String.FromValue.size(); at += 2) {
    const char16_t c = Word(String.FromValue, at);
    if (c == 0)
      break;
    text.push_back(c);
  }
  return text;
}

std::uint32_t Dword(std::span<const std::uint8_t> Data, std::size_t At) {
  return Word(Data, At) | static_cast<std::uint32_t>(Word(Data, At + 2)) << 16;
}

std::array<std::uint16_t, 4> Version(std::uint32_t HighPart, std::uint32_t LowPart) {
  return {static_cast<std::uint16_t>(HighPart >> 16), static_cast<std::uint16_t>(HighPart),
          static_cast<std::uint16_t>(LowPart >> 16), static_cast<std::uint16_t>(LowPart)};
}

} // namespace

std::vector<std::uint8_t> BuildVersionInfo(const VersionInfo& Info) {
  std::vector<Bytes> strings;
  for (const auto& [key, value] : Info.Strings) {
    if (key.find(u'\0') != std::u16string::npos || value.find(u'\0') != std::u16string::npos)
      throw PeWriteError("a version string holds a NUL character");
    Bytes text;
    PutText(text, value);
    strings.push_back(Block(key, TextValue, text, Length16(value.size() + 1)));
  }
  Bytes translation;
  Put16(translation, NeutralLanguage);
  Put16(translation, UnicodeCodePage);
  return Block(
      u"VS_VERSION_INFO", BinaryValue, FixedInfo(Info), FixedSize,
      {Block(u"StringFileInfo", TextValue, {}, 0, {Block(u"000004B0", TextValue, {}, 0, strings)}),
       Block(u"VarFileInfo", TextValue, {}, 0,
             {Block(u"Translation", BinaryValue, translation, 4)})});
}

std::optional<VersionInfo> ParseVersionInfo(std::span<const std::uint8_t> Data) {
  std::size_t next = 0;
  const std::optional<ReadBlock> root = ReadAt(Data, next);
  if (!root || root->Key != u"VS_VERSION_INFO")
    return std::nullopt;
  VersionInfo info;
  if (root->Value.size() >= FixedSize && Dword(root->Value, 0) == FixedSignature) {
    info.FileVersion = Version(Dword(root->Value, 8), Dword(root->Value, 12));
    info.ProductVersion = Version(Dword(root->Value, 16), Dword(root->Value, 20));
  }
  for (const ReadBlock& child : Children(root->Children)) {
    if (child.Key != u"StringFileInfo")
      continue;
    const std::vector<ReadBlock> tables = Children(child.Children);
    if (tables.empty())
      break;
    for (const ReadBlock& entry : Children(tables.front().Children))
      info.Strings.emplace_back(entry.Key, TextOf(entry));
    break;
  }
  return info;
}

} // namespace vexa::pe
