#pragma once
// `vexa pack`: files and options in, a self-extracting .exe out. Every check that can
// refuse the job runs before the output is touched, and the output appears whole or not
// at all.

#include <optional>
#include <string>
#include <vector>

#include "password/password_source.h"
#include "texts/archive_texts.h"

namespace vexa::tool {

struct PackOptions {
  std::string Output;
  std::vector<std::string> Inputs; // files, or folders whose files are added

  // Exactly one destination.
  bool TempFolder = false;
  std::optional<std::string> FixedFolder;
  bool AskFolder = false;

  std::optional<std::string> Welcome;
  std::optional<std::string> Title;

  std::optional<std::string> Run;
  bool WaitAndDelete = false;
  bool AlwaysConfirm = false;
  bool ProgramInDestination = false;

  bool Store = false;
  std::optional<int> Level; // compression level; 12 when not given
  bool Encrypt = false;
  PasswordOptions Password;

  TextChoice Texts; // the stub's English texts unless a language or texts file is chosen

  std::optional<std::string> Icon;
  bool NoIcon = false;
  std::optional<std::string> Stub;
  bool Progress = false; // a progress line on stderr
  std::optional<std::size_t> Jobs; // threads compressing items; as many as processors when not given
};

struct PackReport {
  std::size_t Items = 0;
  std::uint64_t OriginalBytes = 0;
  std::uint64_t StoredBytes = 0;
  bool DroppedCertificate = false;
  std::uint32_t ImageSize = 0; // what the loader maps in one piece
};

// The warning for an archive whose image 32-bit Windows may fail to map; empty when there
// is nothing to say.
std::string ImageSizeWarning(std::uint32_t ImageSize);

// Raises UsageError for options that cannot work together and ToolError for inputs that
// cannot be packed, naming the file or option.
PackReport PackArchive(const PackOptions& Options);

} // namespace vexa::tool
