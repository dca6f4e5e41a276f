#include "packer/pack.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <numeric>
#include <utility>

#include "archive/item_paths.h"
#include "archive/vexa_header.h"
#include "crypto/password_check.h"
#include "packer/header_builder.h"
#include "packer/item_packer.h"
#include "packer/ordered_work.h"
#include "packer/work_file.h"
#include "pe/pe_image.h"
#include "pe/resource_data.h"
#include "pe/resource_writer.h"
#include "pe/version_info.h"
#include "platform/random.h"
#include "resources/resource_ids.h"
#include "texts/archive_texts.h"
#include "texts/string_table.h"
#include "tool_base/item_checksums.h"
#include "tool_base/local_path.h"
#include "tool_base/progress.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace fs = std::filesystem;

namespace {

constexpr char StubIconName[] = "SELFEXICON";
// Blocks packed ahead of the one whose turn it is, waiting for it. Each holds a few words
// in memory; its bytes wait in a work file.
constexpr std::size_t BlocksAhead = 64;

// What an item occupies in the image: encrypted data is padded to whole cipher blocks.
std::uint64_t StoredBytes(std::uint64_t Size, bool Encrypted) {
  return Encrypted ? (Size + 7) / 8 * 8 : Size;
}

ToolError TooLargeForImage(std::uint64_t Bytes) {
  return ToolError("the items take " + std::to_string(Bytes) + " bytes once packed; a 32-bit " +
                   "Windows program holds at most " + std::to_string(pe::MaxImageSize) +
                   " bytes in all");
}

HeaderFields HeaderOf(const PackPlan& Plan) {
  HeaderFields header;
  switch (Plan.Destination) {
  case DestinationKind::TempFolder:
    header.Flags |= hfTempFolder;
    break;
  case DestinationKind::FixedFolder:
    header.Flags |= hfFixedFolder;
    header.DestinationPath = Plan.FixedFolder;
    break;
  case DestinationKind::AskFolder:
    header.Flags |= hfAskFolder;
    break;
  }
  if (const std::optional<ProgramToRun>& program = Plan.Program) {
    header.Flags |= hfRunProgram;
    header.ProgramPath = program->Path;
    if (program->WaitAndDelete)
      header.Flags |= hfWaitAndDelete;
    if (program->AlwaysConfirm)
      header.Flags |= hfAlwaysConfirm;
    if (program->InDestination)
      header.Flags |= hfProgramInDestination;
  }
  header.TextSection = Plan.Texts.HeaderTextSection();
  header.RefuseUnattended = Plan.RefuseUnattended;
  if (Plan.Password) {
    header.Flags |= hfEncrypted;
    std::array<std::uint8_t, PasswordCheckSize> random;
    platform::FillRandom(random.data(), random.size());
    header.PasswordCheck = MakePasswordCheck(*Plan.Password, random);
  }
  return header;
}

pe::Resource RcData(const std::string& Name, std::vector<std::uint8_t> Bytes) {
  return {pe::ResourceKey::FromId(pe::RtRcData), pe::ResourceKey::FromName(Name), 0, 0,
          std::make_shared<pe::BytesData>(std::move(Bytes))};
}

std::vector<std::uint8_t> TextResource(const std::string& Text) {
  std::vector<std::uint8_t> bytes(Text.begin(), Text.end());
  bytes.push_back(0);
  return bytes;
}

// UTF-16LE, ended by a NUL unit.
std::vector<std::uint8_t> WideTextResource(const std::u16string& Text) {
  std::vector<std::uint8_t> bytes;
  for (const char16_t unit : Text) {
    bytes.push_back(static_cast<std::uint8_t>(unit));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  bytes.insert(bytes.end(), 2, 0);
  return bytes;
}

// The stub's own resources, less its program icon when the archive brings its own or
// wants none. Images that another group icon (the dialogs' padlock) shares stay.
std::vector<pe::Resource> StubResources(const pe::PeImage& Stub, bool ReplaceIcon,
                                        std::uint16_t& NextIconId) {
  std::vector<pe::Resource> kept = Stub.Resources();
  const pe::ResourceKey imageType = pe::ResourceKey::FromId(pe::RtIcon);
  NextIconId = 1;
  for (const pe::ResourceEntry& entry : Stub.Entries())
    if (entry.Type == imageType && !entry.Name.IsName())
      NextIconId =
          std::max<std::uint16_t>(NextIconId, static_cast<std::uint16_t>(entry.Name.Id + 1));
  if (!ReplaceIcon)
    return kept;
  const pe::ResourceKey groupType = pe::ResourceKey::FromId(pe::RtGroupIcon);
  const pe::ResourceKey programIcon = pe::ResourceKey::FromName(StubIconName);
  std::vector<std::uint16_t> images;
  std::vector<std::uint16_t> shared;
  for (const pe::ResourceEntry& entry : Stub.Entries())
    if (entry.Type == groupType) {
      std::vector<std::uint16_t>& into = entry.Name == programIcon ? images : shared;
      for (const std::uint16_t id : GroupIconImageIds(entry.Data))
        into.push_back(id);
    }
  const auto contains = [](const std::vector<std::uint16_t>& Ids, std::uint16_t Id) {
    return std::find(Ids.begin(), Ids.end(), Id) != Ids.end();
  };
  std::erase_if(kept, [&](const pe::Resource& r) {
    if (r.Type == groupType && r.Name == programIcon)
      return true;
    return r.Type == imageType && !r.Name.IsName() && contains(images, r.Name.Id) &&
           !contains(shared, r.Name.Id);
  });
  return kept;
}

// The author's version resource in place of the stub's, in whichever language that is.
void ReplaceVersionInfo(std::vector<pe::Resource>& Resources, const pe::VersionInfo& Info) {
  const pe::ResourceKey type = pe::ResourceKey::FromId(pe::RtVersion);
  std::erase_if(Resources, [&](const pe::Resource& r) { return r.Type == type; });
  Resources.push_back({type, pe::ResourceKey::FromId(pe::VersionInfoId), 0, 0,
                       std::make_shared<pe::BytesData>(pe::BuildVersionInfo(Info))});
}

// The first item of each block, in item order; without solid blocks every item is one.
std::vector<std::size_t> BlockStarts(const PackPlan& Plan) {
  if (Plan.Level && Plan.Method == CompressionMethod::Lzma2 && Plan.Blocks) {
    std::vector<std::uint64_t> sizes;
    sizes.reserve(Plan.Inputs.size());
    for (const PackInput& input : Plan.Inputs)
      sizes.push_back(input.Size);
    return SolidBlockStarts(sizes, *Plan.Blocks);
  }
  std::vector<std::size_t> starts(Plan.Inputs.size());
  std::iota(starts.begin(), starts.end(), std::size_t{0});
  return starts;
}

} // namespace

bool StubReadsLzma2(std::span<const std::uint8_t> Stub) {
  const pe::ResourceKey type = pe::ResourceKey::FromName("VEXAMETHODS");
  const pe::ResourceKey name = pe::ResourceKey::FromId(IDR_METHODS);
  try {
    const pe::PeImage image = pe::PeImage::Parse(Stub);
    for (const pe::ResourceEntry& entry : image.Entries())
      if (entry.Type == type && entry.Name == name) {
        const std::string_view methods(reinterpret_cast<const char*>(entry.Data.data()),
                                       entry.Data.size());
        return methods.find("lzma2") != std::string_view::npos;
      }
  } catch (const pe::PeFormatError&) {
    // An unusable stub is refused where it is read whole.
  }
  return false;
}

PackReport PackArchive(const PackPlan& Plan) {
  const HeaderFields header = HeaderOf(Plan);
  const std::vector<PackInput>& files = Plan.Inputs;
  const std::vector<std::uint8_t> itemPaths =
      Plan.ItemPaths ? EncodeItemPaths(*Plan.ItemPaths) : std::vector<std::uint8_t>();
  // Stored items' sizes are known now: a job that cannot fit is refused before any work.
  if (!Plan.Level) {
    std::uint64_t stored = itemPaths.size();
    for (const PackInput& file : files)
      stored += StoredBytes(file.Size, Plan.Password.has_value());
    if (stored > pe::MaxImageSize)
      throw TooLargeForImage(stored);
  }
  pe::PeImage stub = [&] {
    try {
      return pe::PeImage::Parse(Plan.Stub);
    } catch (const pe::PeFormatError& e) {
      throw ToolError("the stub " + Plan.StubName + " is unusable: " + e.what());
    }
  }();

  if (Plan.Level && Plan.Method == CompressionMethod::Lzma2 && !StubReadsLzma2(Plan.Stub))
    throw UsageError("the stub " + Plan.StubName +
                     " reads no LZMA2 items: pack with --method deflate");

  std::uint16_t nextIconId = 1;
  std::vector<pe::Resource> resources =
      StubResources(stub, Plan.Icon.has_value() || Plan.DropIcon, nextIconId);
  if (Plan.Icon)
    for (pe::Resource& r : Plan.Icon->Resources(StubIconName, nextIconId))
      resources.push_back(std::move(r));
  ReplaceStrings(stub, resources, Plan.Texts.Replaced);
  if (Plan.Version)
    ReplaceVersionInfo(resources, *Plan.Version);

  std::uint64_t inputBytes = 0;
  for (const PackInput& file : files)
    inputBytes += file.Size;
  TProgress progress(Plan.Progress, inputBytes);
  const std::vector<std::size_t> starts = BlockStarts(Plan);
  const auto blockEnd = [&](std::size_t Block) {
    return Block + 1 < starts.size() ? starts[Block + 1] : files.size();
  };
  // A packer per thread, each with a work file of its own; which one packs a block
  // changes where its bytes wait, never the bytes.
  std::vector<std::unique_ptr<TItemPacker>> packers;
  for (std::size_t n = WorkerCount(Plan.Jobs, starts.size()); packers.size() < n;)
    packers.push_back(std::make_unique<TItemPacker>(
        WorkPath(Plan.Output, ".items"),
        Plan.Level ? MakeCompressor(Plan.Method, *Plan.Level) : nullptr, Plan.Password, progress));

  PackReport report;
  std::vector<ItemRecordFields> records;
  std::vector<std::uint32_t> checksums;
  records.reserve(files.size());
  checksums.reserve(files.size());
  // The items, then at most eight resources of the archive's own.
  resources.reserve(resources.size() + files.size() + 8);
  std::vector<std::vector<PackedItem>> packed(starts.size());
  RunInItemOrder(
      starts.size(), packers.size(), BlocksAhead,
      [&](std::size_t Worker, std::size_t Block) {
        std::vector<fs::path> paths;
        for (std::size_t i = starts[Block]; i < blockEnd(Block); ++i)
          paths.push_back(files[i].Path);
        packed[Block] = packers[Worker]->Pack(paths);
      },
      [&](std::size_t Block) {
        for (std::size_t i = starts[Block]; i < blockEnd(Block); ++i) {
          const PackInput& file = files[i];
          PackedItem& item = packed[Block][i - starts[Block]];
          report.OriginalBytes += item.OriginalSize;
          report.StoredBytes += item.Length;
          if (report.StoredBytes + itemPaths.size() > pe::MaxImageSize)
            throw TooLargeForImage(report.StoredBytes + itemPaths.size());
          ItemRecordFields record;
          record.FileName = file.Name;
          record.OriginalSize = item.OriginalSize;
          record.StoredSize = item.StoredSize;
          record.Method = item.Method;
          const std::int64_t seconds = Plan.LatestFileTime
                                           ? std::min(*Plan.LatestFileTime, file.ModifiedSeconds)
                                           : file.ModifiedSeconds;
          record.FileTime = DaysSince1899(seconds);
          records.push_back(std::move(record));
          checksums.push_back(item.Checksum);
          resources.push_back({pe::ResourceKey::FromId(pe::RtRcData),
                               pe::ResourceKey::FromName("ITEM" + std::to_string(i + 1)), 0, 0,
                               std::make_shared<pe::FileRegionData>(std::move(item.WorkFile),
                                                                    item.Offset, item.Length)});
        }
        // What every item keeps is its record only.
        packed[Block].clear();
      });
  packed = {}; // every slot was taken; the image writer gets the room
  for (const std::unique_ptr<TItemPacker>& packer : packers)
    packer->Close();
  progress.Done();

  resources.push_back(RcData("HEADER", BuildHeaderResource(header, records)));
  resources.push_back({pe::ResourceKey::FromName(ChecksumsType),
                       pe::ResourceKey::FromName(ChecksumsName), 0, 0,
                       std::make_shared<pe::BytesData>(EncodeChecksums(checksums))});
  resources.push_back({pe::ResourceKey::FromName(ChecksumsType),
                       pe::ResourceKey::FromName(CodePageResourceName), 0, 0,
                       std::make_shared<pe::BytesData>(EncodeCodePage(Plan.Texts.CodePage))});
  if (Plan.ItemPaths)
    resources.push_back(RcData(ItemPathsResourceName, itemPaths));
  if (Plan.Welcome) {
    resources.push_back(RcData("WELCOMETEXT", TextResource(*Plan.Welcome)));
    resources.push_back(RcData("WELCOMETITLE", TextResource(Plan.Title.value_or(""))));
    if (Plan.WideWelcome) {
      resources.push_back(RcData("WELCOMETEXTW", WideTextResource(*Plan.WideWelcome)));
      resources.push_back(RcData("WELCOMETITLEW", WideTextResource(Plan.WideTitle.value_or(u""))));
    }
  }

  // The image is written beside the output and takes its name only when whole, so an
  // existing file is replaced only by a finished archive.
  const fs::path partial = WorkPath(Plan.Output, ".partial");
  TRemoveOnExit removePartial(partial);
  try {
    const pe::WriteReport written = pe::WriteImageWithResources(stub, resources, Utf8Of(partial));
    report.DroppedCertificate = written.DroppedCertificate;
    report.ImageSize = written.SizeOfImage;
  } catch (const pe::PeWriteError& e) {
    throw ToolError(Utf8Of(Plan.Output) + ": " + e.what());
  }
  std::error_code error;
  fs::rename(SystemPath(partial), SystemPath(Plan.Output), error);
  if (error)
    throw ToolError("cannot write " + Utf8Of(Plan.Output) + ": " + error.message());
  removePartial.Keep();
  report.Items = records.size();
  return report;
}

std::string ImageSizeWarning(std::uint32_t ImageSize) {
  if (ImageSize <= pe::Mappable32BitImageSize)
    return {};
  return "the archive's image takes " + std::to_string(ImageSize) +
         " bytes in memory; 32-bit Windows may not find that much room in one piece "
         "and then refuses to start it (\"not enough memory\"); 64-bit Windows starts it. "
         "Up to " +
         std::to_string(pe::Mappable32BitImageSize) + " bytes start everywhere.";
}

} // namespace vexa::tool
