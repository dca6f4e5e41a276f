// The decrypting stream and the password check over arbitrary stored bytes, sizes and
// passwords.
//
// Input: u8 password length (up to 130, so that a password buffer without its NUL is
// tried), the password bytes, u32 plaintext size (taken modulo 2^20 unless the top bit is
// set, then as a signed value as is), u32 read-size seed, the 128-byte check block, then
// the stored bytes.
// Properties:
// - the stream hands out exactly what deciphering all stored bytes in one call gives,
//   in order, whatever the read sizes, and never more than the plaintext size; a source
//   shorter than the padded size, or a size past 2 GiB, raises TStreamReadException
//   instead of inventing bytes or none;
// - CheckPassword reads only its two 128-byte blocks, refuses a buffer without a NUL,
//   and agrees with a check block made for the password by MakePasswordCheck: that
//   password passes, the same text one byte longer does not.

#include "crypto/decrypt_stream.h"
#include "crypto/password_check.h"
#include "fuzz_input.h"
#include "streams/resource_stream.h"
#include "support/memory_resource_module.h"

namespace {

using namespace vexa;

void CheckTheCheck(const std::vector<std::uint8_t>& Password,
                   std::span<const std::uint8_t> Block) {
  // Exactly 128 bytes each, in heap blocks of that size, so that a read past either
  // is an overflow the sanitizer reports.
  auto buffer = std::make_unique<char[]>(PasswordCheckSize);
  std::memset(buffer.get(), 0, PasswordCheckSize);
  std::copy_n(Password.data(), std::min(Password.size(), PasswordCheckSize), buffer.get());
  auto check = std::make_unique<std::uint8_t[]>(PasswordCheckSize);
  std::memset(check.get(), 0, PasswordCheckSize);
  std::copy(Block.begin(), Block.end(), check.get());

  const bool passed = CheckPassword(check.get(), buffer.get());
  if (!std::memchr(buffer.get(), 0, PasswordCheckSize))
    FUZZ_CHECK(!passed);

  const std::string text(buffer.get(), strnlen(buffer.get(), PasswordCheckSize));
  if (PasswordProblem(text) != nullptr || text.size() >= MaxPasswordLength)
    return;
  std::array<std::uint8_t, PasswordCheckSize> random{};
  std::copy(Block.begin(), Block.end(), random.begin());
  const auto made = MakePasswordCheck(text, random);
  std::memcpy(check.get(), made.data(), PasswordCheckSize);
  FUZZ_CHECK(CheckPassword(check.get(), buffer.get()));
  buffer[text.size()] = 'x';
  FUZZ_CHECK(!CheckPassword(check.get(), buffer.get()));
}

void CheckTheStream(const std::string& Password, std::int32_t PlainSize, std::uint32_t Seed,
                    std::span<const std::uint8_t> Stored) {
  const std::int64_t padded = (std::int64_t{PlainSize} + 7) / 8 * 8;
  // The reference: every whole stored block deciphered in one call.
  std::vector<std::uint8_t> plain(Stored.begin(), Stored.end());
  {
    TBlowfish cipher;
    cipher.SetKey(Password);
    cipher.Decrypt(plain.data(), static_cast<std::int32_t>(plain.size()));
  }

  test::MemoryResourceModule module;
  module.Add("ITEM1", fuzz::ToVector(Stored));
  TResourceStream source(module, "Item1");
  auto cipher = std::make_unique<TBlowfish>();
  cipher->SetKey(Password);
  if (PlainSize < 0) {
    // A StoredSize past 2 GiB: refused, not read as an empty item.
    try {
      TDeCryptStream refused(std::move(cipher), PlainSize, source);
      FUZZ_CHECK(false);
    } catch (const TStreamReadException&) {
    }
    return;
  }
  TDeCryptStream stream(std::move(cipher), PlainSize, source);
  FUZZ_CHECK(stream.Size() == PlainSize);

  fuzz::TReadSizes sizes(Seed);
  static std::uint8_t buffer[fuzz::TReadSizes::Largest];
  std::int64_t got = 0;
  for (int reads = 0; reads < 4096; ++reads) {
    const std::int32_t want = sizes.Next();
    std::int32_t n;
    try {
      n = stream.Read(buffer, want);
    } catch (const TStreamReadException&) {
      // Only a source that ends before the padded length may do this.
      FUZZ_CHECK(static_cast<std::int64_t>(Stored.size()) < padded);
      return;
    }
    FUZZ_CHECK(n >= 0 && n <= want && got + n <= PlainSize);
    FUZZ_CHECK(got + n <= static_cast<std::int64_t>(plain.size()));
    FUZZ_CHECK(std::equal(buffer, buffer + n, plain.begin() + got));
    got += n;
    FUZZ_CHECK(stream.Position() == got);
    if (n == 0 && want != 0) {
      FUZZ_CHECK(got == PlainSize);
      return;
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  fuzz::TInput in(Data, Size);
  const std::size_t passwordLength = in.U8() % 131;
  const auto password = fuzz::ToVector(in.Take(passwordLength));
  const std::uint32_t rawSize = in.U32();
  const std::int32_t plainSize = static_cast<std::int32_t>(
      (rawSize & 0x80000000u) ? rawSize : rawSize % (1 << 20));
  const std::uint32_t seed = in.U32();
  const auto block = in.Take(PasswordCheckSize);
  const auto stored = in.Rest();

  CheckTheCheck(password, block);
  const std::string key(password.begin(), password.end());
  CheckTheStream(key, plainSize, seed, stored);
  return 0;
}
