#include "crypto/cryptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "crypto/blowfish.h"
#include "support/random_bytes.h"

namespace vexa {
namespace {

using Bytes = std::vector<std::uint8_t>;

using test::RandomBytes;

// A toy 64-bit cipher for the chaining itself: adds a constant to each byte, and can
// be told to fail on its n-th block.
class TAddCipher : public TCryptor64 {
public:
  int FailOnCall = 0; // 1-based; 0 never fails
  int Calls = 0;

  std::string GetKey() const override { return {}; }
  void SetKey(const std::string&) override {}
  void CryptBlock(void* Block, std::int32_t Direction) override {
    if (++Calls == FailOnCall)
      throw std::runtime_error("block failed");
    auto* b = static_cast<std::uint8_t*>(Block);
    for (int i = 0; i < 8; ++i)
      b[i] = static_cast<std::uint8_t>(Direction == 1 ? b[i] + 0x3D + i : b[i] - 0x3D - i);
  }
};

// TBlowfish runs its own CBC loop; both it and the generic one in TCryptor64 must keep
// the same contract, so the cases run through both.
enum class Path { Blowfish, Generic };

class CbcTest : public ::testing::TestWithParam<Path> {
protected:
  static void Key(TBlowfish& bf) { bf.SetKey("chain key"); }
  void Crypt(TBlowfish& bf, Bytes& b, bool encrypt, std::size_t offset = 0, int count = -1) {
    const int n = count < 0 ? static_cast<int>(b.size() - offset) : count;
    if (GetParam() == Path::Blowfish)
      bf.CryptBuffer(b.data() + offset, n, encrypt);
    else
      bf.TCryptor64::CryptBuffer(b.data() + offset, n, encrypt);
  }
};

TEST_P(CbcTest, ShortTailsAreLeftAsTheyAreAndDoNotMoveTheChain) {
  for (bool encrypt : {true, false}) {
    TBlowfish bf, fresh;
    Key(bf);
    Key(fresh);
    Bytes seven = RandomBytes(7, 1);
    const Bytes seven0 = seven;
    Crypt(bf, seven, encrypt);
    EXPECT_EQ(seven, seven0);

    Bytes fifteen = RandomBytes(15, 2), expected = fifteen;
    Crypt(bf, fifteen, encrypt);
    Crypt(fresh, expected, encrypt, 0, 8); // the chain is still at its start
    EXPECT_EQ(fifteen, expected);

    Bytes negative = seven0;
    Crypt(bf, negative, encrypt, 0, -8);
    EXPECT_EQ(negative, seven0);
  }
}

TEST_P(CbcTest, CallsSplitAtWholeBlocksFormOneChain) {
  for (bool encrypt : {true, false}) {
    TBlowfish whole, split;
    Key(whole);
    Key(split);
    Bytes a = RandomBytes(8 * 40, 3), b = a;
    Crypt(whole, a, encrypt);
    std::size_t at = 0;
    for (int blocks : {1, 1, 3, 7, 28}) {
      Crypt(split, b, encrypt, at, 8 * blocks);
      at += 8 * blocks;
    }
    EXPECT_EQ(a, b) << encrypt;
  }
}

TEST_P(CbcTest, ChainRoundTripNeedsAFreshOrRestartedChain) {
  const Bytes plain = RandomBytes(64, 4);
  TBlowfish enc, dec;
  Key(enc);
  Key(dec);
  Bytes b = plain;
  Crypt(enc, b, true);
  EXPECT_NE(b, plain);
  const Bytes cipherText = b;

  Crypt(dec, b, false);
  EXPECT_EQ(b, plain);

  b = cipherText;
  Crypt(enc, b, false); // the chain has moved on: the first block comes out wrong
  EXPECT_NE(Bytes(b.begin(), b.begin() + 8), Bytes(plain.begin(), plain.begin() + 8));
  EXPECT_EQ(Bytes(b.begin() + 8, b.end()), Bytes(plain.begin() + 8, plain.end()));

  const std::uint8_t zero[8] = {};
  enc.SetIV(zero);
  b = cipherText;
  Crypt(enc, b, false);
  EXPECT_EQ(b, plain);
}

INSTANTIATE_TEST_SUITE_P(BothLoops, CbcTest, ::testing::Values(Path::Blowfish, Path::Generic),
                         [](const auto& info) {
                           return info.param == Path::Blowfish ? "Blowfish" : "Generic";
                         });

TEST(BlowfishCbcTest, OwnLoopMatchesGenericLoopOverLongChains) {
  for (bool encrypt : {true, false}) {
    TBlowfish fast, generic;
    fast.SetKey("another key, a little longer than the others");
    generic.SetKey("another key, a little longer than the others");
    Bytes a = RandomBytes(4096 + 8 + 5, 5), b = a; // an odd number of blocks
    for (int round = 0; round < 3; ++round) {
      fast.CryptBuffer(a.data(), static_cast<int>(a.size()), encrypt);
      generic.TCryptor64::CryptBuffer(b.data(), static_cast<int>(b.size()), encrypt);
      ASSERT_EQ(a, b) << encrypt << " round " << round;
    }
  }
}

TEST(BlowfishCbcTest, ResetCryptBufferRestartsTheChain) {
  TBlowfish bf;
  bf.SetKey("reset");
  const Bytes plain = RandomBytes(24, 6);
  Bytes first = plain, again = plain;
  bf.Encrypt(first.data(), 24);
  bf.ResetCryptBuffer(again.data(), 24, true);
  EXPECT_EQ(first, again);
}

TEST(CryptorTest, FailureInsideTheBlockLoopIsSwallowed) {
  const Bytes plain = RandomBytes(40, 7);
  for (bool encrypt : {true, false}) {
    TAddCipher reference;
    Bytes expected = plain;
    reference.CryptBuffer(expected.data(), 16, encrypt);

    TAddCipher faulty;
    faulty.FailOnCall = 3;
    Bytes b = plain;
    EXPECT_NO_THROW(faulty.CryptBuffer(b.data(), 40, encrypt));
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 16), Bytes(expected.begin(), expected.begin() + 16));
    EXPECT_EQ(Bytes(b.begin() + 24, b.end()), Bytes(plain.begin() + 24, plain.end()));

    // The chain stands after the last block done.
    Bytes next = plain, referenceNext = plain;
    faulty.CryptBuffer(next.data(), 8, encrypt);
    reference.CryptBuffer(referenceNext.data(), 8, encrypt);
    EXPECT_EQ(next, referenceNext) << encrypt;
  }
}

} // namespace
} // namespace vexa
