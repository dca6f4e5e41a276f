#include "streams/resource_stream.h"

#include <cstring>

namespace vexa {

namespace {
// Large enough that handing bytes back costs nothing next to reading them, small next to
// the rest of the tool's footprint.
constexpr std::int32_t DoneWithStep = 1 << 18;
} // namespace

TResourceStream::TResourceStream(const TResourceModule& Instance, const std::string& ResName)
    : Module(Instance) {
  const TResourceModule::Found found = Module.Find(ResName.c_str());
  Handle = found ? Module.Load(found) : nullptr;
  if (!Handle)
    throw TStreamReadException();
  Memory = Module.Lock(Handle);
  if (!Memory) {
    Module.Free(Handle);
    throw TStreamReadException();
  }
  // A resource of 2 GiB or more cannot be addressed by 32-bit stream positions.
  const std::uint32_t size = Module.SizeOf(found);
  if (size > 0x7FFFFFFFu) {
    Module.Free(Handle);
    throw TStreamReadException();
  }
  ResSize = static_cast<std::int32_t>(size);
}

TResourceStream::~TResourceStream() {
  // A small resource never reaches a step: what was read of it goes back when it is closed,
  // or a reader of thousands of small items would keep them all.
  if (ResPosition > DoneUpTo)
    Module.DoneWith(Memory + DoneUpTo, static_cast<std::size_t>(ResPosition - DoneUpTo));
  Module.Free(Handle);
}

std::int32_t TResourceStream::Read(void* Buffer, std::int32_t Count) {
  const std::int32_t remaining = ResSize - ResPosition;
  const std::int32_t n = Count > remaining ? remaining : Count;
  if (n <= 0)
    return 0;
  std::memcpy(Buffer, Memory + ResPosition, static_cast<std::size_t>(n));
  ResPosition += n;
  if (ResPosition - DoneUpTo >= DoneWithStep) {
    Module.DoneWith(Memory + DoneUpTo, static_cast<std::size_t>(ResPosition - DoneUpTo));
    DoneUpTo = ResPosition;
  }
  return n;
}

std::int32_t TResourceStream::Seek(std::int32_t Offset, std::uint16_t Origin) {
  ResPosition = BoundedSeekTarget(Offset, Origin, ResPosition, ResSize);
  if (ResPosition < DoneUpTo)
    DoneUpTo = ResPosition;
  return ResPosition;
}

namespace {

// Decode's reading of the resource's bytes, the resource freed after it; empty when the
// resource is missing or cannot be reached.
template <typename Text, typename Decoder>
Text DecodeResource(const TResourceModule& Instance, const std::string& Name, Decoder Decode) {
  const TResourceModule::Found found = Instance.Find(Name.c_str());
  if (!found)
    return {};
  const TResourceModule::Loaded handle = Instance.Load(found);
  if (!handle)
    return {};
  Text text;
  if (const std::uint8_t* p = Instance.Lock(handle))
    text = Decode(p, static_cast<std::size_t>(Instance.SizeOf(found)));
  Instance.Free(handle);
  return text;
}

} // namespace

std::string LoadResourceText(const TResourceModule& Instance, const std::string& Name) {
  return DecodeResource<std::string>(
      Instance, Name, [](const std::uint8_t* Bytes, std::size_t Size) {
        const void* nul = std::memchr(Bytes, 0, Size);
        const std::size_t length =
            nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - Bytes) : Size;
        return std::string(reinterpret_cast<const char*>(Bytes), length);
      });
}

std::u16string LoadResourceWideText(const TResourceModule& Instance, const std::string& Name) {
  return DecodeResource<std::u16string>(
      Instance, Name, [](const std::uint8_t* Bytes, std::size_t Size) {
        std::u16string text;
        for (std::size_t at = 0; at + 1 < Size; at += 2) {
          const auto unit = static_cast<char16_t>(Bytes[at] | Bytes[at + 1] << 8);
          if (unit == u'\0')
            break;
          text.push_back(unit);
        }
        return text;
      });
}

} // namespace vexa
