#pragma once
// The password of an encrypted archive is never stored. The header carries a 128-byte
// check block instead: enciphered with Blowfish-CBC from a zero chaining value under
// the right password as key, it gives the password text followed by a NUL byte.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/blowfish.h"

namespace vexa {

inline constexpr std::size_t PasswordCheckSize = 128;
// The longest password: it and its NUL must fit the check block.
inline constexpr std::size_t MaxPasswordLength = PasswordCheckSize - 1;

// The stub's copy of the header's check block, stored before the password dialog opens
// and handed to CheckPassword on every OK.
extern std::array<std::uint8_t, PasswordCheckSize> CheckBlockSlot;

// Whether the text typed into PasswordBuffer (NUL-terminated, 128 bytes) is the password
// of CheckBlock (128 bytes). Reads exactly 128 bytes of each and never past them: a
// buffer without a NUL in its 128 bytes is refused. Case and every byte count.
bool CheckPassword(const std::uint8_t* CheckBlock, const char* PasswordBuffer);

// Enciphers Count bytes of Buffer in place with a fresh Blowfish keyed with Key: CBC
// from a zero chaining value, whole blocks only.
void EncryptBuffer(void* Buffer, std::int32_t Count, const std::string& Key);

// Null when Password can protect an archive; otherwise why not.
const char* PasswordProblem(std::string_view Password);

// Builds the check block for Password: the text, a NUL, then RandomBytes at the
// positions after it, all CBC-deciphered from a zero chain under Password, so that
// CheckPassword accepts exactly that text. Raises Exception when PasswordProblem
// objects to Password.
std::array<std::uint8_t, PasswordCheckSize> MakePasswordCheck(
    const std::string& Password, std::span<const std::uint8_t, PasswordCheckSize> RandomBytes);

// Enciphers an item's bytes as they are stored: one CBC chain from a zero chaining
// value over all of them, padded with zero bytes to whole blocks. The data may arrive
// in chunks of any size; the ciphertext is the same as for one chunk.
class TItemEncryptor {
public:
  explicit TItemEncryptor(const std::string& Password);

  // Enciphers the whole blocks available so far and appends them to Out; fewer than a
  // block's bytes wait for the next call.
  void Add(const void* Data, std::size_t Count, std::vector<std::uint8_t>& Out);
  // Pads the waiting bytes, if any, and appends their block. Call once, at the end.
  void Finish(std::vector<std::uint8_t>& Out);

private:
  TBlowfish Cipher;
  std::uint8_t Pending[TBlowfish::Block] = {};
  std::size_t PendingCount = 0;
};

} // namespace vexa
