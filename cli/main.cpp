// vexa: packs files into a self-extracting Windows archive, and lists, extracts and
// verifies such archives without running them.

#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/pack_command.h"
#include "cli/password_source.h"
#include "reader/inspect.h"
#include "texts/languages.h"
#include "tool_base/progress.h"
#include "tool_base/tool_error.h"

#ifdef _WIN32
#include "platform/win32/windows.h"
#include "tool_base/local_path.h"

#include <shellapi.h>
#endif

namespace {

constexpr char Version[] = VEXA_VERSION;

constexpr char ExitCodes[] = "Exit codes: 0 success, 1 failure (bad input, damaged archive, wrong "
                             "password, I/O error), 2 usage (unknown or conflicting options).";

constexpr char PasswordHelp[] =
    "The password of an encrypted archive comes from --password-file FILE, else --password "
    "TEXT, else the VEXA_PASSWORD environment variable, else a prompt on the terminal.";

void AddPasswordOptions(CLI::App& Command, vexa::tool::PasswordOptions& Password) {
  Command
      .add_option("--password-file", Password.File,
                  "Read the password from FILE (one line). Preferred: nothing shows it.")
      ->type_name("FILE");
  Command
      .add_option("--password", Password.Text,
                  "The password itself. Avoid: other users can see it in process listings "
                  "and it stays in shell history.")
      ->type_name("TEXT");
}

// The arguments as UTF-8 on every platform. Windows hands main() the ANSI code page's
// rendering, which loses every character outside it; the wide command line has them all.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 0; wide && i < count; ++i)
    args.push_back(vexa::tool::Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  return args;
#else
  return {argv, argv + argc};
#endif
}

// The password of an encrypted archive, from where the options say, asked for only when
// the archive turns out to be encrypted.
vexa::tool::PasswordSource SourceOf(const vexa::tool::PasswordOptions& Options) {
  return [Options](unsigned CodePage) {
    vexa::tool::PasswordOptions wanted = Options;
    wanted.Wanted = true;
    return *vexa::tool::ObtainPassword(wanted, false, CodePage);
  };
}

} // namespace

