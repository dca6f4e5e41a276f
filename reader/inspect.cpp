#include "reader/inspect.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "archive/archive_paths.h"
#include "archive/item_paths.h"
#include "pe/resource_writer.h"
#include "platform/folder_handle.h"
#include "platform/path_facts.h"
#include "reader/archive_checks.h"
#include "reader/archive_file.h"
#include "streams/file_stream.h"
#include "streams/item_pipeline.h"
#include "texts/ansi_text.h"
#include "texts/archive_texts.h"
#include "tool_base/item_checksums.h"
#include "tool_base/local_path.h"
#include "tool_base/progress.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace fs = std::filesystem;

namespace {

std::string Shown(const fs::path& Path) { return Utf8Of(Path); }

struct FlagName {
  std::uint8_t Mask;
  const char* Name;
};
constexpr FlagName FlagNames[] = {
    {hfEncrypted, "encrypted"},          {hfRunProgram, "run-program"},
    {hfTempFolder, "temp-folder"},       {hfFixedFolder, "fixed-folder"},
    {hfAskFolder, "ask-folder"},         {hfWaitAndDelete, "wait-and-delete"},
    {hfAlwaysConfirm, "always-confirm"}, {hfProgramInDestination, "program-in-destination"},
};

std::vector<std::string> FlagList(std::uint8_t Flags) {
  std::vector<std::string> names;
  for (const FlagName& flag : FlagNames)
    if (Flags & flag.Mask)
      names.emplace_back(flag.Name);
  return names;
}

// The destination as the stub settles it: the first of ask, temporary, fixed.
std::string DestinationText(const TVexaHeader& Header, unsigned CodePage) {
  const std::uint8_t flags = Header.Flags();
  if (flags & hfAskFolder)
    return "chosen by the user";
  if (flags & hfTempFolder)
    return "a new folder in the user's temporary folder";
  if (flags & hfFixedFolder) {
    const std::string path = FromAnsi(Header.DestinationPath(), CodePage);
    return Header.DestinationPath().find(':') != std::string::npos ? path
                                                                   : path + " (beside the .exe)";
  }
  return "none (the extractor refuses the archive)";
}

std::string DateText(double Days) {
  if (!std::isfinite(Days))
    return "-";
  const double seconds = std::round((Days - 25569.0) * 86400.0);
  if (seconds < -62135596800.0 || seconds > 253402300799.0)
    return "-";
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
#ifdef _WIN32
  gmtime_s(&tm, &t);
#else
  gmtime_r(&t, &tm);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

// A UTF-8 name padded to Width characters, for a table column: printf pads by bytes, and a
// name beyond ASCII takes two or three of them for each character.
std::string PaddedName(std::string Name, std::size_t Width) {
  std::size_t characters = 0;
  for (const char ch : Name)
    characters += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
  if (characters < Width)
    Name.append(Width - characters, ' ');
  return Name;
}

std::string RatioText(std::uint64_t Original, std::uint64_t Stored) {
  if (Original == 0)
    return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * Stored / Original);
  return text;
}

std::string JsonString(const std::string& Text) {
  std::string out = "\"";
  for (const char ch : Text) {
    const auto b = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (b < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

// The version strings `vexa list` shows, and what it calls them.
struct VersionLabel {
  const char16_t* Name;
  const char* Label;
};
constexpr VersionLabel VersionLabels[] = {
    {u"FileDescription", "Description: "}, {u"ProductName", "Product:     "},
    {u"ProductVersion", "Version:     "},  {u"CompanyName", "Company:     "},
    {u"LegalCopyright", "Copyright:   "},
};

std::string VersionNumbersText(const std::array<std::uint16_t, 4>& Numbers) {
  return std::to_string(Numbers[0]) + "." + std::to_string(Numbers[1]) + "." +
         std::to_string(Numbers[2]) + "." + std::to_string(Numbers[3]);
}

void VersionJson(const std::optional<pe::VersionInfo>& Info, std::ostream& Out) {
  Out << "  \"version_info\": ";
  if (!Info) {
    Out << "null,\n";
    return;
  }
  Out << "{\"file_version\": " << JsonString(VersionNumbersText(Info->FileVersion))
      << ", \"product_version\": " << JsonString(VersionNumbersText(Info->ProductVersion))
      << ", \"strings\": {";
  for (std::size_t i = 0; i < Info->Strings.size(); ++i)
    Out << (i ? ", " : "") << JsonString(Utf8FromUtf16(Info->Strings[i].first)) << ": "
        << JsonString(Utf8FromUtf16(Info->Strings[i].second));
  Out << "}},\n";
}

// The code page as `vexa list` names it, saying when the archive does not record it.
std::string CodePageText(const TArchiveFile& Archive) {
  return CodePageName(Archive.CodePage()) +
         (Archive.CodePageRecorded() ? "" : " (assumed: the archive does not record it)");
}

// The method column: "lzma2+" continues the stream of the item before it.
const char* MethodName(const TItemRecord& Item) {
  switch (Compressed(Item)) {
  case imStored:
    return "stored";
  case imLzma2:
    return "lzma2";
  case imLzma2Continued:
    return "lzma2+";
  default:
    return "deflate";
  }
}

// The number of each item's block, from 1: an item that continues an LZMA2 stream is in
// the block of the item before it, every other item starts one.
std::vector<std::size_t> BlockNumbers(const TVexaHeader& Header) {
  std::vector<std::size_t> numbers;
  std::size_t block = 0;
  for (const auto& item : Header.Items) {
    if (Compressed(*item) != imLzma2Continued || block == 0)
      ++block;
    numbers.push_back(block);
  }
  return numbers;
}

void ListJson(const TArchiveFile& Archive, std::ostream& Out) {
  const TVexaHeader& header = Archive.Header();
  const unsigned page = Archive.CodePage();
  Out << "{\n  \"flags\": [";
  const std::vector<std::string> flags = FlagList(header.Flags());
  for (std::size_t i = 0; i < flags.size(); ++i)
    Out << (i ? ", " : "") << JsonString(flags[i]);
  Out << "],\n  \"destination\": " << JsonString(DestinationText(header, page)) << ",\n";
  Out << "  \"image_size\": " << Archive.ImageSize() << ",\n";
  Out << "  \"destination_path\": " << JsonString(FromAnsi(header.DestinationPath(), page))
      << ",\n";
  Out << "  \"program\": " << JsonString(FromAnsi(header.ProgramPath(), page)) << ",\n";
  Out << "  \"language\": " << JsonString(DescribeTexts(Archive.Image())) << ",\n";
  Out << "  \"code_page\": " << page << ",\n";
  Out << "  \"code_page_recorded\": " << (Archive.CodePageRecorded() ? "true" : "false") << ",\n";
  Out << "  \"welcome_text\": " << JsonString(FromAnsi(Archive.WelcomeText(), page)) << ",\n";
  Out << "  \"welcome_title\": " << JsonString(FromAnsi(Archive.WelcomeTitle(), page)) << ",\n";
  VersionJson(Archive.VersionInfo(), Out);
  Out << "  \"unattended\": " << (header.RefusesUnattended() ? "false" : "true") << ",\n";
  Out << "  \"item_resources_past_header\": " << Archive.ItemResourcesPastHeader() << ",\n";
  Out << "  \"items\": [";
  const std::vector<std::size_t> blocks = BlockNumbers(header);
  for (std::size_t i = 0; i < header.Items.size(); ++i) {
    const TItemRecord& item = *header.Items[i];
    Out << (i ? "," : "") << "\n    {\"name\": " << JsonString(Archive.ItemPath(i));
    // What readers that know only FileName write, beside the path that the others do.
    if (Archive.HasItemPaths())
      Out << ", \"file_name\": " << JsonString(FromAnsi(FileName(item), page));
    Out << ", \"size\": " << OriginalSize(item) << ", \"stored\": " << StoredSize(item)
        << ", \"compressed\": " << (Compressed(item) ? "true" : "false")
        << ", \"method\": " << JsonString(MethodName(item)) << ", \"block\": " << blocks[i]
        << ", \"modified\": " << JsonString(DateText(FileTime(item))) << "}";
  }
  Out << (header.Items.empty() ? "" : "\n  ") << "]";
  if (Archive.HasItemPaths()) {
    Out << ",\n  \"empty_folders\": [";
    if (const std::optional<TItemPathTable>& paths = Archive.ItemPaths())
      for (std::size_t i = 0; i < paths->EmptyFolderCount(); ++i)
        Out << (i ? ", " : "") << JsonString(Utf8FromUtf16(paths->EmptyFolder(i)));
    Out << "]";
  }
  Out << "\n}\n";
}

void ListTable(const TArchiveFile& Archive, std::ostream& Out) {
  const TVexaHeader& header = Archive.Header();
  const unsigned page = Archive.CodePage();
  std::string flags;
  for (const std::string& name : FlagList(header.Flags()))
    flags += (flags.empty() ? "" : " ") + name;
  Out << "Archive:     " << Archive.Path() << "\n";
  Out << "Flags:       " << (flags.empty() ? "(none)" : flags) << "\n";
  Out << "Destination: " << DestinationText(header, page) << "\n";
  Out << "Image:       " << Archive.ImageSize() << " bytes in memory"
      << (Archive.ImageSize() > pe::Mappable32BitImageSize ? " (may not start on 32-bit Windows)"
                                                           : "")
      << "\n";
  Out << "Language:    " << DescribeTexts(Archive.Image()) << "\n";
  Out << "Code page:   " << CodePageText(Archive) << "\n";
  if (header.Flags() & hfRunProgram)
    Out << "Program:     " << FromAnsi(header.ProgramPath(), page)
        << ((header.Flags() & hfProgramInDestination) ? " (in the destination)" : "") << "\n";
  if (const std::string welcome = Archive.WelcomeText(); !welcome.empty())
    Out << "Welcome:     " << FromAnsi(welcome, page) << " ["
        << FromAnsi(Archive.WelcomeTitle(), page) << "]\n";
  if (const std::optional<pe::VersionInfo> version = Archive.VersionInfo())
    for (const VersionLabel& label : VersionLabels)
      for (const auto& [name, value] : version->Strings)
        if (name == label.Name)
          Out << label.Label << Utf8FromUtf16(value) << "\n";
  Out << "Unattended:  "
      << (header.RefusesUnattended() ? "refused (/S, /passive and /D= end with exit code 2)"
                                     : "/S, /passive and /D= accepted")
      << "\n";

  char line[256];
  std::snprintf(line, sizeof line, "\n%-32s %12s %12s %7s %-8s %5s %s\n", "Name", "Size", "Stored",
                "Ratio", "Method", "Block", "Modified (UTC)");
  Out << line;
  std::uint64_t original = 0;
  std::uint64_t stored = 0;
  const std::vector<std::size_t> blocks = BlockNumbers(header);
  // A block's stored bytes are its first item's, so the ratio shown there is the block's; the
  // items continuing it have none of their own.
  std::vector<std::uint64_t> blockSizes(blocks.empty() ? 0 : blocks.back() + 1);
  for (std::size_t i = 0; i < header.Items.size(); ++i)
    blockSizes[blocks[i]] += OriginalSize(*header.Items[i]);
  for (std::size_t i = 0; i < header.Items.size(); ++i) {
    const TItemRecord& item = *header.Items[i];
    // A path longer than the column pushes the others right.
    Out << PaddedName(Archive.ItemPath(i), 32);
    const std::string ratio = Compressed(item) == imLzma2Continued
                                  ? "-"
                                  : RatioText(blockSizes[blocks[i]], StoredSize(item));
    std::snprintf(line, sizeof line, " %12u %12u %7s %-8s %5llu %s\n", OriginalSize(item),
                  StoredSize(item), ratio.c_str(), MethodName(item),
                  static_cast<unsigned long long>(blocks[i]), DateText(FileTime(item)).c_str());
    Out << line;
    original += OriginalSize(item);
    stored += StoredSize(item);
  }
  std::snprintf(line, sizeof line, "%-32s %12llu %12llu %7s\n",
                (std::to_string(header.Items.size()) + " item(s)").c_str(),
                static_cast<unsigned long long>(original), static_cast<unsigned long long>(stored),
                RatioText(original, stored).c_str());
  Out << line;
  if (const std::optional<TItemPathTable>& paths = Archive.ItemPaths())
    for (std::size_t i = 0; i < paths->EmptyFolderCount(); ++i)
      Out << Utf8FromUtf16(paths->EmptyFolder(i)) << "\\ (empty folder)\n";
}

std::string ItemText(const TArchiveFile& Archive, std::size_t Index) {
  return "item " + std::to_string(Index + 1) + " (" + Archive.ItemPath(Index) + ")";
}

struct DamagedItem {
  std::size_t Index;
  std::string Problem;
};

using ItemSink = std::function<void(const std::uint8_t*, std::int32_t)>;

// Reads the block that starts at item First (docs/format.md: most often the item alone)
// through the extractor's own streams, each item to its end: Begin(Index) comes first,
// Sink takes its bytes, and what came out is checked against the record (and the packer's
// checksum when the archive has one). Every damaged item of the block goes to Damaged: an
// item the damage of its block's stream stopped, and those after it in that block, which
// it never reached. With StopAtDamage, the first damaged item ends the reading. Returns the
// block's length. The failures of Begin and Sink pass as they are.
std::size_t ReadBlock(const TArchiveFile& Archive, std::size_t First, const std::string& Password,
                      const std::optional<std::vector<std::uint32_t>>& Checksums, bool StopAtDamage,
                      const std::function<void(std::size_t)>& Begin, const ItemSink& Sink,
                      std::vector<DamagedItem>& Damaged) {
  const TItemRecords& items = Archive.Header().Items;
  const std::size_t length = BlockLength(items, First);
  const std::size_t end = First + length;
  const auto blockDamaged = [&](std::size_t From, const std::string& Why) {
    for (std::size_t i = From; i < end; ++i)
      Damaged.push_back({i, i == From ? Why
                                      : "is damaged: it follows " + ItemText(Archive, From) +
                                            " in their block's stream"});
  };
  if (Compressed(*items[First]) == imLzma2Continued) {
    for (std::size_t i = First; i < end; ++i)
      Damaged.push_back({i, "is damaged: it continues an LZMA2 block, but no LZMA2 item "
                            "starts one before it"});
    return length;
  }
  for (std::size_t i = First + 1; i < end; ++i)
    if (StoredSize(*items[i]) != 0) {
      blockDamaged(First, "is damaged: " + ItemText(Archive, i) +
                              ", which continues its block, has stored data of its own");
      return length;
    }
  const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[CopyBufferSize]);
  std::size_t at = First;
  try {
    TBlockReader block(Archive.Module(), TArchiveFile::ItemResourceName(First), Password, items,
                       First);
    for (; at < end; ++at) {
      const TItemRecord& item = *items[at];
      if (Begin)
        Begin(at);
      TStream& bytes = block.Next();
      std::uint64_t count = 0;
      std::uint32_t crc = 0;
      for (std::int32_t n; (n = bytes.Read(buffer.get(), CopyBufferSize)) > 0;) {
        count += static_cast<std::uint32_t>(n);
        crc = Crc32(crc, {buffer.get(), static_cast<std::size_t>(n)});
        if (Sink)
          Sink(buffer.get(), n);
      }
      block.CheckComplete();
      std::optional<std::string> problem;
      if (count != OriginalSize(item))
        problem = "gives " + std::to_string(count) + " bytes instead of " +
                  std::to_string(OriginalSize(item));
      else if (Checksums && (*Checksums)[at] != crc)
        problem = "differs from what was packed (checksum mismatch)";
      if (problem) {
        Damaged.push_back({at, *problem});
        if (StopAtDamage)
          return length;
      }
    }
  } catch (const TStreamReadException&) {
    blockDamaged(at, "is missing or shorter than its stored size");
  } catch (const Exception& e) {
    blockDamaged(at,
                 "is damaged: " + (e.message() == "error" ? std::string("corrupt compressed data")
                                                          : e.message()));
  }
  return length;
}

// The components of item Index's path, as the stub splits it: from ITEMPATHS, or the
// FileName byte by byte, each part as Windows reads it then. Nothing when the path could
// name something outside the destination.
std::optional<std::vector<std::string>> ItemComponents(const TArchiveFile& Archive,
                                                       std::size_t Index) {
  if (const std::optional<TItemPathTable>& paths = Archive.ItemPaths()) {
    if (!IsSafeTreePath(paths->Item(Index)))
      return std::nullopt;
    return SplitPath(Utf8FromUtf16(paths->Item(Index)), "\\/");
  }
  const std::string name = FileName(*Archive.Header().Items[Index]);
  if (!IsSafeItemPath(name))
    return std::nullopt;
  std::vector<std::string> parts = SplitPath(name, "\\/");
  for (std::string& part : parts)
    part = FromAnsi(part, Archive.CodePage());
  return parts;
}

struct ExtractTargets {
  // The folders the items go into, from the destination (the destination itself first), and
  // the number of each item's folder there. An item's own name comes from its path again when
  // it is written, so that across thousands of items each costs a number, not a path.
  std::vector<fs::path> Folders;
  std::vector<std::uint32_t> FolderOf;
  std::vector<fs::path> EmptyFolders; // the recorded ones that can be made, from the destination

  // Item Index's file, from the destination.
  fs::path File(const TArchiveFile& Archive, std::size_t Index) const {
    return Folders[FolderOf[Index]] / PathFromUtf8(ItemComponents(Archive, Index)->back());
  }
};

// Where each item goes under Directory, and the empty folders. Every refusal comes before
// the first file is written, and nothing can be written outside Directory: an existing
// folder on the way must be a real folder, not a link. Names are compared as Windows
// compares them, so a folder is spelled as the first item that names it, and Sub\a and
// SUB/b land in one folder on a case-sensitive file system too, as they would on Windows.
class TTargetPlanner {
public:
  TTargetPlanner(const TArchiveFile& Archive, const fs::path& Directory,
                 const std::string& DirectoryText, ExtractTargets& Targets)
      : Archive(Archive), Directory(Directory), DirectoryText(DirectoryText), Targets(Targets) {
    Targets.Folders.emplace_back();
    Files.reserve(Archive.Header().Items.size());
  }

  // The number of item Index's folder.
  std::uint32_t File(std::size_t Index, bool Force) {
    const std::optional<std::vector<std::string>> parts = ItemComponents(Archive, Index);
    if (!parts)
      throw Refused(Index, "would not be a file inside " + DirectoryText);
    for (const std::string& part : *parts)
      if (const auto problem = WindowsNameProblem(part))
        throw Refused(Index, "has " + *problem);
    std::string key;
    const std::uint32_t folder =
        Folder(*parts, parts->size() - 1, ItemText(Archive, Index), Index, key);
    key += NameKey(parts->back());
    if (const auto needed = Folders.find(key); needed != Folders.end())
      throw Refused(Index, "is a file where " + ItemText(Archive, needed->second.FirstItem) +
                               " needs a folder");
    if (const std::optional<std::size_t> other = FileAt(key))
      throw ToolError(Archive.Path() + ": " + ItemText(Archive, Index) + " and " +
                      ItemText(Archive, *other) +
                      " would be the same file on Windows; refusing to extract anything");
    Files.emplace(std::hash<std::string>{}(key), static_cast<std::uint32_t>(Index));
    const fs::path path = Directory / Targets.Folders[folder] / PathFromUtf8(parts->back());
    const platform::PathFacts there = platform::LookAt(path);
    if (there.Leads == platform::PathFacts::Kind::Folder && !there.Link)
      throw ToolError(Shown(path) + " is a folder; refusing to extract anything");
    if (there.Leads == platform::PathFacts::Kind::Unreadable)
      throw ToolError(Shown(path) + ": " + there.Why);
    if ((there.Link || there.Leads != platform::PathFacts::Kind::Missing) && !Force)
      throw ToolError(Shown(path) + " exists; use --force to overwrite");
    return folder;
  }

  // Nothing for a recorded folder that is unsafe or where an item is a file: the stub
  // skips it, and so does extract, saying why on Err.
  std::optional<fs::path> EmptyFolder(std::u16string_view Path, std::ostream& Err) {
    const std::string shown = Utf8FromUtf16(Path);
    std::vector<std::string> parts = SplitPath(shown, "\\/");
    const auto skip = [&](const std::string& Why) {
      Err << "vexa: warning: " << Archive.Path() << ": the empty folder " << shown << " " << Why
          << "; not made\n";
      return std::nullopt;
    };
    if (!IsSafeTreePath(Path))
      return skip("would not be a folder inside " + DirectoryText);
    for (const std::string& part : parts)
      if (const auto problem = WindowsNameProblem(part))
        return skip("has " + *problem);
    std::string key;
    for (const std::string& part : parts) {
      key += NameKey(part);
      if (FileAt(key))
        return skip("lies where an item is a file");
      key += '\\';
    }
    key.clear();
    return Targets.Folders[Folder(parts, parts.size(), "the empty folder " + shown,
                                  Archive.Header().Items.size(), key)];
  }

private:
  struct PlannedFolder {
    std::uint32_t Number; // in Targets.Folders
    std::size_t FirstItem;
  };

  ToolError Refused(std::size_t Index, const std::string& Why) const {
    return Refused(ItemText(Archive, Index), Why);
  }
  ToolError Refused(const std::string& Who, const std::string& Why) const {
    return ToolError(Archive.Path() + ": " + Who + " " + Why + "; refusing to extract anything");
  }

  // The key of the file of item Index, which File planned.
  std::string FileKey(std::size_t Index) const {
    const std::vector<std::string> parts = *ItemComponents(Archive, Index);
    std::string key = NameKey(parts.front());
    for (std::size_t p = 1; p < parts.size(); ++p)
      key += '\\' + NameKey(parts[p]);
    return key;
  }

  // The item planned so far whose file has Key.
  std::optional<std::size_t> FileAt(const std::string& Key) const {
    const auto [first, last] = Files.equal_range(std::hash<std::string>{}(Key));
    for (auto at = first; at != last; ++at)
      if (FileKey(at->second) == Key)
        return at->second;
    return std::nullopt;
  }

  // The number of the folder of the first Count parts, each checked the first time anything
  // needs it; Key gets its key. Who needs it: item Index, or a recorded empty folder (Index is
  // then the item count).
  std::uint32_t Folder(const std::vector<std::string>& Parts, std::size_t Count,
                       const std::string& Who, std::size_t Index, std::string& Key) {
    std::uint32_t number = 0;
    for (std::size_t p = 0; p < Count; ++p) {
      if (p)
        Key += '\\';
      Key += NameKey(Parts[p]);
      if (const std::optional<std::size_t> file = FileAt(Key))
        throw Refused(Who, "needs a folder where " + ItemText(Archive, *file) + " is a file");
      const auto next = static_cast<std::uint32_t>(Targets.Folders.size());
      const auto [at, added] = Folders.try_emplace(Key, PlannedFolder{next, Index});
      if (!added) {
        number = at->second.Number;
        continue;
      }
      Targets.Folders.push_back(Targets.Folders[number] / PathFromUtf8(Parts[p]));
      number = next;
      const fs::path path = Directory / Targets.Folders[number];
      const platform::PathFacts there = platform::LookAt(path);
      if (there.Link)
        throw Refused(Who, "would be written through the link " + Shown(path));
      switch (there.Leads) {
      case platform::PathFacts::Kind::Missing:
      case platform::PathFacts::Kind::Folder:
        break;
      case platform::PathFacts::Kind::Unreadable:
        throw ToolError(Shown(path) + ": " + there.Why);
      default:
        throw Refused(Who, "needs a folder where " + Shown(path) + " is not one");
      }
    }
    if (!Key.empty())
      Key += '\\';
    return number;
  }

  const TArchiveFile& Archive;
  const fs::path& Directory;
  const std::string& DirectoryText;
  ExtractTargets& Targets;
  // By the hash of their key, the items planned so far: a key each would cost more than the
  // item's path, and two keys with one hash are told apart by the items' paths.
  std::unordered_multimap<std::size_t, std::uint32_t> Files;
  std::map<std::string, PlannedFolder> Folders; // by key
};

ExtractTargets PlanTargets(const TArchiveFile& Archive, const fs::path& Directory,
                           const std::string& DirectoryText, bool Force, std::ostream& Err) {
  if (!Archive.ItemPathsDamage().empty())
    throw ToolError(Archive.Path() + ": " + Archive.ItemPathsDamage() +
                    "; refusing to extract anything");
  ExtractTargets targets;
  TTargetPlanner planner(Archive, Directory, DirectoryText, targets);
  targets.FolderOf.reserve(Archive.Header().Items.size());
  for (std::size_t i = 0; i < Archive.Header().Items.size(); ++i)
    targets.FolderOf.push_back(planner.File(i, Force));
  if (const std::optional<TItemPathTable>& paths = Archive.ItemPaths())
    for (std::size_t i = 0; i < paths->EmptyFolderCount(); ++i)
      if (std::optional<fs::path> path = planner.EmptyFolder(paths->EmptyFolder(i), Err))
        targets.EmptyFolders.push_back(std::move(*path));
  return targets;
}

// The folders of the tree being written, each opened from the one above it and held while
// what is in it is written: the plan checked every path, and a link planted in a folder's or
// a file's place after that is refused here rather than followed.
class TTreeWriter {
public:
  TTreeWriter(const TArchiveFile& Archive, const fs::path& Directory) : Archive(Archive) {
    Held.emplace_back();
    std::string why;
    if (Held.back().second.Open(Directory, why) != platform::FolderHandle::Outcome::Done)
      throw ToolError("cannot open " + Shown(Directory) + ": " + why);
  }

  // The folder Relative, from the destination, made where it is missing. Who needs it, for
  // the refusal of a link.
  const platform::FolderHandle& Folder(const fs::path& Relative, const std::string& Who) {
    std::size_t depth = 1;
    for (const fs::path& part : Relative) {
      if (depth < Held.size() && Held[depth].first == part) {
        ++depth;
        continue;
      }
      Held.resize(depth);
      platform::FolderHandle folder;
      std::string why;
      switch (folder.OpenIn(Held.back().second, part, why)) {
      case platform::FolderHandle::Outcome::Done:
        break;
      case platform::FolderHandle::Outcome::Link:
        throw ToolError(Archive.Path() + ": " + Who + " would be written through the link " +
                        Shown(Held.back().second.Path() / part) +
                        ", made after the check; extraction stopped");
      default:
        throw ToolError("cannot create " + Shown(Held.back().second.Path() / part) + ": " + why);
      }
      Held.emplace_back(part, std::move(folder));
      ++depth;
    }
    Held.resize(depth);
    return Held.back().second;
  }

  // Creates the file Relative; Replace as --force says.
  std::unique_ptr<TFileStream> Create(const fs::path& Relative, bool Replace,
                                      const std::string& Who) {
    const platform::FolderHandle& folder = Folder(Relative.parent_path(), Who);
    const fs::path shown = folder.Path() / Relative.filename();
    platform::FileHandle file = platform::InvalidFileHandle;
    std::string why;
    switch (folder.OpenNewFile(Relative.filename(), Replace, file, why)) {
    case platform::FolderHandle::Outcome::Done:
      return std::make_unique<TFileStream>(file);
    case platform::FolderHandle::Outcome::Exists:
      throw ToolError(Shown(shown) + " exists; use --force to overwrite");
    default:
      throw ToolError(Shown(shown) + ": " + why);
    }
  }

  // Removes the file Relative, which Create made.
  void Remove(const fs::path& Relative, const std::string& Who) {
    Folder(Relative.parent_path(), Who).RemoveFile(Relative.filename());
  }

private:
  const TArchiveFile& Archive;
  // The destination, then the folders of the last path asked for, each by its name.
  std::vector<std::pair<fs::path, platform::FolderHandle>> Held;
};

void WarnOfItemsPastHeader(const TArchiveFile& Archive, std::ostream& Err) {
  if (const std::optional<std::string> warning = ItemsPastHeaderWarning(Archive))
    Err << "vexa: warning: " << *warning << "\n";
}

// What verify found, for its report.
struct Findings {
  std::vector<DamagedItem> Damaged;
  bool ItemChecksums = false; // the items were checked against the packer's checksums
  ImageChecksumCheck Image;
  // A damaged ITEMPATHS, and recorded empty folders the extractor would not make.
  std::vector<std::string> PathProblems;
};

std::vector<std::string> PathProblemsOf(const TArchiveFile& Archive) {
  std::vector<std::string> problems;
  if (!Archive.ItemPathsDamage().empty())
    problems.push_back(Archive.ItemPathsDamage());
  if (const std::optional<TItemPathTable>& paths = Archive.ItemPaths())
    for (std::size_t i = 0; i < paths->EmptyFolderCount(); ++i)
      if (!IsSafeTreePath(paths->EmptyFolder(i)))
        problems.push_back("the empty folder " + Utf8FromUtf16(paths->EmptyFolder(i)) +
                           " has a path the extractor refuses to make");
  return problems;
}

void VerifyText(const TArchiveFile& Archive, const Findings& Found, std::ostream& Out,
                std::ostream& Err) {
  const std::vector<DamagedItem>& Damaged = Found.Damaged;
  const ImageChecksumCheck& Image = Found.Image;
  for (const DamagedItem& item : Damaged)
    Err << Archive.Path() << ": " << ItemText(Archive, item.Index) << " " << item.Problem << "\n";
  for (const std::string& problem : Found.PathProblems)
    Err << Archive.Path() << ": " << problem << "\n";
  if (!Damaged.empty() || !Found.PathProblems.empty())
    return;
  if (Image.Result == ImageChecksumCheck::Verdict::Damaged) {
    Err << Archive.Path() << ": damaged outside its items: " << Image.Text
        << " (the stub's code, the headers or a resource other than the items changed after "
           "packing)\n";
    return;
  }
  Out << Archive.Path() << ": " << Archive.Header().Items.size() << " item(s) OK"
      << (Found.ItemChecksums
              ? ""
              : " (no checksums in this archive: stored items checked by size only)")
      << (Image.Result == ImageChecksumCheck::Verdict::Fits
              ? ", image checksum OK"
              : "; image checksum not checked (" + Image.Text + ")")
      << "\n";
}

void VerifyJson(const TArchiveFile& Archive, const Findings& Found, bool Passed,
                std::ostream& Out) {
  using Verdict = ImageChecksumCheck::Verdict;
  const std::vector<DamagedItem>& Damaged = Found.Damaged;
  const ImageChecksumCheck& Image = Found.Image;
  Out << "{\n  \"passed\": " << (Passed ? "true" : "false") << ",\n";
  Out << "  \"items\": " << Archive.Header().Items.size() << ",\n";
  Out << "  \"item_checksums\": " << (Found.ItemChecksums ? "true" : "false") << ",\n";
  Out << "  \"damaged_items\": [";
  for (std::size_t i = 0; i < Damaged.size(); ++i)
    Out << (i ? "," : "") << "\n    {\"item\": " << Damaged[i].Index + 1 << ", \"name\": "
        << JsonString(
               FromAnsi(FileName(*Archive.Header().Items[Damaged[i].Index]), Archive.CodePage()))
        << ", \"problem\": " << JsonString(Damaged[i].Problem) << "}";
  Out << (Damaged.empty() ? "" : "\n  ") << "],\n";
  Out << "  \"path_problems\": [";
  for (std::size_t i = 0; i < Found.PathProblems.size(); ++i)
    Out << (i ? ", " : "") << JsonString(Found.PathProblems[i]);
  Out << "],\n";
  Out << "  \"image_checksum\": "
      << (Image.Result == Verdict::Fits      ? "\"ok\""
          : Image.Result == Verdict::Damaged ? "\"damaged\""
                                             : "\"not checked\"")
      << ",\n";
  Out << "  \"image_checksum_note\": " << JsonString(Image.Text) << ",\n";
  Out << "  \"item_resources_past_header\": " << Archive.ItemResourcesPastHeader() << "\n}\n";
}

} // namespace

void ListArchive(const std::string& Path, bool Json, std::ostream& Out, std::ostream& Err) {
  const TArchiveFile archive(Path);
  WarnOfItemsPastHeader(archive, Err);
  if (!archive.ItemPathsDamage().empty())
    Err << "vexa: warning: " << Path << ": " << archive.ItemPathsDamage()
        << "; the items are shown by FileName\n";
  if (Json)
    ListJson(archive, Out);
  else
    ListTable(archive, Out);
}

void ExtractArchiveTo(const std::string& Path, const ExtractOptions& Options, std::ostream& Out,
                      std::ostream& Err) {
  const TArchiveFile archive(Path);
  // Whether the damage lies in an item or elsewhere takes reading every item to tell, but
  // a file that changed after packing is refused before anything is written.
  if (const ImageChecksumCheck image = CheckImageChecksum(archive);
      image.Result == ImageChecksumCheck::Verdict::Damaged)
    throw ToolError(Path + ": damaged: " + image.Text +
                    " (the file changed after packing; vexa verify tells where); refusing to "
                    "extract anything");
  WarnOfItemsPastHeader(archive, Err);
  const TVexaHeader& header = archive.Header();
  const fs::path directory = PathFromUtf8(Options.Directory);
  const ExtractTargets planned =
      PlanTargets(archive, directory, Options.Directory, Options.Force, Err);
  const std::string password = VerifiedPassword(archive, Options.Password);
  const std::optional<std::vector<std::uint32_t>> checksums = archive.Checksums();

  if (std::string why; !platform::MakeFolders(directory, why))
    throw ToolError("cannot create " + Options.Directory + ": " + why);
  TTreeWriter tree(archive, directory);

  std::uint64_t total = 0;
  for (const auto& item : header.Items)
    total += OriginalSize(*item);
  TProgress progress(Options.Progress, total);
  std::unique_ptr<TFileStream> file;
  std::optional<std::size_t> opened; // the item whose file is open
  fs::path target;                   // and that file, from the destination
  const auto begin = [&](std::size_t Index) {
    file.reset();
    target = planned.File(archive, Index);
    // The stub makes no folders, but here the user chose the folder to fill, so the
    // subfolders that item names ask for are made in it. --force replaces a link itself;
    // writing through it could land outside the folder.
    file = tree.Create(target, Options.Force, ItemText(archive, Index));
    opened = Index;
  };
  const auto write = [&](const std::uint8_t* Bytes, std::int32_t Count) {
    try {
      file->WriteBuffer(Bytes, Count);
      progress.Advance(static_cast<std::uint64_t>(Count));
    } catch (const Exception& e) {
      throw ToolError(Shown(directory / target) + ": " + e.message());
    }
  };
  for (std::size_t i = 0; i < header.Items.size();) {
    std::vector<DamagedItem> damaged;
    i += ReadBlock(archive, i, password, checksums, true, begin, write, damaged);
    file.reset();
    if (!damaged.empty()) {
      const DamagedItem& first = damaged.front();
      const fs::path damagedTarget = planned.File(archive, first.Index);
      // A file that is not the item would pass for it.
      if (opened == first.Index)
        tree.Remove(damagedTarget, ItemText(archive, first.Index));
      throw ToolError(Path + ": " + ItemText(archive, first.Index) + " " + first.Problem + "; " +
                      Shown(directory / damagedTarget) +
                      " was not kept (vexa verify lists every damaged item)");
    }
  }
  progress.Done();
  for (const fs::path& folder : planned.EmptyFolders)
    tree.Folder(folder, "the empty folder " + Shown(folder));
  Out << header.Items.size() << " file(s) written to " << Options.Directory << "\n";
}

VerifyResult VerifyArchive(const std::string& Path, const PasswordSource& Password, bool Json,
                           std::ostream& Out, std::ostream& Err) {
  const TArchiveFile archive(Path);
  const TVexaHeader& header = archive.Header();
  const std::string password = VerifiedPassword(archive, Password);
  const std::optional<std::vector<std::uint32_t>> checksums = archive.Checksums();

  Findings found;
  found.ItemChecksums = checksums.has_value();
  std::vector<DamagedItem> read;
  for (std::size_t i = 0; i < header.Items.size();)
    i += ReadBlock(archive, i, password, checksums, false, nullptr, nullptr, read);
  // An item the extractor would refuse to write is reported as such, whatever it holds.
  std::map<std::size_t, std::string> problems;
  for (DamagedItem& item : read)
    problems.emplace(item.Index, std::move(item.Problem));
  const std::optional<TItemPathTable>& paths = archive.ItemPaths();
  for (std::size_t i = 0; i < header.Items.size(); ++i)
    if (paths ? !IsSafeTreePath(paths->Item(i)) : !IsSafeItemPath(FileName(*header.Items[i])))
      problems[i] = paths ? "has a path the extractor refuses to write"
                          : "has a name the extractor refuses to write";
  for (auto& [index, problem] : problems)
    found.Damaged.push_back({index, std::move(problem)});
  found.PathProblems = PathProblemsOf(archive);
  // A damaged item changes the image checksum too; it says nothing more then.
  found.Image = found.Damaged.empty() ? CheckImageChecksum(archive)
                                      : ImageChecksumCheck{ImageChecksumCheck::Verdict::NotChecked,
                                                           "a damaged item changes it too"};
  const VerifyResult result{found.Damaged.size(),
                            found.Image.Result == ImageChecksumCheck::Verdict::Damaged,
                            found.PathProblems.size()};
  WarnOfItemsPastHeader(archive, Err);
  if (Json)
    VerifyJson(archive, found, result.Passed(), Out);
  else
    VerifyText(archive, found, Out, Err);
  return result;
}

} // namespace vexa::tool
