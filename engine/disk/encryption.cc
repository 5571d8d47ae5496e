#include "engine/disk/encryption.h"

#include <cryptopp/blowfish.h>
#include <cryptopp/des.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/ripemd.h>
#include <cryptopp/square.h>
#include <cryptopp/twofish.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace orb {
namespace {

constexpr size_t kMaxBlock = 24;

// A cipher from the library used as a plain block primitive.
template <typename Algo>
class LibraryCipher final : public TORBCipher {
 public:
  LibraryCipher(TORBCryptoAlgorithm algorithm, const std::string& key)
      : TORBCipher(algorithm, Algo::BLOCKSIZE),
        FEnc(reinterpret_cast<const CryptoPP::byte*>(key.data()), key.size()),
        FDec(reinterpret_cast<const CryptoPP::byte*>(key.data()), key.size()) {}

 protected:
  void EncryptBlock(const uint8_t* in, uint8_t* out) const override { FEnc.ProcessBlock(in, out); }
  void DecryptBlock(const uint8_t* in, uint8_t* out) const override { FDec.ProcessBlock(in, out); }

 private:
  typename Algo::Encryption FEnc;
  typename Algo::Decryption FDec;
};

// Triple DES on 24-byte blocks A|B|C: each stage runs DES over the three
// 8-byte parts; between stages the words at offsets 4 and 8 trade places.
class TripleDesCipher final : public TORBCipher {
 public:
  explicit TripleDesCipher(const std::string& key)
      : TORBCipher(craDES_Triple, 24),
        FE1(Key(key, 0), 8), FD1(Key(key, 0), 8),
        FE2(Key(key, 8), 8), FD2(Key(key, 8), 8),
        FE3(Key(key, 16), 8), FD3(Key(key, 16), 8) {}

 protected:
  void EncryptBlock(const uint8_t* in, uint8_t* out) const override {
    uint8_t b[24];
    std::memcpy(b, in, 24);
    Stage(FE1, b);
    Swap(b);
    Stage(FD2, b);
    Swap(b);
    Stage(FE3, b);
    std::memcpy(out, b, 24);
  }
  void DecryptBlock(const uint8_t* in, uint8_t* out) const override {
    uint8_t b[24];
    std::memcpy(b, in, 24);
    Stage(FD3, b);
    Swap(b);
    Stage(FE2, b);
    Swap(b);
    Stage(FD1, b);
    std::memcpy(out, b, 24);
  }

 private:
  static const CryptoPP::byte* Key(const std::string& key, size_t at) {
    return reinterpret_cast<const CryptoPP::byte*>(key.data()) + at;
  }
  static void Stage(const CryptoPP::BlockTransformation& t, uint8_t* b) {
    for (int i = 0; i < 3; ++i) t.ProcessBlock(b + 8 * i, b + 8 * i);
  }
  static void Swap(uint8_t* b) { std::swap_ranges(b + 4, b + 8, b + 8); }

  CryptoPP::DES::Encryption FE1;
  CryptoPP::DES::Decryption FD1;
  CryptoPP::DES::Encryption FE2;
  CryptoPP::DES::Decryption FD2;
  CryptoPP::DES::Encryption FE3;
  CryptoPP::DES::Decryption FD3;
};

template <typename Hash>
std::string Digest(const std::string& text) {
  std::string out(Hash::DIGESTSIZE, '\0');
  Hash().CalculateDigest(reinterpret_cast<CryptoPP::byte*>(out.data()),
                         reinterpret_cast<const CryptoPP::byte*>(text.data()), text.size());
  return out;
}

}  // namespace

std::string ORBDeriveKey(TORBCryptoAlgorithm algorithm, const std::string& password) {
  switch (algorithm) {
    case craRijndael_128:
    case craTwofish_128:
    case craSquare:
      return Digest<CryptoPP::RIPEMD128>(password);
    case craRijndael_256:
    case craBlowfish:
    case craTwofish_256:
      return Digest<CryptoPP::RIPEMD256>(password);
    case craDES_Single:
      return Digest<CryptoPP::RIPEMD128>(password).substr(0, 8);
    case craDES_Triple: {
      std::string key = Digest<CryptoPP::RIPEMD128>(password);
      key.resize(24, '\0');
      return key;
    }
  }
  return {};
}

std::unique_ptr<TORBCipher> TORBCipher::Create(TORBCryptoAlgorithm algorithm, const std::string& password) {
  const std::string key = ORBDeriveKey(algorithm, password);
  try {
    switch (algorithm) {
      case craRijndael_128:
      case craRijndael_256:
        return std::make_unique<LibraryCipher<CryptoPP::Rijndael>>(algorithm, key);
      case craDES_Single:
        return std::make_unique<LibraryCipher<CryptoPP::DES>>(algorithm, key);
      case craDES_Triple:
        return std::make_unique<TripleDesCipher>(key);
      case craBlowfish:
        return std::make_unique<LibraryCipher<CryptoPP::Blowfish>>(algorithm, key);
      case craTwofish_128:
      case craTwofish_256:
        return std::make_unique<LibraryCipher<CryptoPP::Twofish>>(algorithm, key);
      case craSquare:
        return std::make_unique<LibraryCipher<CryptoPP::Square>>(algorithm, key);
    }
  } catch (const std::exception&) {
  }
  return nullptr;
}

bool TORBCipher::Encrypt(uint8_t* buffer, size_t length) const noexcept {
  try {
    const size_t n = FBlockSize;
    std::array<uint8_t, kMaxBlock> f{};
    std::array<uint8_t, kMaxBlock> t{};
    size_t pos = 0;
    for (; pos + n <= length; pos += n) {
      uint8_t* x = buffer + pos;
      for (size_t i = 0; i < n; ++i) t[i] = x[i] ^ f[i];
      EncryptBlock(t.data(), x);
      for (size_t i = 0; i < n; ++i) f[i] ^= x[i];
    }
    if (pos < length) {
      EncryptBlock(f.data(), t.data());
      for (size_t i = 0; pos + i < length; ++i) buffer[pos + i] ^= t[i];
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool TORBCipher::Decrypt(uint8_t* buffer, size_t length) const noexcept {
  try {
    const size_t n = FBlockSize;
    std::array<uint8_t, kMaxBlock> f{};
    std::array<uint8_t, kMaxBlock> t{};
    size_t pos = 0;
    for (; pos + n <= length; pos += n) {
      uint8_t* y = buffer + pos;
      DecryptBlock(y, t.data());
      for (size_t i = 0; i < n; ++i) {
        const uint8_t cipher = y[i];
        y[i] = t[i] ^ f[i];
        f[i] ^= cipher;
      }
    }
    if (pos < length) {
      EncryptBlock(f.data(), t.data());
      for (size_t i = 0; pos + i < length; ++i) buffer[pos + i] ^= t[i];
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool ORBInternalEncryptBuffer(TORBCryptoAlgorithm algorithm, uint8_t* buffer, size_t length,
                              const std::string& password) {
  std::unique_ptr<TORBCipher> cipher = TORBCipher::Create(algorithm, password);
  return cipher && cipher->Encrypt(buffer, length);
}

bool ORBInternalDecryptBuffer(TORBCryptoAlgorithm algorithm, uint8_t* buffer, size_t length,
                              const std::string& password) {
  std::unique_ptr<TORBCipher> cipher = TORBCipher::Create(algorithm, password);
  return cipher && cipher->Decrypt(buffer, length);
}

}  // namespace orb
