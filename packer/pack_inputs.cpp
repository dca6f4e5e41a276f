#include "packer/pack_inputs.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <utility>

#include "archive/archive_paths.h"
#include "archive/vexa_header.h"
#include "packer/item_packer.h"
#include "platform/path_facts.h"
#include "texts/ansi_text.h"
#include "tool_base/local_path.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace fs = std::filesystem;

namespace {

// A resource directory counts its named entries in 16 bits, and the items share the
// RCDATA directory with HEADER, ITEMPATHS when there is one, and the four welcome texts
// when there are any (the question and its title, each in the code page and in UTF-16).
constexpr std::size_t MaxNamedRcData = 0xFFFF;

std::string Shown(const fs::path& Path) { return Utf8Of(Path); }

// A name as a message shows it: each byte that is not part of a UTF-8 character as \xE9.
std::string ShownBytes(std::string_view Name) {
  std::string shown;
  for (std::size_t at = 0; at < Name.size();) {
    const auto lead = static_cast<unsigned char>(Name[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead >= 0x20 && at + length <= Name.size() && Utf16FromUtf8(Name.substr(at, length))) {
      shown += Name.substr(at, length);
      at += length;
      continue;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", lead);
    shown += hex;
    ++at;
  }
  return shown;
}

// How Windows tells two paths apart: component by component, case folded.
std::string PathKey(std::string_view Relative) {
  std::string key;
  for (const std::string& part : SplitPath(Relative, "/")) {
    if (!key.empty())
      key += '\\';
    key += NameKey(part);
  }
  return key;
}

// The bytes of the UTF-8 character at At.
std::size_t CharLength(std::string_view Text, std::size_t At) {
  std::size_t length = 1;
  while (At + length < Text.size() &&
         (static_cast<unsigned char>(Text[At + length]) & 0xC0) == 0x80)
    ++length;
  return length;
}

bool GlobMatches(std::string_view Pattern, std::string_view Text) {
  std::size_t p = 0;
  std::size_t t = 0;
  // Where the last '*' stands in the pattern and where its match would end in the text.
  std::size_t starP = std::string_view::npos;
  std::size_t starT = 0;
  while (t < Text.size()) {
    if (p < Pattern.size() && Pattern[p] == '*') {
      starP = ++p;
      starT = t;
    } else if (p < Pattern.size() && Pattern[p] == '?' && Text[t] != '/') {
      ++p;
      t += CharLength(Text, t);
    } else if (p < Pattern.size() && Pattern[p] != '?' && Pattern[p] == Text[t]) {
      ++p;
      ++t;
    } else {
      // The last '*' takes one more character, never a '/'.
      if (starP == std::string_view::npos || Text[starT] == '/')
        return false;
      starT += CharLength(Text, starT);
      t = starT;
      p = starP;
    }
  }
  while (p < Pattern.size() && Pattern[p] == '*')
    ++p;
  return p == Pattern.size();
}

// A file or folder found below an input, before its checks.
struct Found {
  fs::path::string_type Path; // the system's form, as PackInput keeps it
  std::string Relative;       // UTF-8, '/' between folders
  platform::PathFacts Facts;  // of a file
};

// The files and empty folders below the inputs, each folder's entries in name order, so
// that the same tree gives the same items in the same order.
class TTreeWalk {
public:
  explicit TTreeWalk(const std::vector<std::string>& Excludes) : Excludes(Excludes) {}

  void AddInput(const std::string& Input) {
    const fs::path path = PathFromUtf8(Input);
    platform::PathFacts facts = platform::LookAt(path);
    switch (facts.Leads) {
    case platform::PathFacts::Kind::Missing:
      throw ToolError(Input + ": no such file or folder");
    case platform::PathFacts::Kind::Unreadable:
      throw ToolError(Input + ": " + facts.Why);
    case platform::PathFacts::Kind::File:
      if (const std::string name = NameOf(path.filename(), path); !Excluded(name))
        Files.push_back({path.native(), name, std::move(facts)});
      return;
    case platform::PathFacts::Kind::Folder:
      Walk(path, "");
      return;
    case platform::PathFacts::Kind::Other:
      throw ToolError(Input + ": not a regular file or folder");
    }
  }

  std::vector<Found> Files;
  std::vector<Found> EmptyFolders;

private:
  // Name, that of Entry, in UTF-8.
  static std::string NameOf(const fs::path& Name, const fs::path& Entry) {
    std::string name = Utf8Of(Name);
    if (!Utf16FromUtf8(name))
      throw ToolError(ShownBytes(Utf8Of(Entry)) +
                      ": the name is not valid UTF-8; an archive holds names in Unicode");
    return name;
  }

  bool Excluded(const std::string& Relative) const {
    return std::any_of(Excludes.begin(), Excludes.end(), [&](const std::string& Pattern) {
      return ExcludeMatches(Pattern, Relative);
    });
  }

  // Whether anything below Folder is recorded.
  bool Walk(const fs::path& Folder, const std::string& Relative) {
    // In the order of the UTF-8 names, which is not that of UTF-16 ones (U+E000 and above
    // against the characters past U+FFFF): vexa.exe and vexa pack a tree alike.
    std::vector<fs::path> names;
    if (std::string why; !platform::ListFolder(Folder, names, why))
      throw ToolError(Shown(Folder) + ": " + why);
    std::vector<std::pair<std::string, fs::path>> entries;
    for (const fs::path& name : names) {
      fs::path entry = Folder / name;
      entries.emplace_back(NameOf(name, entry), std::move(entry));
    }
    std::sort(entries.begin(), entries.end());
    bool recorded = false;
    for (const auto& [name, entry] : entries) {
      const std::string relative = Relative.empty() ? name : Relative + "/" + name;
      if (Excluded(relative))
        continue;
      platform::PathFacts facts = platform::LookAt(entry);
      if (facts.Leads == platform::PathFacts::Kind::Folder && !facts.Link) {
        if (!Walk(entry, relative))
          EmptyFolders.push_back({entry.native(), relative, {}});
      } else if (facts.Leads == platform::PathFacts::Kind::File) {
        // A link to a file packs the file it leads to.
        Files.push_back({entry.native(), relative, std::move(facts)});
      } else if (facts.Leads == platform::PathFacts::Kind::Folder) {
        throw ToolError(Shown(entry) +
                        ": is a symbolic link to a folder; name that folder as an input "
                        "of its own, or exclude the link");
      } else if (facts.Leads == platform::PathFacts::Kind::Unreadable) {
        throw ToolError(Shown(entry) + ": " + facts.Why);
      } else {
        throw ToolError(Shown(entry) + ": not a regular file");
      }
      recorded = true;
    }
    return recorded;
  }

  const std::vector<std::string>& Excludes;
};

// Why Windows or the archive cannot hold Name as a file or folder name, or nothing.
std::optional<std::string> ComponentProblem(const std::string& Name) {
  if (const auto problem = WindowsNameProblem(Name))
    return problem;
  const std::u16string wide = *Utf16FromUtf8(Name);
  if (wide.size() > MaxPathComponentUnits)
    return std::to_string(wide.size()) + " UTF-16 units; a name holds at most " +
           std::to_string(MaxPathComponentUnits);
  if (!IsSafeTreePath(wide))
    return "the form of a device name, which Windows reserves";
  return std::nullopt;
}

// The path below the destination, every component checked. Path names the file or folder
// in messages.
std::u16string CheckedTreePath(const Found& Entry) {
  const std::vector<std::string> parts = SplitPath(Entry.Relative, "/");
  std::u16string tree;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (const auto problem = ComponentProblem(parts[i]))
      throw ToolError(
          Shown(Entry.Path) + ": " +
          (i + 1 == parts.size() ? "the name has " : "the folder name " + parts[i] + " has ") +
          *problem);
    if (i)
      tree += u'\\';
    tree += *Utf16FromUtf8(parts[i]);
  }
  if (tree.size() > MaxItemPathUnits)
    throw ToolError(Shown(Entry.Path) + ": the path " + Entry.Relative + " is " +
                    std::to_string(tree.size()) + " UTF-16 units long; an archive holds at most " +
                    std::to_string(MaxItemPathUnits));
  return tree;
}

PackInput CheckedInput(const Found& File) {
  if (File.Facts.Size > MaxItemSize)
    throw ToolError(Shown(File.Path) + ": the file is 4 GiB or larger; an item holds less");
  return {File.Path, CheckedTreePath(File), {}, File.Facts.Size, File.Facts.Modified};
}

// Refuses two paths that would be one file on Windows, and a file where another path
// needs a folder. Returns the empty folders that are still empty once the inputs merge,
// each once.
std::vector<std::u16string> CheckedTree(const std::vector<Found>& Files,
                                        const std::vector<Found>& EmptyFolders) {
  std::map<std::string, const Found*> files;   // by key
  std::map<std::string, const Found*> folders; // by key: the first file in it
  for (const Found& file : Files) {
    const std::string key = PathKey(file.Relative);
    for (std::size_t separator = key.find('\\'); separator != std::string::npos;
         separator = key.find('\\', separator + 1)) {
      const std::string folder = key.substr(0, separator);
      if (const auto clash = files.find(folder); clash != files.end())
        throw ToolError(Shown(clash->second->Path) + " is a file where " + Shown(file.Path) +
                        " needs a folder");
      folders.emplace(folder, &file);
    }
    if (const auto clash = folders.find(key); clash != folders.end())
      throw ToolError(Shown(file.Path) + " is a file where " + Shown(clash->second->Path) +
                      " needs a folder");
    const auto [it, added] = files.emplace(key, &file);
    if (added)
      continue;
    if (file.Relative == it->second->Relative)
      throw ToolError(Shown(file.Path) + " and " + Shown(it->second->Path) +
                      " would both be the item " + file.Relative);
    throw ToolError(Shown(file.Path) + " and " + Shown(it->second->Path) +
                    " would be the same file on Windows (names differ only in case)");
  }
  // A folder empty in one input may hold files or folders from another.
  std::set<std::string> enclosing;
  for (const Found& folder : EmptyFolders) {
    const std::string key = PathKey(folder.Relative);
    for (std::size_t separator = key.find('\\'); separator != std::string::npos;
         separator = key.find('\\', separator + 1))
      enclosing.insert(key.substr(0, separator));
  }
  std::vector<std::u16string> empty;
  std::set<std::string> kept;
  for (const Found& folder : EmptyFolders) {
    const std::string key = PathKey(folder.Relative);
    if (const auto clash = files.find(key); clash != files.end())
      throw ToolError(Shown(clash->second->Path) + " is a file where " + Shown(folder.Path) +
                      " is a folder");
    if (!folders.contains(key) && !enclosing.contains(key) && kept.insert(key).second)
      empty.push_back(CheckedTreePath(folder));
  }
  return empty;
}

// ".dll" for a short plain extension, else nothing: a stand-in keeps what tells Windows
// how to open the file.
std::string StandInExtension(std::string_view Name) {
  const std::size_t dot = Name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || Name.size() - dot > 9)
    return {};
  for (const char ch : Name.substr(dot + 1))
    if (!std::isalnum(static_cast<unsigned char>(ch)))
      return {};
  return std::string(Name.substr(dot));
}

// Gives each item its FileName, the item's own name when the code page spells it in 32
// bytes (the extractor of an archive without ITEMPATHS splits names byte by byte, so a
// backslash as the second byte of a character does not count) and no earlier item has
// it; else ~N.ext for item N, made unique. Returns whether any item took a stand-in.
bool NameItems(std::vector<PackInput>& Items, unsigned CodePage) {
  std::set<std::string> taken; // by key
  std::vector<std::string> names;
  for (PackInput& item : Items) {
    names.push_back(Utf8FromUtf16(item.TreePath.substr(item.TreePath.rfind(u'\\') + 1)));
    const std::optional<std::string> ansi = ToAnsi(names.back(), CodePage);
    if (ansi && ansi->size() <= ArchiveLayout::NameFieldSize &&
        ansi->find('\\') == std::string::npos && taken.insert(NameKey(names.back())).second)
      item.Name = *ansi;
  }
  bool standIns = false;
  for (std::size_t i = 0; i < Items.size(); ++i) {
    if (!Items[i].Name.empty())
      continue;
    standIns = true;
    const std::string extension = StandInExtension(names[i]);
    for (std::size_t n = 0; Items[i].Name.empty(); ++n) {
      std::string name(1, '~');
      name += std::to_string(i + 1);
      if (n) {
        name += '-';
        name += std::to_string(n);
      }
      name += extension;
      if (taken.insert(NameKey(name)).second)
        Items[i].Name = name;
    }
  }
  return standIns;
}

} // namespace

