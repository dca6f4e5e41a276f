#include "packer/pack.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <utility>

#include "archive/vexa_header.h"
#include "crypto/password_check.h"
#include "packer/compressor.h"
#include "packer/embedded_stub.h"
#include "packer/header_builder.h"
#include "packer/icon_file.h"
#include "packer/item_packer.h"
#include "packer/ordered_work.h"
#include "packer/work_file.h"
#include "pe/pe_image.h"
#include "pe/resource_data.h"
#include "pe/resource_writer.h"
#include "platform/mapped_file.h"
#include "platform/random.h"
#include "texts/ansi_text.h"
#include "texts/archive_texts.h"
#include "texts/string_table.h"
#include "tool_base/item_checksums.h"
#include "tool_base/local_path.h"
#include "tool_base/progress.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace fs = std::filesystem;

namespace {

// A resource directory counts its named entries in 16 bits, and the items share the
// RCDATA directory with HEADER (and the two welcome texts when there are any).
constexpr std::size_t MaxNamedRcData = 0xFFFF;
constexpr char StubIconName[] = "SELFEXICON";
// An archive is packed once and downloaded many times: the smallest output is worth the
// slower pack (libdeflate at 12 still packs faster than zip -9).
constexpr int DefaultLevel = 12;
// Items packed ahead of the one whose turn it is, waiting for it. Each holds a few words in
// memory; its bytes wait in a work file.
constexpr std::size_t ItemsAhead = 64;

struct InputFile {
  fs::path Path;
  std::string Name; // as stored: in the archive's code page
  std::uint64_t Size = 0;
  std::int64_t ModifiedSeconds = 0;
};

std::string Shown(const fs::path& Path) { return Utf8Of(Path); }

// How Windows tells a file to pack apart from the others: by its name, case folded.
std::string NameKeyOf(const fs::path& Path) { return NameKey(Utf8Of(Path.filename())); }

// What an item occupies in the image: encrypted data is padded to whole cipher blocks.
std::uint64_t StoredBytes(std::uint64_t Size, bool Encrypted) {
  return Encrypted ? (Size + 7) / 8 * 8 : Size;
}

ToolError TooLargeForImage(std::uint64_t Bytes) {
  return ToolError("the items take " + std::to_string(Bytes) + " bytes once packed; a 32-bit " +
                   "Windows program holds at most " + std::to_string(pe::MaxImageSize) +
                   " bytes in all");
}

// A file to pack, checked: its name must be a plain Windows name of at most 32 bytes in
// CodePage, the archive's.
InputFile CheckedInput(const fs::path& Path, unsigned CodePage) {
  const std::string utf8 = Utf8Of(Path.filename());
  const std::optional<std::string> name = ToAnsi(utf8, CodePage);
  if (!name)
    throw ToolError(Shown(Path) + ": the name has a character outside the " +
                    CodePageName(CodePage) + " code page");
  if (name->size() > ArchiveLayout::NameFieldSize)
    throw ToolError(Shown(Path) + ": the name is " + std::to_string(name->size()) +
                    " bytes long; item names hold at most 32");
  if (const auto problem = WindowsNameProblem(utf8))
    throw ToolError(Shown(Path) + ": the name has " + *problem);
  // The extractor splits a name into folders byte by byte, where the second byte of a
  // two-byte character may be a backslash.
  if (name->find('\\') != std::string::npos)
    throw ToolError(Shown(Path) + ": in the " + CodePageName(CodePage) +
                    " code page the name holds a backslash as the second byte of a character, "
                    "which the extractor would take for a folder separator");
  std::error_code error;
  const auto size = fs::file_size(Path, error);
  if (error)
    throw ToolError(Shown(Path) + ": " + error.message());
  if (size > MaxItemSize)
    throw ToolError(Shown(Path) + ": the file is 4 GiB or larger; an item holds less");
  const auto modified = fs::last_write_time(Path, error);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      fs::file_time_type::clock::to_sys(modified).time_since_epoch());
  return {Path, *name, size, error ? 0 : seconds.count()};
}

