#include "crypto/password_check.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace vexa {
namespace {

using Block = std::array<std::uint8_t, PasswordCheckSize>;

Block Random(unsigned seed) {
  std::mt19937 gen(seed);
  Block b;
  for (auto& x : b)
    x = static_cast<std::uint8_t>(gen());
  return b;
}

// The dialog's password buffer: the typed text, its NUL, and whatever was there before.
std::array<char, PasswordCheckSize> Typed(const std::string& text) {
  std::array<char, PasswordCheckSize> buffer;
  buffer.fill('#');
  std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
  return buffer;
}

bool Check(const Block& check, const std::string& text) {
  return CheckPassword(check.data(), Typed(text).data());
}

TEST(PasswordCheckTest, AcceptsExactlyThePassword) {
  const Block check = MakePasswordCheck("Secret42", Random(1));
  EXPECT_TRUE(Check(check, "Secret42"));
  EXPECT_FALSE(Check(check, "Secret421"));
  EXPECT_FALSE(Check(check, "Secret4"));
  EXPECT_FALSE(Check(check, "secret42"));
  EXPECT_FALSE(Check(check, ""));
  EXPECT_TRUE(Check(check, "Secret42")); // an earlier refusal leaves nothing behind
}

TEST(PasswordCheckTest, RoundTripsAtEveryLength) {
  for (std::size_t length : {1u, 7u, 8u, 9u, 63u, 126u, 127u}) {
    std::string password;
    for (std::size_t i = 0; i < length; ++i)
      password.push_back(static_cast<char>(0x21 + (i * 11) % 0xDE)); // no NULs, high bytes too
    const Block check = MakePasswordCheck(password, Random(static_cast<unsigned>(length)));
    EXPECT_TRUE(Check(check, password)) << length;
    EXPECT_FALSE(Check(check, password.substr(1))) << length;

    // What the check block enciphers to is the text, its NUL, then the random bytes.
    Block work = check;
    EncryptBuffer(work.data(), PasswordCheckSize, password);
    const Block random = Random(static_cast<unsigned>(length));
    EXPECT_EQ(0, std::memcmp(work.data(), password.c_str(), length + 1));
    EXPECT_TRUE(std::equal(work.begin() + length + 1, work.end(), random.begin() + length + 1));
  }
}

TEST(PasswordCheckTest, BytesAfterTheNulDoNotMatter) {
  const std::string password = "pass";
  Block check = MakePasswordCheck(password, Random(2));
  const Block other = MakePasswordCheck(password, Random(3));
  EXPECT_NE(check, other);
  EXPECT_TRUE(Check(other, password));

  // Changing the last block changes only what the work block holds after the NUL.
  check[PasswordCheckSize - 1] ^= 0xFF;
  EXPECT_TRUE(Check(check, password));
  check[0] ^= 0x01;
  EXPECT_FALSE(Check(check, password));
}

TEST(PasswordCheckTest, EmptyTextChecksUnderTheUnkeyedCipher) {
  // A block that enciphers under the initial tables to a leading NUL passes for "".
  Block plain = Random(4);
  plain[0] = 0;
  TBlowfish unkeyed;
  unkeyed.SetKey("");
  Block check = plain;
  unkeyed.Decrypt(check.data(), PasswordCheckSize);
  EXPECT_TRUE(Check(check, ""));
  EXPECT_FALSE(Check(check, "x"));

  plain[0] = 'x';
  check = plain;
  TBlowfish again;
  again.SetKey("");
  again.Decrypt(check.data(), PasswordCheckSize);
  EXPECT_FALSE(Check(check, ""));
}

TEST(PasswordCheckTest, BufferWithoutNulIsRefusedWithoutReadingPastIt) {
  const std::string password(127, 'a');
  const Block check = MakePasswordCheck(password, Random(5));
  // Exactly 128 bytes on the heap, so a read past them shows under a memory checker.
  std::vector<char> full(PasswordCheckSize, 'a');
  EXPECT_FALSE(CheckPassword(check.data(), full.data()));
  std::memcpy(full.data(), Typed(password).data(), PasswordCheckSize);
  EXPECT_TRUE(CheckPassword(check.data(), full.data()));
}

TEST(PasswordCheckTest, PasswordProblems) {
  EXPECT_EQ(PasswordProblem("fine"), nullptr);
  EXPECT_EQ(PasswordProblem(std::string(127, 'p')), nullptr);
  EXPECT_NE(PasswordProblem(""), nullptr);
  EXPECT_NE(PasswordProblem(std::string(128, 'p')), nullptr);
  EXPECT_NE(PasswordProblem(std::string("a\0b", 3)), nullptr);
  EXPECT_THROW(MakePasswordCheck(std::string(128, 'p'), Random(6)), Exception);
  EXPECT_THROW(MakePasswordCheck("", Random(6)), Exception);
}

TEST(ItemEncryptorTest, ChunksFormOneZeroPaddedChain) {
  std::vector<std::uint8_t> plain(1000);
  for (std::size_t i = 0; i < plain.size(); ++i)
    plain[i] = static_cast<std::uint8_t>(i * 31);

  for (std::size_t size : {0u, 1u, 8u, 999u, 1000u}) {
    std::vector<std::uint8_t> expected(plain.begin(), plain.begin() + size);
    expected.resize((size + 7) / 8 * 8, 0);
    TBlowfish bf;
    bf.SetKey("item key");
    bf.Encrypt(expected.data(), static_cast<std::int32_t>(expected.size()));

    for (std::size_t chunk : {1u, 3u, 8u, 13u, 1000u}) {
      TItemEncryptor enc("item key");
      std::vector<std::uint8_t> out;
      for (std::size_t at = 0; at < size; at += chunk)
        enc.Add(plain.data() + at, std::min(chunk, size - at), out);
      enc.Finish(out);
      EXPECT_EQ(out, expected) << "size " << size << " chunk " << chunk;
    }
  }
}

} // namespace
} // namespace vexa
