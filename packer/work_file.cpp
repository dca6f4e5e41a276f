#include "packer/work_file.h"

#include <utility>

#include "platform/file.h"
#include "platform/path_facts.h"
#include "platform/random.h"
#include "tool_base/local_path.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace fs = std::filesystem;

fs::path WorkPath(const fs::path& Output, const std::string& Suffix) {
  for (;;) {
    std::uint8_t random[4];
    platform::FillRandom(random, sizeof random);
    char tag[16];
    std::snprintf(tag, sizeof tag, ".%02x%02x%02x%02x", random[0], random[1], random[2], random[3]);
    fs::path path = Output;
    path += PathFromUtf8(tag + Suffix);
    if (const platform::PathFacts facts = platform::LookAt(path);
        facts.Leads == platform::PathFacts::Kind::Missing && !facts.Link)
      return path;
  }
}

TRemoveOnExit::~TRemoveOnExit() {
  if (!Path.empty())
    platform::RemoveFile(Utf8Of(Path));
}

TWorkFile::TWorkFile(fs::path Path) : Path(std::move(Path)), Remover(this->Path) {
#ifdef _WIN32
  File = ::_wfopen(SystemPath(this->Path).c_str(), L"w+b");
#else
  File = std::fopen(this->Path.c_str(), "w+b");
#endif
  if (!File)
    throw ToolError("cannot create the work file " + Utf8Of(this->Path));
}

TWorkFile::~TWorkFile() {
  Room.Unmap();
  if (File)
    std::fclose(File);
}

void TWorkFile::Failed() const {
  throw ToolError("cannot write the work file " + Utf8Of(Path) + " (is the disk full?)");
}

void TWorkFile::Append(std::span<const std::uint8_t> Bytes) {
  if (!Bytes.empty() && std::fwrite(Bytes.data(), 1, Bytes.size(), File) != Bytes.size())
    Failed();
  End += Bytes.size();
}

void TWorkFile::Rewind(std::uint64_t Offset) {
#ifdef _WIN32
  const int moved = ::_fseeki64(File, static_cast<long long>(Offset), SEEK_SET);
#else
  const int moved = ::fseeko(File, static_cast<off_t>(Offset), SEEK_SET);
#endif
  if (moved != 0)
    Failed();
  End = Offset;
}

std::span<std::uint8_t> TWorkFile::MapEnd(std::size_t Capacity) {
  if (std::fflush(File) != 0)
    Failed();
  if (const std::string problem = Room.Map(File, End, Capacity); !problem.empty())
    throw ToolError("cannot make room for an item in the work file " + Utf8Of(Path) + ": " +
                    problem);
  return Room.Bytes();
}

void TWorkFile::UnmapEnd(std::size_t Count) {
  Room.Unmap();
  // The unused room goes, so the file takes only what it holds.
  if (!platform::SetFileLength(File, End + Count))
    Failed();
  Rewind(End + Count);
}

void TWorkFile::Close() {
  if (std::fclose(std::exchange(File, nullptr)) != 0)
    Failed();
}

std::string TWorkFile::Name() const { return Utf8Of(Path); }

} // namespace vexa::tool