// The files named on the command line, folders replaced by the files directly in them in
// name order. A folder inside a folder is refused: the stub creates no folders, so an item
// in a subfolder would reach only a destination where that subfolder exists already.
std::vector<InputFile> CollectInputs(const std::vector<std::string>& Inputs, bool Welcome,
                                     unsigned CodePage) {
  std::vector<InputFile> files;
  for (const std::string& input : Inputs) {
    const fs::path path = PathFromUtf8(input);
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status))
      throw ToolError(input + ": no such file or folder");
    if (fs::is_regular_file(status)) {
      files.push_back(CheckedInput(path, CodePage));
      continue;
    }
    if (!fs::is_directory(status))
      throw ToolError(input + ": not a regular file or folder");
    std::vector<fs::path> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
      if (entry.is_directory())
        throw ToolError(Shown(entry.path()) +
                        ": is a folder; only the files directly in a folder are packed");
      if (!entry.is_regular_file())
        throw ToolError(Shown(entry.path()) + ": not a regular file");
      entries.push_back(entry.path());
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries)
      files.push_back(CheckedInput(entry, CodePage));
  }
  if (files.empty())
    throw UsageError("nothing to pack: name at least one file or folder");
  const std::size_t maxItems = MaxNamedRcData - 1 - (Welcome ? 2 : 0);
  if (files.size() > maxItems)
    throw ToolError("there are " + std::to_string(files.size()) +
                    " files; an archive holds at most " + std::to_string(maxItems) +
                    (Welcome ? " with a welcome question" : ""));
  std::map<std::string, const InputFile*> seen; // by the name Windows compares
  for (const InputFile& file : files) {
    const auto [it, added] = seen.emplace(NameKeyOf(file.Path), &file);
    if (added)
      continue;
    if (file.Name == it->second->Name)
      throw ToolError(Shown(file.Path) + " and " + Shown(it->second->Path) +
                      " would both be the item " + Shown(file.Path.filename()));
    throw ToolError(Shown(file.Path) + " and " + Shown(it->second->Path) +
                    " would be the same file on Windows (names differ only in case)");
  }
  return files;
}

// In the archive's code page: the stub reads every text of the archive as the user's.
std::string AnsiOption(const std::string& Text, const char* Option, const ArchiveTexts& Texts) {
  const std::optional<std::string> ansi = ToAnsi(Text, Texts.CodePage);
  if (!ansi)
    throw UsageError(std::string(Option) + ": the text has a character outside the " +
                     CodePageName(Texts.CodePage) + " code page");
  if (ansi->find('\0') != std::string::npos)
    throw UsageError(std::string(Option) + ": the text holds a NUL byte");
  return *ansi;
}

std::uint8_t CheckedFlags(const PackOptions& Options, const std::vector<InputFile>& Files,
                          const ArchiveTexts& Texts, HeaderFields& Header) {
  const int destinations =
      int{Options.TempFolder} + int{Options.FixedFolder.has_value()} + int{Options.AskFolder};
  if (destinations != 1)
    throw UsageError("choose exactly one destination: --temp, --dest PATH or --ask-folder");
  if (Options.Icon && Options.NoIcon)
    throw UsageError("--icon and --no-icon exclude each other");
  if (Options.Title && !Options.Welcome)
    throw UsageError("--title is the caption of the welcome question: give --welcome too");
  if (!Options.Run &&
      (Options.WaitAndDelete || Options.AlwaysConfirm || Options.ProgramInDestination))
    throw UsageError(
        "--wait-and-delete, --always-confirm and --program-in-destination need --run PROGRAM");
  if (Options.AlwaysConfirm && !Options.WaitAndDelete)
    throw UsageError("--always-confirm asks before deleting: it needs --wait-and-delete");
  if (Options.Store && Options.Level)
    throw UsageError("--store and --level exclude each other");
  if (Options.Level &&
      (*Options.Level < MinCompressionLevel || *Options.Level > MaxCompressionLevel))
    throw UsageError("--level takes 0 to 12, not " + std::to_string(*Options.Level));
  if (Options.Jobs && *Options.Jobs == 0)
    throw UsageError("--jobs takes 1 or more");

  std::uint8_t flags = 0;
  if (Options.TempFolder)
    flags |= hfTempFolder;
  if (Options.AskFolder)
    flags |= hfAskFolder;
  if (Options.FixedFolder) {
    flags |= hfFixedFolder;
    Header.DestinationPath = AnsiOption(*Options.FixedFolder, "--dest", Texts);
    if (Header.DestinationPath.empty())
      throw UsageError("--dest: the path is empty");
    if (Header.DestinationPath.size() > ArchiveLayout::PathFieldSize)
      throw UsageError("--dest: the path is " + std::to_string(Header.DestinationPath.size()) +
                       " bytes long; it holds at most 256");
  }
  if (Options.Run) {
    flags |= hfRunProgram;
    Header.ProgramPath = AnsiOption(*Options.Run, "--run", Texts);
    if (Header.ProgramPath.empty())
      throw UsageError("--run: the program path is empty");
    if (Header.ProgramPath.size() > ArchiveLayout::PathFieldSize - 1)
      throw UsageError("--run: the path is " + std::to_string(Header.ProgramPath.size()) +
                       " bytes long; it holds at most 255");
    if (Options.WaitAndDelete)
      flags |= hfWaitAndDelete;
    if (Options.AlwaysConfirm)
      flags |= hfAlwaysConfirm;
    if (Options.ProgramInDestination) {
      flags |= hfProgramInDestination;
      const std::string wanted = NameKey(*Options.Run);
      const auto found = std::find_if(Files.begin(), Files.end(), [&](const InputFile& f) {
        return NameKeyOf(f.Path) == wanted;
      });
      if (found == Files.end())
        throw UsageError("--program-in-destination: --run " + *Options.Run +
                         " names no file among the items");
      // The extractor takes a program of 0 bytes for a missing one and gives up.
      if (found->Size == 0)
        throw ToolError("--run " + *Options.Run + ": " + Shown(found->Path) +
                        " is empty; the extractor would refuse to start it");
    }
  }
  return flags;
}

