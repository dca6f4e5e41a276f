#include "crypto/password_check.h"

#include <algorithm>
#include <cstring>

namespace vexa {

std::array<std::uint8_t, PasswordCheckSize> CheckBlockSlot{};

bool CheckPassword(const std::uint8_t* CheckBlock, const char* PasswordBuffer) {
  std::uint8_t typed[PasswordCheckSize];
  std::uint8_t work[PasswordCheckSize];
  std::memcpy(typed, PasswordBuffer, PasswordCheckSize);
  std::memcpy(work, CheckBlock, PasswordCheckSize);

  // Without a NUL the text would run past the copy; and no text of 128 bytes or more
  // can be a password, since the check block holds the text and its NUL.
  const auto* nul = static_cast<const std::uint8_t*>(std::memchr(typed, 0, PasswordCheckSize));
  if (nul == nullptr)
    return false;
  const auto length = static_cast<std::size_t>(nul - typed);

  EncryptBuffer(work, PasswordCheckSize, std::string(reinterpret_cast<char*>(typed), length));
  return std::memcmp(work, typed, length + 1) == 0;
}

void EncryptBuffer(void* Buffer, std::int32_t Count, const std::string& Key) {
  TBlowfish cipher;
  cipher.SetKey(Key);
  cipher.Encrypt(Buffer, Count);
}

const char* PasswordProblem(std::string_view Password) {
  if (Password.empty())
    return "the password is empty";
  if (Password.size() > MaxPasswordLength)
    return "the password is longer than 127 bytes";
  if (Password.find('\0') != std::string_view::npos)
    return "the password contains a NUL byte";
  return nullptr;
}

std::array<std::uint8_t, PasswordCheckSize> MakePasswordCheck(
    const std::string& Password, std::span<const std::uint8_t, PasswordCheckSize> RandomBytes) {
  if (const char* problem = PasswordProblem(Password))
    throw Exception(problem);
  std::array<std::uint8_t, PasswordCheckSize> block;
  std::copy(RandomBytes.begin(), RandomBytes.end(), block.begin());
  std::memcpy(block.data(), Password.data(), Password.size());
  block[Password.size()] = 0;

  TBlowfish cipher;
  cipher.SetKey(Password);
  cipher.Decrypt(block.data(), PasswordCheckSize);
  return block;
}

TItemEncryptor::TItemEncryptor(const std::string& Password) { Cipher.SetKey(Password); }

void TItemEncryptor::Add(const void* Data, std::size_t Count, std::vector<std::uint8_t>& Out) {
  constexpr std::size_t block = TBlowfish::Block;
  const auto* in = static_cast<const std::uint8_t*>(Data);
  if (PendingCount > 0) {
    const std::size_t take = std::min(block - PendingCount, Count);
    std::memcpy(Pending + PendingCount, in, take);
    PendingCount += take;
    in += take;
    Count -= take;
    if (PendingCount < block)
      return;
    Cipher.Encrypt(Pending, block);
    Out.insert(Out.end(), Pending, Pending + block);
    PendingCount = 0;
  }

  const std::size_t whole = Count / block * block;
  const std::size_t start = Out.size();
  Out.insert(Out.end(), in, in + whole);
  // The cipher counts in 32 bits; a multiple of the block size keeps the chain whole.
  constexpr std::size_t step = std::size_t{1} << 30;
  for (std::size_t done = 0; done < whole; done += step) {
    const auto count = static_cast<std::int32_t>(std::min(step, whole - done));
    Cipher.Encrypt(Out.data() + start + done, count);
  }

  PendingCount = Count - whole;
  if (PendingCount > 0)
    std::memcpy(Pending, in + whole, PendingCount);
}

void TItemEncryptor::Finish(std::vector<std::uint8_t>& Out) {
  if (PendingCount == 0)
    return;
  std::fill(Pending + PendingCount, Pending + TBlowfish::Block, std::uint8_t{0});
  Cipher.Encrypt(Pending, TBlowfish::Block);
  Out.insert(Out.end(), Pending, Pending + TBlowfish::Block);
  PendingCount = 0;
}

} // namespace vexa
