#include "engine/disk/encryption.h"

#include <cryptopp/des.h>
#include <cryptopp/aes.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace orb {
namespace {

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

const TORBCryptoAlgorithm kAll[] = {craRijndael_128, craRijndael_256, craDES_Single, craDES_Triple,
                                    craBlowfish,     craTwofish_128,  craTwofish_256, craSquare};

TEST(EncryptionTest, KeysAreTheHashDigestCutOrPadded) {
  const std::string r128 = "c14a12199c66e4ba84636b0f69144c77";
  const std::string r256 = "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65";
  EXPECT_EQ(Hex(ORBDeriveKey(craRijndael_128, "abc")), r128);
  EXPECT_EQ(Hex(ORBDeriveKey(craTwofish_128, "abc")), r128);
  EXPECT_EQ(Hex(ORBDeriveKey(craSquare, "abc")), r128);
  EXPECT_EQ(Hex(ORBDeriveKey(craRijndael_256, "abc")), r256);
  EXPECT_EQ(Hex(ORBDeriveKey(craTwofish_256, "abc")), r256);
  EXPECT_EQ(Hex(ORBDeriveKey(craBlowfish, "abc")), r256);
  EXPECT_EQ(Hex(ORBDeriveKey(craDES_Single, "abc")), r128.substr(0, 16));
  EXPECT_EQ(Hex(ORBDeriveKey(craDES_Triple, "abc")), r128 + std::string(16, '0'));
}

// Every cipher over the data area of a 4096-byte page: a full block run
// plus, for most block sizes, a trailing partial block.
TEST(EncryptionTest, EveryCipherRoundTripsAPageAndIsDeterministic) {
  const std::vector<uint8_t> plain = RandomBytes(4096 - 40, 7);
  for (TORBCryptoAlgorithm alg : kAll) {
    SCOPED_TRACE(static_cast<int>(alg));
    std::vector<uint8_t> a = plain;
    ASSERT_TRUE(ORBInternalEncryptBuffer(alg, a.data(), a.size(), "secret"));
    EXPECT_NE(a, plain);
    // No byte of the tail is left plain either.
    EXPECT_NE(std::vector<uint8_t>(a.end() - 8, a.end()), std::vector<uint8_t>(plain.end() - 8, plain.end()));

    std::vector<uint8_t> b = plain;
    auto cipher = TORBCipher::Create(alg, "secret");
    ASSERT_NE(cipher, nullptr);
    ASSERT_TRUE(cipher->Encrypt(b.data(), b.size()));
    EXPECT_EQ(a, b) << "keyed once and keyed per call must agree";

    std::vector<uint8_t> c = plain;
    ASSERT_TRUE(cipher->Encrypt(c.data(), c.size()));
    EXPECT_EQ(a, c) << "the chain restarts for every buffer";

    ASSERT_TRUE(ORBInternalDecryptBuffer(alg, a.data(), a.size(), "secret"));
    EXPECT_EQ(a, plain);

    std::vector<uint8_t> d = c;
    ASSERT_TRUE(ORBInternalDecryptBuffer(alg, d.data(), d.size(), "other"));
    EXPECT_NE(d, plain);
  }
}

TEST(EncryptionTest, ChainingOfAesMatchesTheFormat) {
  const std::string key = ORBDeriveKey(craRijndael_128, "pw");
  CryptoPP::AES::Encryption aes(reinterpret_cast<const CryptoPP::byte*>(key.data()), key.size());
  const std::vector<uint8_t> plain = RandomBytes(16 * 3 + 5, 3);

  std::vector<uint8_t> expected(plain.size());
  uint8_t f[16] = {};
  for (size_t blk = 0; blk < 3; ++blk) {
    uint8_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = plain[blk * 16 + i] ^ f[i];
    aes.ProcessBlock(x, &expected[blk * 16]);
    for (int i = 0; i < 16; ++i) f[i] ^= expected[blk * 16 + i];
  }
  uint8_t k[16];
  aes.ProcessBlock(f, k);
  for (int i = 0; i < 5; ++i) expected[48 + i] = plain[48 + i] ^ k[i];

  std::vector<uint8_t> got = plain;
  ASSERT_TRUE(ORBInternalEncryptBuffer(craRijndael_128, got.data(), got.size(), "pw"));
  EXPECT_EQ(got, expected);
}

TEST(EncryptionTest, TripleDesWorksOnThreeDesBlocksWithWordExchanges) {
  const std::string key = ORBDeriveKey(craDES_Triple, "pw");
  auto k = [&](int i) { return reinterpret_cast<const CryptoPP::byte*>(key.data()) + 8 * i; };
  CryptoPP::DES::Encryption e1(k(0), 8), e3(k(2), 8);
  CryptoPP::DES::Decryption d2(k(1), 8);
  const std::vector<uint8_t> plain = RandomBytes(24, 5);

  uint8_t b[24];
  std::memcpy(b, plain.data(), 24);
  auto swap = [&] {
    for (int i = 0; i < 4; ++i) std::swap(b[4 + i], b[8 + i]);
  };
  for (int i = 0; i < 3; ++i) e1.ProcessBlock(b + 8 * i);
  swap();
  for (int i = 0; i < 3; ++i) d2.ProcessBlock(b + 8 * i);
  swap();
  for (int i = 0; i < 3; ++i) e3.ProcessBlock(b + 8 * i);

  std::vector<uint8_t> got = plain;
  ASSERT_TRUE(ORBInternalEncryptBuffer(craDES_Triple, got.data(), got.size(), "pw"));
  EXPECT_EQ(got, std::vector<uint8_t>(b, b + 24));
}

TEST(EncryptionTest, UnknownAlgorithmFails) {
  uint8_t buf[32] = {};
  EXPECT_FALSE(ORBInternalEncryptBuffer(static_cast<TORBCryptoAlgorithm>(9), buf, sizeof buf, "x"));
  EXPECT_FALSE(ORBInternalDecryptBuffer(static_cast<TORBCryptoAlgorithm>(9), buf, sizeof buf, "x"));
  EXPECT_EQ(TORBCipher::Create(static_cast<TORBCryptoAlgorithm>(9), "x"), nullptr);
}

}  // namespace
}  // namespace orb
