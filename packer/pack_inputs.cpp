#include "packer/pack_inputs.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>

#include "archive/vexa_header.h"
#include "packer/item_packer.h"
#include "texts/ansi_text.h"
#include "tool_base/local_path.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace fs = std::filesystem;

namespace {

// A resource directory counts its named entries in 16 bits, and the items share the
// RCDATA directory with HEADER (and the four welcome texts when there are any: the
// question and its title, each in the code page and in UTF-16).
constexpr std::size_t MaxNamedRcData = 0xFFFF;

std::string Shown(const fs::path& Path) { return Utf8Of(Path); }

// How Windows tells a file to pack apart from the others: by its name, case folded.
std::string NameKeyOf(const fs::path& Path) { return NameKey(Utf8Of(Path.filename())); }

PackInput CheckedInput(const fs::path& Path, unsigned CodePage) {
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

} // namespace

// A folder inside a folder is refused: the stub creates no folders, so an item in a
// subfolder would reach only a destination where that subfolder exists already.
std::vector<PackInput> CollectInputs(const std::vector<std::string>& Paths, bool Welcome,
                                     unsigned CodePage) {
  std::vector<PackInput> files;
  for (const std::string& input : Paths) {
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
  const std::size_t maxItems = MaxNamedRcData - 1 - (Welcome ? 4 : 0);
  if (files.size() > maxItems)
    throw ToolError("there are " + std::to_string(files.size()) +
                    " files; an archive holds at most " + std::to_string(maxItems) +
                    (Welcome ? " with a welcome question" : ""));
  std::map<std::string, const PackInput*> seen; // by the name Windows compares
  for (const PackInput& file : files) {
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

} // namespace vexa::tool
