// vexa: packs files into a self-extracting Windows archive, and lists, extracts and
// verifies such archives without running them.

#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/inspect.h"
#include "cli/pack.h"
#include "cli/progress.h"
#include "cli/tool_error.h"

namespace {

constexpr char Version[] = VEXA_VERSION;

constexpr char ExitCodes[] = "Exit codes: 0 success, 1 failure (bad input, damaged archive, wrong "
                             "password, I/O error), 2 usage (unknown or conflicting options).";

void AddPasswordOptions(CLI::App& Command, vexa::tool::PasswordOptions& Password) {
  Command.add_option("--password-file", Password.File,
                     "Read the password from FILE (one line). Preferred: nothing shows it.");
  Command.add_option("--password", Password.Text,
                     "The password itself. Avoid: other users can see it in process listings "
                     "and it stays in shell history; use --password-file or VEXA_PASSWORD.");
}

} // namespace

int main(int argc, char** argv) {
  using namespace vexa::tool;
  CLI::App app("vexa " + std::string(Version) +
               ": self-extracting archives for Windows.\n"
               "The password of an encrypted archive comes from --password-file, the "
               "VEXA_PASSWORD environment variable, or a prompt on the terminal.");
  app.footer(ExitCodes);
  app.set_version_flag("--version", Version);
  app.require_subcommand(1);

  PackOptions pack;
  CLI::App* packCommand = app.add_subcommand("pack", "Pack files into a self-extracting .exe.");
  packCommand->footer(ExitCodes);
  packCommand->add_option("-o,--output", pack.Output, "The archive to write (OUT.exe).")->required();
  packCommand->add_option("inputs", pack.Inputs,
                          "Files, or folders whose files (not subfolders) are added in name order.")
      ->required();
  auto* destination = packCommand->add_option_group("destination", "Where the files go (choose one)");
  destination->add_flag("--temp", pack.TempFolder, "The user's temporary folder.");
  destination->add_option("--dest", pack.FixedFolder,
                          "A fixed folder; a path without ':' is relative to the .exe's folder. "
                          "The folder must exist on the user's machine.");
  destination->add_flag("--ask-folder", pack.AskFolder, "Let the user choose in a folder browser.");
  destination->require_option(1);
  packCommand->add_option("--welcome", pack.Welcome, "Ask this Yes/No question first; No ends the run.");
  packCommand->add_option("--title", pack.Title, "Caption of the welcome question.");
  packCommand->add_option("--run", pack.Run, "Start this program after extracting.");
  packCommand->add_flag("--wait-and-delete", pack.WaitAndDelete,
                        "Wait for the program, then delete the extracted files (asking first "
                        "when it fails).");
  packCommand->add_flag("--always-confirm", pack.AlwaysConfirm,
                        "Ask before deleting even when the program succeeded.");
  packCommand->add_flag("--program-in-destination", pack.ProgramInDestination,
                        "The --run program is one of the items, in the destination folder.");
  packCommand->add_flag("--store", pack.Store, "Do not compress.");
  packCommand->add_option("--level", pack.Level,
                          "Compression level 0-12 (default 9); an item is stored when "
                          "compressing would not make it smaller.");
  packCommand->add_flag("--encrypt", pack.Encrypt,
                        "Encrypt with a password from VEXA_PASSWORD or a prompt.");
  AddPasswordOptions(*packCommand, pack.Password);
  packCommand->add_option("--icon", pack.Icon, "Program icon (.ico) instead of the default one.");
  packCommand->add_flag("--no-icon", pack.NoIcon, "No program icon.");
  packCommand->add_option("--stub", pack.Stub, "Use this extractor instead of the built-in one.");

  bool json = false;
  std::string listPath;
  CLI::App* listCommand = app.add_subcommand("list", "Show an archive's options and items.");
  listCommand->footer(ExitCodes);
  listCommand->add_option("archive", listPath, "The archive (.exe).")->required();
  listCommand->add_flag("--json", json, "Print JSON for scripts.");

  ExtractOptions extract;
  std::string extractPath;
  CLI::App* extractCommand =
      app.add_subcommand("extract", "Write an archive's files without running anything.");
  extractCommand->footer(ExitCodes);
  extractCommand->add_option("archive", extractPath, "The archive (.exe).")->required();
  extractCommand->add_option("-C,--directory", extract.Directory, "Folder to write into (created when missing).")
      ->required();
  extractCommand->add_flag("--force", extract.Force, "Overwrite existing files.");
  AddPasswordOptions(*extractCommand, extract.Password);

  std::string verifyPath;
  PasswordOptions verifyPassword;
  CLI::App* verifyCommand = app.add_subcommand(
      "verify", "Read every item to its end and report each damaged one by name.");
  verifyCommand->footer(ExitCodes);
  verifyCommand->add_option("archive", verifyPath, "The archive (.exe).")->required();
  AddPasswordOptions(*verifyCommand, verifyPassword);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : ExitUsage;
  }

  try {
    if (packCommand->parsed()) {
      pack.Progress = StderrIsTerminal();
      const PackReport report = PackArchive(pack);
      if (report.DroppedCertificate)
        std::cerr << "vexa: warning: the stub was signed; its signature was removed. Sign "
                  << pack.Output << " again.\n";
      std::cout << pack.Output << ": " << report.Items << " item(s), " << report.OriginalBytes
                << " bytes packed into " << report.StoredBytes << "\n";
    } else if (listCommand->parsed()) {
      ListArchive(listPath, json, std::cout);
    } else if (extractCommand->parsed()) {
      extract.Progress = StderrIsTerminal();
      ExtractArchiveTo(extractPath, extract, std::cout);
    } else if (verifyCommand->parsed()) {
      return VerifyArchive(verifyPath, verifyPassword, std::cout, std::cerr) == 0 ? 0 : ExitFailure;
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
