#pragma once
// The archive header: the HEADER resource's 656-byte block, its item table of packed
// 81-byte records and its text section. Fields are read in place at fixed offsets; the
// builder (vexa pack) writes the same layout through ArchiveLayout below.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/exceptions.h"
#include "streams/resource_module.h"

namespace vexa {

namespace ArchiveLayout {
inline constexpr std::size_t BlockSize = 656;
inline constexpr std::size_t ItemRecordSize = 81;

inline constexpr std::size_t FlagsOffset = 0;
// A reserved byte that older stubs never read and other builders leave 0: the author's
// choice that a person must answer the archive (vexa pack --no-unattended).
inline constexpr std::size_t UnattendedOffset = 4;
inline constexpr std::uint8_t RefuseUnattended = 1;
inline constexpr std::size_t ItemCountOffset = 12;
inline constexpr std::size_t TextLengthOffset = 14;
inline constexpr std::size_t PasswordCheckOffset = 16;
inline constexpr std::size_t PasswordCheckSize = 128;
inline constexpr std::size_t DestinationPathOffset = 144;
inline constexpr std::size_t ProgramPathOffset = 400;
inline constexpr std::size_t PathFieldSize = 256;

inline constexpr std::size_t ItemNameOffset = 0;
inline constexpr std::size_t FileNameOffset = 32;
inline constexpr std::size_t NameFieldSize = 32;
inline constexpr std::size_t CompressedOffset = 64;
inline constexpr std::size_t FileTimeOffset = 65;
inline constexpr std::size_t OriginalSizeOffset = 73;
inline constexpr std::size_t StoredSizeOffset = 77;
} // namespace ArchiveLayout

enum HeaderFlags : std::uint8_t {
  hfEncrypted = 0x01,
  hfRunProgram = 0x02,
  hfTempFolder = 0x04,
  hfFixedFolder = 0x08,
  hfAskFolder = 0x10,
  hfWaitAndDelete = 0x20,
  hfAlwaysConfirm = 0x40,
  hfProgramInDestination = 0x80,
};

using TItemRecord = std::array<std::uint8_t, ArchiveLayout::ItemRecordSize>;

// What an item's Compressed byte says its stored data is (docs/format.md). Every other
// non-zero value reads as zlib: archives of other builders may mark zlib items so.
enum ItemMethod : std::uint8_t {
  imStored = 0,
  imZlib = 1,
  // A method prefix and one raw LZMA2 stream, which the items marked imLzma2Continued
  // that follow go on.
  imLzma2 = 2,
  // Nothing stored: the item's bytes follow the previous item's in its LZMA2 stream.
  imLzma2Continued = 3,
};

// Readers of an item record's fields.
std::string FileName(const TItemRecord& Item);
std::uint8_t Compressed(const TItemRecord& Item);
double FileTime(const TItemRecord& Item);
std::uint32_t OriginalSize(const TItemRecord& Item);
std::uint32_t StoredSize(const TItemRecord& Item);

class TVexaHeader : public TObject {
public:
  // How a failed load is reported: the string id of the stub's text for it
  // (IDS_HEADER_MISSING and the like), shown by the caller as it sees fit (a message box
  // in the stub, in the archive's language).
  using ErrorReporter = void (*)(unsigned TextId);

  TVexaHeader() { Block.fill(0); }

  // Loads the RCDATA resource Name; false after reporting why. A resource too short for
  // its item table, a text section without its NUL, or a ProgramPath without its NUL is
  // refused as IDS_HEADER_UNREADABLE: nothing is ever read beyond the resource.
  bool LoadFromResource(const TResourceModule& Module, const std::string& Name,
                        ErrorReporter Report);
  void Clear();

  std::uint8_t Flags() const { return Block[ArchiveLayout::FlagsOffset]; }
  // The switches that answer for a person (/S, /passive, /D=) are refused.
  bool RefusesUnattended() const {
    return Block[ArchiveLayout::UnattendedOffset] == ArchiveLayout::RefuseUnattended;
  }
  std::uint16_t ItemCount() const;
  const std::uint8_t* PasswordCheck() const { return &Block[ArchiveLayout::PasswordCheckOffset]; }
  // Up to the first NUL, or all 256 bytes when there is none.
  std::string DestinationPath() const;
  // Up to its NUL, which a loaded header always has inside the field.
  std::string ProgramPath() const;

  std::array<std::uint8_t, ArchiveLayout::BlockSize> Block;
  std::vector<std::unique_ptr<TItemRecord>> Items;
  std::vector<std::string> Texts;
};

} // namespace vexa
