#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace orb {

// Cipher of an encrypted database; stored as one byte in the crypto header
// and in the header of every encrypted page.
// | value | cipher        | block | key: digest of the password bytes        |
// |     0 | AES           |    16 | RIPEMD-128, 16 bytes                     |
// |     1 | AES           |    16 | RIPEMD-256, 32 bytes                     |
// |     2 | DES           |     8 | RIPEMD-128, first 8 bytes                |
// |     3 | triple DES    |    24 | RIPEMD-128, 16 bytes + 8 zero bytes      |
// |     4 | Blowfish      |     8 | RIPEMD-256, 32 bytes                     |
// |     5 | Twofish       |    16 | RIPEMD-128, 16 bytes                     |
// |     6 | Twofish       |    16 | RIPEMD-256, 32 bytes                     |
// |     7 | Square        |    16 | RIPEMD-128, 16 bytes                     |
//
// What a database file stores encrypted: the page data (page offsets 40 to
// page size - 1) of every page written while the database is encrypted,
// except the PFS and EAM pages and the pages of the direct-access files;
// and the crypto header's control block. Page headers, the database header,
// the other crypto header fields, the lock bytes and the last object id are
// always plain. Each stored unit is encrypted on its own, its chain starting
// from a zero feedback register, with no padding.
enum TORBCryptoAlgorithm : uint8_t {
  craRijndael_128 = 0,
  craRijndael_256 = 1,
  craDES_Single = 2,
  craDES_Triple = 3,
  craBlowfish = 4,
  craTwofish_128 = 5,
  craTwofish_256 = 6,
  craSquare = 7,
};

inline constexpr int kCryptoAlgorithmCount = 8;

// A database password: the byte string (code page bytes, empty = no
// encryption) and the cipher chosen for a new database.
struct TORBPassword {
  std::string Password;
  TORBCryptoAlgorithm CryptoAlgorithm = craRijndael_128;
};

// A block cipher keyed from a password, with the engine's chaining: a
// feedback register F (zero at the start of every call); full blocks are
// Y = E(X xor F), F = Y xor F; a trailing partial block is XORed with E(F).
// Output length equals input length. Keyed once, used for any number of
// buffers; every call starts its chain afresh.
class TORBCipher {
 public:
  virtual ~TORBCipher() = default;

  // Keys `algorithm` from the digest of `password`. Returns null when the
  // algorithm is unknown or the cipher library refuses the key.
  static std::unique_ptr<TORBCipher> Create(TORBCryptoAlgorithm algorithm, const std::string& password);

  TORBCryptoAlgorithm Algorithm() const { return FAlgorithm; }
  size_t BlockSize() const { return FBlockSize; }

  // Transform `length` bytes in place. False when the cipher library fails;
  // the buffer contents are then undefined.
  bool Encrypt(uint8_t* buffer, size_t length) const noexcept;
  bool Decrypt(uint8_t* buffer, size_t length) const noexcept;

 protected:
  TORBCipher(TORBCryptoAlgorithm algorithm, size_t block_size) : FAlgorithm(algorithm), FBlockSize(block_size) {}

  // One block of BlockSize() bytes, in -> out (may alias).
  virtual void EncryptBlock(const uint8_t* in, uint8_t* out) const = 0;
  virtual void DecryptBlock(const uint8_t* in, uint8_t* out) const = 0;

 private:
  TORBCryptoAlgorithm FAlgorithm;
  size_t FBlockSize;
};

// The digest of `password` under the algorithm's hash, cut or zero-padded
// to the key the cipher uses. Empty for an unknown algorithm.
std::string ORBDeriveKey(TORBCryptoAlgorithm algorithm, const std::string& password);

// One-shot forms: key a fresh cipher and transform the buffer in place.
// Any failure gives false.
bool ORBInternalEncryptBuffer(TORBCryptoAlgorithm algorithm, uint8_t* buffer, size_t length,
                              const std::string& password);
bool ORBInternalDecryptBuffer(TORBCryptoAlgorithm algorithm, uint8_t* buffer, size_t length,
                              const std::string& password);

}  // namespace orb