int main(int argc, char** argv) {
  using namespace vexa::tool;
#ifdef _WIN32
  // Names and messages are UTF-8; a console shows them as such.
  ::SetConsoleOutputCP(CP_UTF8);
#endif
  CLI::App app("vexa " + std::string(Version) + ": self-extracting archives for Windows.\n" +
                   PasswordHelp,
               "vexa");
  app.footer(ExitCodes);
  app.set_version_flag("--version", Version);
  app.require_subcommand(1);

  PackOptions pack;
  CLI::App* packCommand = app.add_subcommand(
      "pack", "Pack files into a self-extracting .exe. Nothing is written unless every check "
              "passes; the output appears whole or not at all.");
  packCommand->footer(std::string(PasswordHelp) +
                      "\nSOURCE_DATE_EPOCH (seconds since 1970) caps the file dates stored, so "
                      "that the same inputs give the same bytes.\n" +
                      ExitCodes);
  packCommand->add_option("-o,--output", pack.Output, "The archive to write.")
      ->type_name("OUT.exe")
      ->required();
  packCommand
      ->add_option("inputs", pack.Inputs,
                   "Files, and folders whose whole tree is added, named relative to the "
                   "folder and in path order, empty folders too. A symbolic link to a file "
                   "adds the file; one to a folder is refused. Names must be UTF-8 and "
                   "valid on Windows; two paths that Windows takes for one file are refused.")
      ->type_name("FILE|DIR")
      ->required();
  packCommand
      ->add_option("--exclude", pack.Excludes,
                   "Leave out what GLOB matches (repeatable): without '/', any file or "
                   "folder name (--exclude '*.pdb'); with '/', the path relative to its input "
                   "folder (--exclude 'obj/*'). '*' matches any characters but '/', '?' one "
                   "character; case counts. An excluded folder is left out whole.")
      ->type_name("GLOB")
      ->allow_extra_args(false);
  auto* destination =
      packCommand->add_option_group("destination", "Where the files go (exactly one)");
  destination->add_flag("--temp", pack.TempFolder,
                        "A new folder in the user's temporary folder, made for each run; it "
                        "goes when the extracted files are deleted and nothing else is in it.");
  destination
      ->add_option("--dest", pack.FixedFolder,
                   "A fixed folder; a path without ':' is relative to the .exe's folder. "
                   "The folder must exist on the user's machine.")
      ->type_name("PATH");
  destination->add_flag("--ask-folder", pack.AskFolder, "Let the user choose in a folder browser.");
  destination->require_option(1);
  packCommand
      ->add_option("--welcome", pack.Welcome, "Ask this Yes/No question first; No ends the run.")
      ->type_name("TEXT");
  packCommand
      ->add_option("--title", pack.Title, "Caption of the welcome question (needs --welcome).")
      ->type_name("TEXT");
  packCommand->add_flag("--no-unattended", pack.NoUnattended,
                        "A person must answer the archive (a licence in the welcome question): "
                        "it refuses its /S, /passive and /D= switches with exit code 2.");
  packCommand->add_option("--run", pack.Run, "Start this program after extracting.")
      ->type_name("PROGRAM");
  packCommand->add_flag("--program-in-destination", pack.ProgramInDestination,
                        "PROGRAM is one of the items, started from the destination folder; "
                        "its path below it (bin/setup.exe) when it lies in a subfolder.");
  packCommand->add_flag("--wait-and-delete", pack.WaitAndDelete,
                        "Wait for PROGRAM, then delete the extracted files (asking first when "
                        "it fails).");
  packCommand->add_flag(
      "--always-confirm", pack.AlwaysConfirm,
      "Ask before deleting even when PROGRAM succeeded (needs --wait-and-delete).");
  packCommand
      ->add_option("--method", pack.Method,
                   "lzma2 (default, the smallest archives), deflate (packs fast; the method of "
                   "stubs that read no other), or store. An item is stored whenever "
                   "compressing would not make it smaller; with lzma2, so are the items of a "
                   "solid block that compressing together would not make smaller.")
      ->transform(CLI::CheckedTransformer(std::map<std::string, vexa::CompressionMethod>{
          {"lzma2", vexa::CompressionMethod::Lzma2},
          {"deflate", vexa::CompressionMethod::Deflate},
          {"store", vexa::CompressionMethod::Store}}))
      ->type_name("METHOD");
  packCommand
      ->add_option("--level", pack.Level,
                   "Compression level 0-12: for deflate, the default 12 is the smallest; for "
                   "lzma2, 0-9 are liblzma's presets (default 9) and 10-12 its extreme 9.")
      ->type_name("N");
  packCommand->add_flag("--store", pack.Store, "Do not compress (--method store).");
  packCommand->add_flag(
      "--solid,!--no-solid", pack.Solid,
      "lzma2 only (deflate and store ignore it): --solid (default) compresses consecutive "
      "items together as one stream, a solid block, for smaller archives; extracting one item "
      "then decodes its block from the start. --no-solid compresses every item alone.");
  packCommand
      ->add_option("--block-size", pack.BlockSize,
                   "With --solid, the most bytes of items in one block; an item larger than "
                   "that is a block alone. Default: " +
                       std::to_string(vexa::tool::DefaultBlockSize >> 20) + "MiB, and from " +
                       std::to_string(vexa::tool::PairedBlocksFrom >> 20) +
                       "MiB of items on an even number of blocks, so that two processors share "
                       "the work. Blocks are compressed side by side on the --jobs threads; the "
                       "archive is the same whatever --jobs is.")
      ->transform(CLI::AsSizeValue(false))
      ->type_name("SIZE");
  packCommand
      ->add_option("--jobs", pack.Jobs,
                   "Compress N blocks at a time (an item alone is a block), each on its own "
                   "thread (default: as many as there are processors). The archive is the same "
                   "whatever N is.")
      ->type_name("N");
  packCommand->add_flag("--encrypt", pack.Encrypt,
                        "Encrypt the items with Blowfish; the extractor asks for the password. "
                        "Implied by --password-file and --password.");
  AddPasswordOptions(*packCommand, pack.Password);
  packCommand
      ->add_option("--language", pack.Texts.Language,
                   "The extractor's texts in this language instead of English; "
                   "--language list shows the languages.")
      ->type_name("CODE")
      ->each([](const std::string& Code) {
        if (Code == "list") {
          std::cout << LanguageList();
          throw CLI::Success();
        }
      });
  packCommand
      ->add_option("--texts", pack.Texts.TextsFile,
                   "The extractor's texts from FILE (UTF-8, one ID=text per line, \\n for a "
                   "line break), over English or the --language ones.")
      ->type_name("FILE");
  packCommand
      ->add_option("--codepage", pack.Texts.CodePage,
                   "The ANSI code page of the users' systems, in which the archive's texts, "
                   "item names, paths and password are written (default: the language's, "
                   "else 1252).")
      ->type_name("N");
  packCommand
      ->add_option("--icon", pack.Icon,
                   "The program icon, from an .ico file, instead of "
                   "the default one.")
      ->type_name("FILE.ico");
  packCommand->add_flag("--no-icon", pack.NoIcon, "No program icon.");
  auto* identity = packCommand->add_option_group(
      "identity",
      "What Windows shows for the .exe in Properties, Task Manager and the consent prompt. "
      "Given any of these, the .exe's version resource holds exactly the fields given; "
      "without them it is the extractor's own (\"Vexa self-extracting archive\").");
  identity
      ->add_option("--description", pack.Version.Description,
                   "The program's name as Windows shows it (FileDescription).")
      ->type_name("TEXT");
  identity->add_option("--product-name", pack.Version.ProductName, "ProductName.")
      ->type_name("TEXT");
  identity
      ->add_option("--product-version", pack.Version.ProductVersion,
                   "ProductVersion and FileVersion. Up to four dot-separated numbers of 0 to "
                   "65535 (2.1.0) are also the fixed version numbers Properties shows; any "
                   "other text (2.1-beta) leaves those 0.0.0.0.")
      ->type_name("TEXT");
  identity->add_option("--company", pack.Version.Company, "CompanyName.")->type_name("TEXT");
  identity->add_option("--copyright", pack.Version.Copyright, "LegalCopyright.")->type_name("TEXT");
  identity
      ->add_option("--version-info", pack.Version.File,
                   "The fields from FILE: UTF-8, one key=value per line, the keys being these "
                   "options' names without dashes (description=My App Setup); blank lines and "
                   "# lines are skipped. An option given as well goes over its line.")
      ->type_name("FILE");
  packCommand
      ->add_option("--stub", pack.Stub,
                   "Pack with this extractor instead of the built-in one (a signature "
                   "on it is removed: sign the archive instead).")
      ->type_name("FILE");

  bool json = false;
  std::string listPath;
  CLI::App* listCommand = app.add_subcommand("list", "Show an archive's options and items.");
  listCommand->footer(ExitCodes);
  listCommand->add_option("archive", listPath, "The archive.")->type_name("FILE.exe")->required();
  listCommand->add_flag("--json", json, "Print JSON for scripts.");

  ExtractOptions extract;
  PasswordOptions extractPassword;
  std::string extractPath;
  CLI::App* extractCommand = app.add_subcommand(
      "extract", "Write an archive's files as the extractor would, without running anything; "
                 "an item named in a subfolder (sub\\inner.txt) goes into that subfolder, "
                 "created in DIR. Item names that could lead outside DIR, a link or a file "
                 "where a subfolder goes, existing files without --force, or an archive that "
                 "vexa packed whose image checksum shows a change refuse the whole extraction "
                 "before anything is written; a damaged item stops it.");
  extractCommand->footer(std::string(PasswordHelp) + "\n" + ExitCodes);
  extractCommand->add_option("archive", extractPath, "The archive.")
      ->type_name("FILE.exe")
      ->required();
  extractCommand
      ->add_option("-C,--directory", extract.Directory,
                   "The folder to write into (created when missing).")
      ->type_name("DIR")
      ->required();
  extractCommand->add_flag("--force", extract.Force, "Overwrite existing files.");
  AddPasswordOptions(*extractCommand, extractPassword);

  std::string verifyPath;
  PasswordOptions verifyPassword;
  CLI::App* verifyCommand = app.add_subcommand(
      "verify", "Check the password, then read every item to its end, inflating and "
                "deciphering it, and report each damaged one by name; when all are whole, "
                "compare the PE image checksum, which any change to the rest of the file "
                "upsets (only vexa keeps it current: one that does not fit an archive that "
                "another builder made is reported as not checked).");
  verifyCommand->footer(std::string(PasswordHelp) + "\n" + ExitCodes);
  verifyCommand->add_option("archive", verifyPath, "The archive.")
      ->type_name("FILE.exe")
      ->required();
  verifyCommand->add_flag("--json", json, "Print the report as JSON for scripts.");
  AddPasswordOptions(*verifyCommand, verifyPassword);

  try {
    std::vector<std::string> args = Arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& arg : args)
      pointers.push_back(arg.data());
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : ExitUsage;
  }

  try {
    if (packCommand->parsed()) {
      pack.Progress = StderrIsTerminal();
      const PackReport report = RunPackCommand(pack);
      if (report.DroppedCertificate)
        std::cerr << "vexa: warning: the stub was signed; its signature was removed. Sign "
                  << pack.Output << " again.\n";
      if (const std::string warning = ImageSizeWarning(report.ImageSize); !warning.empty())
        std::cerr << "vexa: warning: " << warning << "\n";
      std::cout << pack.Output << ": " << report.Items << " item(s), " << report.OriginalBytes
                << " bytes packed into " << report.StoredBytes << "\n";
    } else if (listCommand->parsed()) {
      ListArchive(listPath, json, std::cout, std::cerr);
    } else if (extractCommand->parsed()) {
      extract.Progress = StderrIsTerminal();
      extract.Password = SourceOf(extractPassword);
      ExtractArchiveTo(extractPath, extract, std::cout, std::cerr);
    } else if (verifyCommand->parsed()) {
      return VerifyArchive(verifyPath, SourceOf(verifyPassword), json, std::cout, std::cerr)
                     .Passed()
                 ? 0
                 : ExitFailure;
    }
  } catch (const ToolError& e) {
    std::cerr << "vexa: " << e.what() << "\n";
    return e.ExitCode();
  } catch (const std::exception& e) {
    std::cerr << "vexa: " << e.what() << "\n";
    return ExitFailure;
  }
  return 0;
}