std::optional<std::int64_t> SourceDateEpoch() {
  const char* value = std::getenv("SOURCE_DATE_EPOCH");
  if (!value || !*value)
    return std::nullopt;
  char* end = nullptr;
  const long long seconds = std::strtoll(value, &end, 10);
  if (*end != '\0')
    throw UsageError("SOURCE_DATE_EPOCH must be a number of seconds");
  return seconds;
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

// Whether A and B, when both exist, are one file. The Windows build's
// std::filesystem::equivalent compares stat() results, whose inode numbers Windows leaves
// at 0, so it cannot be trusted to say no; equal absolute paths say yes there.
bool SameFile(const fs::path& A, const fs::path& B) {
  std::error_code error;
  if (fs::equivalent(A, B, error) && !error)
    return true;
  if (!fs::exists(A, error) || !fs::exists(B, error))
    return false;
  const auto key = [](const fs::path& Path) {
    std::error_code ignored;
    const fs::path absolute = fs::absolute(Path, ignored).lexically_normal();
#ifdef _WIN32
    return NameKey(Utf8Of(absolute));
#else
    return absolute.string();
#endif
  };
  return key(A) == key(B);
}

// Refuses an output that could not be written, before any work is done for it.
fs::path CheckedOutput(const std::string& Output) {
  if (Output.empty())
    throw UsageError("name the archive to write with -o OUT.exe");
  const fs::path path = PathFromUtf8(Output);
  std::error_code error;
  if (fs::is_directory(path, error))
    throw ToolError(Output + ": is a folder; -o names the .exe to write");
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, error))
    throw ToolError(Output + ": the folder " + Shown(folder) + " does not exist");
  return path;
}

} // namespace

