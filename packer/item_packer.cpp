#include "packer/item_packer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "crypto/password_check.h"
#include "platform/mapped_file.h"
#include "tool_base/item_checksums.h"
#include "tool_base/local_path.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace fs = std::filesystem;

namespace {

// The bytes of one item into the work file, enciphered on the way when there is a
// password (each item's cipher chain starts afresh).
class TItemOutput final : public TStreamOutput {
public:
  TItemOutput(TWorkFile& Work, const std::optional<std::string>& Password, TProgress& Progress)
      : Work(Work), Start(Work.Size()), Password(Password), Progress(Progress) {
    Restart();
  }

  void Write(std::span<const std::uint8_t> Bytes) override {
    Plain += Bytes.size();
    if (!Encryptor)
      return Work.Append(Bytes);
    for (std::size_t at = 0; at < Bytes.size(); at += Chunk) {
      Enciphered.clear();
      Encryptor->Add(Bytes.data() + at, std::min(Chunk, Bytes.size() - at), Enciphered);
      Work.Append(Enciphered);
    }
  }

  std::span<std::uint8_t> Reserve(std::size_t Capacity) override {
    return Room = Work.MapEnd(Capacity);
  }

  // Enciphers in place: each block lands where its plain bytes were, after they were read.
  void Commit(std::size_t Count) override {
    Plain += Count;
    std::size_t kept = Count;
    if (Encryptor) {
      kept = 0;
      for (std::size_t at = 0; at < Count; at += Chunk) {
        Enciphered.clear();
        Encryptor->Add(Room.data() + at, std::min(Chunk, Count - at), Enciphered);
        std::memcpy(Room.data() + kept, Enciphered.data(), Enciphered.size());
        kept += Enciphered.size();
      }
    }
    Work.UnmapEnd(kept);
  }

  void Discard() override {
    Work.Rewind(Start);
    Plain = 0;
    Restart();
  }

  void Consumed(std::size_t Count) override {
    Read += Count;
    Progress.Advance(Count);
  }

  // Bytes before enciphering.
  std::uint64_t PlainSize() const { return Plain; }

  // Input bytes the compressor reported read.
  std::uint64_t ReadSize() const { return Read; }

  // Pads the last cipher block and returns the item's length in the work file.
  std::uint64_t Finish() {
    if (Encryptor) {
      Enciphered.clear();
      Encryptor->Finish(Enciphered);
      Work.Append(Enciphered);
    }
    return Work.Size() - Start;
  }

private:
  void Restart() {
    if (Password)
      Encryptor.emplace(*Password);
  }

  static constexpr std::size_t Chunk = std::size_t{1} << 20;
  TWorkFile& Work;
  const std::uint64_t Start;
  const std::optional<std::string>& Password;
  TProgress& Progress;
  std::optional<TItemEncryptor> Encryptor;
  std::vector<std::uint8_t> Enciphered;
  std::span<std::uint8_t> Room;
  std::uint64_t Plain = 0;
  std::uint64_t Read = 0;
};

} // namespace

TItemPacker::TItemPacker(fs::path WorkFile, std::unique_ptr<TCompressor> Compressor,
                         const std::optional<std::string>& Password, TProgress& Progress)
    : Work(std::move(WorkFile)), Compressor(std::move(Compressor)), Password(Password),
      Progress(Progress) {}

std::vector<PackedItem> TItemPacker::Pack(std::span<const fs::path> Paths) {
  std::vector<platform::MappedFile> data(Paths.size());
  std::vector<std::span<const std::uint8_t>> parts;
  std::vector<PackedItem> items(Paths.size());
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < Paths.size(); ++i) {
    if (const std::string problem = data[i].Open(Utf8Of(Paths[i])); !problem.empty())
      throw ToolError(problem);
    // The file may have changed since it was checked; what is packed is what was read.
    if (data[i].Size() > MaxItemSize)
      throw ToolError(Utf8Of(Paths[i]) + ": the file is 4 GiB or larger; an item holds less");
    items[i].OriginalSize = static_cast<std::uint32_t>(data[i].Size());
    items[i].Checksum = Crc32(0, data[i].Bytes());
    items[i].WorkFile = Work.Name();
    parts.push_back(data[i].Bytes());
    total += data[i].Size();
  }
  items[0].Offset = Work.Size();
  TItemOutput out(Work, Password, Progress);
  const bool compressed = Compressor && Compressor->CompressIfSmaller(parts, out);
  const std::uint64_t read = out.ReadSize();
  if (compressed) {
    // One stream for the block, held by its first item; the others continue it.
    items[0].Method = Compressor->Method();
    items[0].StoredSize = static_cast<std::uint32_t>(out.PlainSize());
    items[0].Length = out.Finish();
    for (std::size_t i = 1; i < items.size(); ++i) {
      items[i].Method = imLzma2Continued;
      items[i].Offset = Work.Size();
    }
  } else {
    // Each item stored as it is, enciphered on its own.
    out.Write(parts[0]);
    items[0].StoredSize = items[0].OriginalSize;
    items[0].Length = out.Finish();
    for (std::size_t i = 1; i < items.size(); ++i) {
      items[i].Offset = Work.Size();
      TItemOutput stored(Work, Password, Progress);
      stored.Write(parts[i]);
      items[i].StoredSize = items[i].OriginalSize;
      items[i].Length = stored.Finish();
    }
  }
  // Input that no engine reported counts as read now.
  Progress.Advance(total - std::min(total, read));
  return items;
}

} // namespace vexa::tool
