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

  // Pads the last cipher block and returns the item's length in the work file. Input
  // that no engine reported counts as read now.
  std::uint64_t Finish(std::uint64_t InputSize) {
    if (Encryptor) {
      Enciphered.clear();
      Encryptor->Finish(Enciphered);
      Work.Append(Enciphered);
    }
    Progress.Advance(InputSize - std::min(InputSize, Read));
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

PackedItem TItemPacker::Pack(const fs::path& Path) {
  platform::MappedFile data;
  if (const std::string problem = data.Open(SystemName(Path)); !problem.empty())
    throw ToolError(problem);
  // The file may have changed since it was checked; what is packed is what was read.
  if (data.Size() > MaxItemSize)
    throw ToolError(Utf8Of(Path) + ": the file is 4 GiB or larger; an item holds less");
  PackedItem item;
  item.OriginalSize = static_cast<std::uint32_t>(data.Size());
  item.Checksum = Crc32(0, data.Bytes());
  item.WorkFile = Work.Name();
  item.Offset = Work.Size();
  TItemOutput out(Work, Password, Progress);
  if (Compressor && Compressor->CompressIfSmaller(data.Bytes(), out))
    item.Method = Compressor->Method();
  else
    out.Write(data.Bytes());
  item.StoredSize = static_cast<std::uint32_t>(out.PlainSize());
  item.Length = out.Finish(data.Size());
  return item;
}

} // namespace vexa::tool
