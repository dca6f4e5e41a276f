#pragma once
// What the packer needs to write one archive, resolved by its caller: the files found and
// checked, the texts chosen, every text already in the archive's code page, the password
// obtained, the stub and the icon read. Nothing here is an option of a command line; the
// tests, the bench and the command line all fill one in.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "packer/compressor.h"
#include "packer/icon_file.h"
#include "packer/pack_inputs.h"
#include "packer/solid_blocks.h"
#include "pe/version_info.h"
#include "texts/archive_texts.h"

namespace vexa::tool {

enum class DestinationKind { TempFolder, FixedFolder, AskFolder };

struct ProgramToRun {
  std::string Path; // in the archive's code page, '\' between folders; at most 255 bytes
  bool WaitAndDelete = false;
  bool AlwaysConfirm = false; // with WaitAndDelete
  bool InDestination = false; // Path names one of the items
};

struct PackPlan {
  std::filesystem::path Output; // its folder exists; written whole or not at all
  std::vector<PackInput> Inputs;
  std::optional<TItemPaths> ItemPaths; // written as the ITEMPATHS resource when there
                                       // is one
  ArchiveTexts Texts;

  DestinationKind Destination = DestinationKind::TempFolder;
  std::string FixedFolder; // for FixedFolder: in the archive's code page, at most 256 bytes
  std::optional<ProgramToRun> Program;
  std::optional<std::string> Welcome; // the question, in the archive's code page
  std::optional<std::string> Title;   // its caption, with Welcome
  // The same two in UTF-16, written beside them for the stubs that show these instead,
  // whatever the system's code page; nothing: the archive has the code page's only.
  std::optional<std::u16string> WideWelcome;
  std::optional<std::u16string> WideTitle;
  bool RefuseUnattended = false; // a person must answer: the stub refuses /S, /passive, /D=

  std::optional<int> Level; // compression level; nothing: every item stored
  CompressionMethod Method = CompressionMethod::Lzma2; // with a Level; the stub must read it
  // With LZMA2, consecutive items share one stream, a solid block. Nothing: every item
  // alone. The other methods compress every item alone.
  std::optional<SolidBlocks> Blocks = SolidBlocks{};
  std::optional<std::string> Password; // in the archive's code page; nothing: not encrypted

  std::span<const std::uint8_t> Stub; // the stub's image; the caller keeps it alive
  std::string StubName;               // for messages about it
  std::optional<TIconFile> Icon;      // the program icon instead of the stub's
  bool DropIcon = false;              // no program icon at all
  // The archive's version resource instead of the stub's.
  std::optional<pe::VersionInfo> Version;

  std::optional<std::size_t> Jobs;            // threads packing items; nothing: one per processor
  std::optional<std::int64_t> LatestFileTime; // seconds since 1970 that caps the dates stored
  bool Progress = false;                      // a progress line on stderr
};

} // namespace vexa::tool
