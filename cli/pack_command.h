#pragma once
// `vexa pack` as the command line gives it: the options, checked together and resolved
// into the packer's plan.

#include <optional>
#include <string>
#include <vector>

#include "cli/password_source.h"
#include "cli/version_options.h"
#include "packer/pack.h"
#include "platform/mapped_file.h"
#include "texts/archive_texts.h"

namespace vexa::tool {

struct PackOptions {
  std::string Output;
  std::vector<std::string> Inputs;   // files, or folders whose trees are added
  std::vector<std::string> Excludes; // patterns of names and paths left out

  // Exactly one destination.
  bool TempFolder = false;
  std::optional<std::string> FixedFolder;
  bool AskFolder = false;

  std::optional<std::string> Welcome;
  std::optional<std::string> Title;
  bool NoUnattended = false;

  std::optional<std::string> Run;
  bool WaitAndDelete = false;
  bool AlwaysConfirm = false;
  bool ProgramInDestination = false;

  bool Store = false; // --method store
  // LZMA2 when not given, unless the stub reads no LZMA2 items: deflate then.
  std::optional<CompressionMethod> Method;
  std::optional<int> Level; // compression level; 12 for deflate and 9 for LZMA2 when not given
  // LZMA2 packs consecutive items into solid blocks of at most BlockSize bytes (the
  // packer's default when not given) when Solid; deflate and store ignore both.
  bool Solid = true;
  std::optional<std::uint64_t> BlockSize;
  bool Encrypt = false;
  PasswordOptions Password;

  TextChoice Texts; // the stub's English texts unless a language or texts file is chosen

  std::optional<std::string> Icon;
  bool NoIcon = false;
  VersionOptions Version; // the stub's version resource when no field is given
  std::optional<std::string> Stub;
  bool Progress = false;           // a progress line on stderr
  std::optional<std::size_t> Jobs; // threads compressing items; one per processor when not given
};

// The options resolved into a plan: inputs collected, texts chosen, every text in the
// archive's code page, the password obtained, the stub and the icon read. Holds the stub
// file the plan points into. Raises UsageError for options that cannot work together and
// ToolError for inputs that cannot be packed, naming the file or option.
class TPackCommand {
public:
  explicit TPackCommand(const PackOptions& Options);
  const PackPlan& Plan() const { return Resolved; }

private:
  platform::MappedFile StubFile;
  PackPlan Resolved;
};

inline PackReport RunPackCommand(const PackOptions& Options) {
  return PackArchive(TPackCommand(Options).Plan());
}

} // namespace vexa::tool