bool ExcludeMatches(std::string_view Pattern, std::string_view Relative) {
  if (Pattern.find('/') == std::string_view::npos)
    Relative.remove_prefix(Relative.rfind('/') + 1);
  return GlobMatches(Pattern, Relative);
}

PackInputs CollectInputs(const std::vector<std::string>& Paths,
                         const std::vector<std::string>& Excludes, bool Welcome,
                         unsigned CodePage) {
  TTreeWalk walk(Excludes);
  for (const std::string& input : Paths)
    walk.AddInput(input);
  if (walk.Files.empty())
    throw UsageError("nothing to pack: name at least one file or folder");
  PackInputs inputs;
  inputs.Files.reserve(walk.Files.size());
  for (const Found& file : walk.Files)
    inputs.Files.push_back(CheckedInput(file));
  std::vector<std::u16string> emptyFolders = CheckedTree(walk.Files, walk.EmptyFolders);
  const bool standIns = NameItems(inputs.Files, CodePage);
  const bool inFolders =
      std::any_of(inputs.Files.begin(), inputs.Files.end(), [](const PackInput& Item) {
        return Item.TreePath.find(u'\\') != std::u16string::npos;
      });
  if (standIns || inFolders || !emptyFolders.empty()) {
    inputs.ItemPaths.emplace();
    inputs.ItemPaths->Items.reserve(inputs.Files.size());
    for (const PackInput& item : inputs.Files)
      inputs.ItemPaths->Items.push_back(item.TreePath);
    inputs.ItemPaths->EmptyFolders = std::move(emptyFolders);
  }
  const std::size_t maxItems = MaxNamedRcData - 1 - (Welcome ? 4 : 0) - (inputs.ItemPaths ? 1 : 0);
  if (inputs.Files.size() > maxItems)
    throw ToolError(
        "there are " + std::to_string(inputs.Files.size()) + " files; an archive holds at most " +
        std::to_string(maxItems) + (Welcome ? " with a welcome question" : "") +
        (inputs.ItemPaths ? (Welcome ? " and" : "") + std::string(" with item paths") : ""));
  return inputs;
}

} // namespace vexa::tool