PackReport PackArchive(const PackOptions& Options) {
  const fs::path output = CheckedOutput(Options.Output);
  const ArchiveTexts texts = ChooseTexts(Options.Texts);
  const std::vector<InputFile> files =
      CollectInputs(Options.Inputs, Options.Welcome.has_value(), texts.CodePage);
  HeaderFields header;
  header.Flags = CheckedFlags(Options, files, texts, header);
  header.TextSection = texts.HeaderTextSection();
  const std::optional<std::string> welcome =
      Options.Welcome ? std::optional(AnsiOption(*Options.Welcome, "--welcome", texts))
                      : std::nullopt;
  const std::optional<std::string> title =
      Options.Title ? std::optional(AnsiOption(*Options.Title, "--title", texts)) : std::nullopt;
  const std::optional<std::int64_t> epoch = SourceDateEpoch();
  for (const InputFile& file : files)
    if (SameFile(file.Path, output))
      throw UsageError(Options.Output + " is also one of the files to pack");

  PasswordOptions passwordOptions = Options.Password;
  passwordOptions.Wanted =
      Options.Encrypt || !Options.Password.File.empty() || Options.Password.Text;
  const std::optional<std::string> password = ObtainPassword(passwordOptions, true, texts.CodePage);
  if (password) {
    header.Flags |= hfEncrypted;
    std::array<std::uint8_t, PasswordCheckSize> random;
    platform::FillRandom(random.data(), random.size());
    header.PasswordCheck = MakePasswordCheck(*password, random);
  }
  // Stored items' sizes are known now: a job that cannot fit is refused before any work.
  if (Options.Store) {
    std::uint64_t stored = 0;
    for (const InputFile& file : files)
      stored += StoredBytes(file.Size, password.has_value());
    if (stored > pe::MaxImageSize)
      throw TooLargeForImage(stored);
  }

  platform::MappedFile stubFile;
  std::span<const std::uint8_t> stubBytes = DefaultStub();
  if (Options.Stub) {
    if (const std::string problem = stubFile.Open(SystemName(PathFromUtf8(*Options.Stub)));
        !problem.empty())
      throw ToolError(problem);
    stubBytes = stubFile.Bytes();
  }
  if (stubBytes.empty())
    throw UsageError("this vexa was built without a stub: name one with --stub FILE");
  pe::PeImage stub = [&] {
    try {
      return pe::PeImage::Parse(stubBytes);
    } catch (const pe::PeFormatError& e) {
      throw ToolError("the stub " + Options.Stub.value_or("built into vexa") +
                      " is unusable: " + e.what());
    }
  }();

  std::uint16_t nextIconId = 1;
  std::vector<pe::Resource> resources =
      StubResources(stub, Options.Icon.has_value() || Options.NoIcon, nextIconId);
  if (Options.Icon)
    for (pe::Resource& r : IconResources(*Options.Icon, StubIconName, nextIconId))
      resources.push_back(std::move(r));
  ReplaceStrings(stub, resources, texts.Replaced);

  std::uint64_t inputBytes = 0;
  for (const InputFile& file : files)
    inputBytes += file.Size;
  TProgress progress(Options.Progress, inputBytes);
  const std::optional<int> level =
      Options.Store ? std::nullopt : std::optional(Options.Level.value_or(DefaultLevel));
  // A packer per thread, each with a work file of its own; which one packs an item
  // changes where its bytes wait, never the bytes.
  std::vector<std::unique_ptr<TItemPacker>> packers;
  for (std::size_t n = WorkerCount(Options.Jobs, files.size()); packers.size() < n;)
    packers.push_back(
        std::make_unique<TItemPacker>(WorkPath(output, ".items"), level, password, progress));

  PackReport report;
  std::vector<ItemRecordFields> records;
  std::vector<std::uint32_t> checksums;
  std::vector<PackedItem> packed(files.size());
  RunInItemOrder(
      files.size(), packers.size(), ItemsAhead,
      [&](std::size_t Worker, std::size_t Item) {
        packed[Item] = packers[Worker]->Pack(files[Item].Path);
      },
      [&](std::size_t Item) {
        const InputFile& file = files[Item];
        const PackedItem& item = packed[Item];
        report.OriginalBytes += item.OriginalSize;
        report.StoredBytes += item.Length;
        if (report.StoredBytes > pe::MaxImageSize)
          throw TooLargeForImage(report.StoredBytes);
        ItemRecordFields record;
        record.FileName = file.Name;
        record.OriginalSize = item.OriginalSize;
        record.StoredSize = item.StoredSize;
        record.Compressed = item.Compressed;
        const std::int64_t seconds =
            epoch ? std::min(*epoch, file.ModifiedSeconds) : file.ModifiedSeconds;
        record.FileTime = DaysSince1899(seconds);
        records.push_back(std::move(record));
        checksums.push_back(item.Checksum);
        resources.push_back(
            {pe::ResourceKey::FromId(pe::RtRcData),
             pe::ResourceKey::FromName("ITEM" + std::to_string(Item + 1)), 0, 0,
             std::make_shared<pe::FileRegionData>(item.WorkFile, item.Offset, item.Length)});
      });
  for (const std::unique_ptr<TItemPacker>& packer : packers)
    packer->Close();
  progress.Done();

  resources.push_back(RcData("HEADER", BuildHeaderResource(header, records)));
  resources.push_back({pe::ResourceKey::FromName(ChecksumsType),
                       pe::ResourceKey::FromName(ChecksumsName), 0, 0,
                       std::make_shared<pe::BytesData>(EncodeChecksums(checksums))});
  resources.push_back({pe::ResourceKey::FromName(ChecksumsType),
                       pe::ResourceKey::FromName(CodePageResourceName), 0, 0,
                       std::make_shared<pe::BytesData>(EncodeCodePage(texts.CodePage))});
  if (welcome) {
    resources.push_back(RcData("WELCOMETEXT", TextResource(*welcome)));
    resources.push_back(RcData("WELCOMETITLE", TextResource(title.value_or(""))));
  }

  // The image is written beside the output and takes its name only when whole, so an
  // existing file is replaced only by a finished archive.
  const fs::path partial = WorkPath(output, ".partial");
  TRemoveOnExit removePartial(partial);
  try {
    const pe::WriteReport written =
        pe::WriteImageWithResources(stub, resources, SystemName(partial));
    report.DroppedCertificate = written.DroppedCertificate;
    report.ImageSize = written.SizeOfImage;
  } catch (const pe::PeWriteError& e) {
    throw ToolError(Options.Output + ": " + e.what());
  }
  std::error_code error;
  fs::rename(partial, output, error);
  if (error)
    throw ToolError("cannot write " + Options.Output + ": " + error.message());
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
         "Up to " + std::to_string(pe::Mappable32BitImageSize) + " bytes start everywhere.";
}

} // namespace vexa::tool
