#include "cli/pack_command.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "archive/vexa_header.h"
#include "packer/compressor.h"
#include "packer/embedded_stub.h"
#include "packer/item_packer.h"
#include "platform/path_facts.h"
#include "texts/ansi_text.h"
#include "tool_base/local_path.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace fs = std::filesystem;

namespace {

std::string Shown(const fs::path& Path) { return Utf8Of(Path); }

bool IsFolder(const fs::path& Path) {
  return platform::LookAt(Path).Leads == platform::PathFacts::Kind::Folder;
}

bool Exists(const fs::path& Path) {
  return platform::LookAt(Path).Leads != platform::PathFacts::Kind::Missing;
}

// Refuses an output that could not be written, before any work is done for it.
fs::path CheckedOutput(const std::string& Output) {
  if (Output.empty())
    throw UsageError("name the archive to write with -o OUT.exe");
  const fs::path path = PathFromUtf8(Output);
  if (IsFolder(path))
    throw ToolError(Output + ": is a folder; -o names the .exe to write");
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  if (!IsFolder(folder))
    throw ToolError(Output + ": the folder " + Shown(folder) + " does not exist");
  return path;
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

void CheckCombinations(const PackOptions& Options) {
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
  if (Options.Store && Options.Method && *Options.Method != CompressionMethod::Store)
    throw UsageError("--store and --method exclude each other");
  if ((Options.Store || Options.Method == CompressionMethod::Store) && Options.Level)
    throw UsageError("--store and --level exclude each other");
  if (Options.Level &&
      (*Options.Level < MinCompressionLevel || *Options.Level > MaxCompressionLevel))
    throw UsageError("--level takes 0 to 12, not " + std::to_string(*Options.Level));
  if (!Options.Solid && Options.BlockSize)
    throw UsageError("--block-size limits solid blocks: --no-solid has none");
  // A block's stream is one item's stored data, whose size the header holds in 32 bits.
  if (Options.BlockSize && (*Options.BlockSize == 0 || *Options.BlockSize > MaxItemSize))
    throw UsageError("--block-size takes 1 byte to 4 GiB - 1, not " +
                     std::to_string(*Options.BlockSize));
  if (Options.Jobs && *Options.Jobs == 0)
    throw UsageError("--jobs takes 1 or more");
}

std::string FixedFolder(const std::string& Path, const ArchiveTexts& Texts) {
  std::string folder = AnsiOption(Path, "--dest", Texts);
  if (folder.empty())
    throw UsageError("--dest: the path is empty");
  if (folder.size() > ArchiveLayout::PathFieldSize)
    throw UsageError("--dest: the path is " + std::to_string(folder.size()) +
                     " bytes long; it holds at most 256");
  return folder;
}

ProgramToRun Program(const PackOptions& Options, const std::vector<PackInput>& Inputs,
                     const ArchiveTexts& Texts) {
  ProgramToRun program;
  program.Path = AnsiOption(*Options.Run, "--run", Texts);
  if (program.Path.empty())
    throw UsageError("--run: the program path is empty");
  if (program.Path.size() > ArchiveLayout::PathFieldSize - 1)
    throw UsageError("--run: the path is " + std::to_string(program.Path.size()) +
                     " bytes long; it holds at most 255");
  program.WaitAndDelete = Options.WaitAndDelete;
  program.AlwaysConfirm = Options.AlwaysConfirm;
  program.InDestination = Options.ProgramInDestination;
  if (program.InDestination) {
    // bin/setup.exe names the item bin\setup.exe, whose path the stub joins to the
    // destination as it stands.
    std::replace(program.Path.begin(), program.Path.end(), '/', '\\');
    std::string wanted = *Options.Run;
    std::replace(wanted.begin(), wanted.end(), '/', '\\');
    wanted = NameKey(wanted);
    const auto found = std::find_if(Inputs.begin(), Inputs.end(), [&](const PackInput& f) {
      return NameKey(Utf8FromUtf16(f.TreePath)) == wanted;
    });
    if (found == Inputs.end())
      throw UsageError("--program-in-destination: --run " + *Options.Run +
                       " names no file among the items");
    // The extractor takes a program of 0 bytes for a missing one and gives up.
    if (found->Size == 0)
      throw ToolError("--run " + *Options.Run + ": " + Shown(found->Path) +
                      " is empty; the extractor would refuse to start it");
  }
  return program;
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

// Whether A and B, when both exist, are one file. The Windows build's
// std::filesystem::equivalent compares stat() results, whose inode numbers Windows leaves
// at 0, so it cannot be trusted to say no; equal absolute paths say yes there.
bool SameFile(const fs::path& A, const fs::path& B) {
  std::error_code error;
  if (fs::equivalent(SystemPath(A), SystemPath(B), error) && !error)
    return true;
  if (!Exists(A) || !Exists(B))
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

} // namespace

TPackCommand::TPackCommand(const PackOptions& Options) {
  PackPlan& plan = Resolved;
  plan.Output = CheckedOutput(Options.Output);
  plan.Texts = ChooseTexts(Options.Texts);
  PackInputs inputs = CollectInputs(Options.Inputs, Options.Excludes, Options.Welcome.has_value(),
                                    plan.Texts.CodePage);
  plan.Inputs = std::move(inputs.Files);
  plan.ItemPaths = std::move(inputs.ItemPaths);
  CheckCombinations(Options);
  if (Options.AskFolder)
    plan.Destination = DestinationKind::AskFolder;
  else if (Options.FixedFolder) {
    plan.Destination = DestinationKind::FixedFolder;
    plan.FixedFolder = FixedFolder(*Options.FixedFolder, plan.Texts);
  }
  if (Options.Run)
    plan.Program = Program(Options, plan.Inputs, plan.Texts);
  if (Options.Welcome) {
    plan.Welcome = AnsiOption(*Options.Welcome, "--welcome", plan.Texts);
    plan.WideWelcome = Utf16FromUtf8(*Options.Welcome);
    if (Options.Title) {
      plan.Title = AnsiOption(*Options.Title, "--title", plan.Texts);
      plan.WideTitle = Utf16FromUtf8(*Options.Title);
    }
  }
  plan.RefuseUnattended = Options.NoUnattended;
  plan.LatestFileTime = SourceDateEpoch();
  for (const PackInput& input : plan.Inputs)
    if (SameFile(input.Path, plan.Output))
      throw UsageError(Options.Output + " is also one of the files to pack");

  PasswordOptions password = Options.Password;
  password.Wanted = Options.Encrypt || !Options.Password.File.empty() || Options.Password.Text;
  plan.Password = ObtainPassword(password, true, plan.Texts.CodePage);

  plan.Stub = DefaultStub();
  plan.StubName = "built into vexa";
  if (Options.Stub) {
    if (const std::string problem = StubFile.Open(*Options.Stub); !problem.empty())
      throw ToolError(problem);
    plan.Stub = StubFile.Bytes();
    plan.StubName = *Options.Stub;
  }
  if (plan.Stub.empty())
    throw UsageError("this vexa was built without a stub: name one with --stub FILE");
  // A stub that reads no LZMA2 items gets deflate, unless LZMA2 was asked for: the packer
  // refuses that.
  if (!Options.Store && Options.Method != CompressionMethod::Store) {
    plan.Method = Options.Method.value_or(StubReadsLzma2(plan.Stub) ? CompressionMethod::Lzma2
                                                                    : CompressionMethod::Deflate);
    plan.Level = Options.Level.value_or(
        plan.Method == CompressionMethod::Lzma2 ? DefaultLzma2Level : DefaultCompressionLevel);
  }
  if (Options.Icon)
    plan.Icon = TIconFile::Read(*Options.Icon);
  plan.DropIcon = Options.NoIcon;
  plan.Version = ResolveVersionInfo(Options.Version);
  if (!Options.Solid)
    plan.Blocks.reset();
  else if (Options.BlockSize)
    plan.Blocks = SolidBlocks{*Options.BlockSize, false};
  plan.Jobs = Options.Jobs;
  plan.Progress = Options.Progress;
}

} // namespace vexa::tool
