#include "cli/version_options.h"

#include <fstream>
#include <map>
#include <sstream>

#include "texts/ansi_text.h"
#include "tool_base/local_path.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace {

struct VersionField {
  const char* Key;      // in the file; the option is --Key
  const char16_t* Name; // in the resource's string table
  std::optional<std::string> VersionOptions::*Option;
};

// In the order the resource lists them.
constexpr VersionField Fields[] = {
    {"description", u"FileDescription", &VersionOptions::Description},
    {"product-name", u"ProductName", &VersionOptions::ProductName},
    {"product-version", u"ProductVersion", &VersionOptions::ProductVersion},
    {"company", u"CompanyName", &VersionOptions::Company},
    {"copyright", u"LegalCopyright", &VersionOptions::Copyright},
};

std::string KnownKeys() {
  std::string keys;
  for (const VersionField& field : Fields)
    keys += (keys.empty() ? "" : ", ") + std::string(field.Key);
  return keys;
}

struct FileLine {
  std::string Text;
  std::size_t Number = 0;
};

std::string WhereInFile(const std::string& Path, std::size_t Number) {
  return Path + ":" + std::to_string(Number);
}

// The file's lines by key, in UTF-8 as written.
std::map<std::string, FileLine> ReadFile(const std::string& Path) {
  std::ifstream in(SystemPath(PathFromUtf8(Path)), std::ios::binary);
  std::ostringstream read;
  read << in.rdbuf();
  if (!in || in.bad())
    throw ToolError("--version-info " + Path + ": cannot be read");
  const std::string all = read.str();
  std::string_view content = all;
  if (content.starts_with("\xEF\xBB\xBF"))
    content.remove_prefix(3);
  std::map<std::string, FileLine> lines;
  for (std::size_t number = 1; !content.empty(); ++number) {
    const std::size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    if (line.ends_with('\r'))
      line.remove_suffix(1);
    if (line.empty() || line.front() == '#')
      continue;
    const auto refuse = [&](const std::string& Why) {
      return ToolError(WhereInFile(Path, number) + ": " + Why);
    };
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
      throw refuse("expected key=value");
    const std::string key(line.substr(0, equals));
    bool known = false;
    for (const VersionField& field : Fields)
      known = known || key == field.Key;
    if (!known)
      throw refuse("unknown key \"" + key + "\" (the keys are " + KnownKeys() + ")");
    if (!lines.emplace(key, FileLine{std::string(line.substr(equals + 1)), number}).second)
      throw refuse(key + " is given twice");
  }
  return lines;
}

// Why Text cannot be a version field, or nothing when it can.
std::optional<std::string> TextProblem(const std::optional<std::u16string>& Wide) {
  if (!Wide)
    return "the text is not valid UTF-8";
  if (Wide->empty())
    return "the text is empty";
  for (const char16_t c : *Wide)
    if (c < 0x20)
      return "the text holds a control character";
  if (Wide->size() > MaxVersionText)
    return "the text is " + std::to_string(Wide->size()) +
           " characters long; a version field holds at most " + std::to_string(MaxVersionText);
  return std::nullopt;
}

} // namespace

std::array<std::uint16_t, 4> VersionNumbers(std::string_view ProductVersion) {
  std::array<std::uint16_t, 4> numbers{};
  for (std::size_t count = 0, at = 0;; ++at) {
    std::size_t digits = 0;
    std::uint32_t value = 0;
    for (; at < ProductVersion.size() && ProductVersion[at] >= '0' && ProductVersion[at] <= '9';
         ++at, ++digits)
      value = value * 10 + static_cast<std::uint32_t>(ProductVersion[at] - '0');
    if (digits == 0 || digits > 5 || value > 0xFFFF || count == numbers.size())
      return {};
    numbers[count++] = static_cast<std::uint16_t>(value);
    if (at == ProductVersion.size())
      return numbers;
    if (ProductVersion[at] != '.')
      return {};
  }
}

std::optional<pe::VersionInfo> ResolveVersionInfo(const VersionOptions& Options) {
  const std::map<std::string, FileLine> file =
      Options.File ? ReadFile(*Options.File) : std::map<std::string, FileLine>{};
  pe::VersionInfo info;
  for (const VersionField& field : Fields) {
    const std::optional<std::string>& option = Options.*field.Option;
    const auto line = file.find(field.Key);
    if (!option && line == file.end())
      continue;
    const std::string& text = option ? *option : line->second.Text;
    const std::optional<std::u16string> wide = Utf16FromUtf8(text);
    if (const auto problem = TextProblem(wide)) {
      if (option)
        throw UsageError("--" + std::string(field.Key) + ": " + *problem);
      throw ToolError(WhereInFile(*Options.File, line->second.Number) + ": " + *problem);
    }
    info.Strings.emplace_back(field.Name, *wide);
    if (field.Option == &VersionOptions::ProductVersion) {
      // Properties shows the fixed numbers as the file version; scripts read the string.
      info.Strings.emplace_back(u"FileVersion", *wide);
      info.FileVersion = info.ProductVersion = VersionNumbers(text);
    }
  }
  if (!info.Strings.empty())
    return info;
  if (Options.File)
    throw ToolError(*Options.File + ": the file gives no field (the keys are " + KnownKeys() + ")");
  return std::nullopt;
}

} // namespace vexa::tool
