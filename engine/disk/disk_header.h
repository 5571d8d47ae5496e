#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "engine/disk/encryption.h"

namespace orb {

// The front part of a database file, at offset H (0 unless the database
// follows other data): database header (76), crypto header (280), lock
// bytes (20), last object id (4), then the pages.
inline constexpr std::string_view kDBSignature = "0RBELLE-DATABASE";
inline constexpr int kDBSignatureSize = 16;
inline constexpr int kDBHeaderSize = 76;
inline constexpr int kCryptoHeaderSize = 280;
inline constexpr int kLockedBytesSize = 20;
inline constexpr int kLastObjectIDSize = 4;
inline constexpr int kFrontPartSize = kDBHeaderSize + kCryptoHeaderSize + kLockedBytesSize + kLastObjectIDSize;
inline constexpr double kDBVersion = 7.92;
// Files written by versions before this one need repair before use.
inline constexpr double kDBMinimumSoundVersion = 2.99;
inline constexpr int kControlBlockSize = 256;

// WriteChangesState values.
inline constexpr uint8_t kWriteChangesWriting = 1;
inline constexpr uint8_t kWriteChangesConsistent = 2;

struct TORBDBHeader {
  std::array<char, kDBSignatureSize> Signature{};
  int16_t HeaderSize = kDBHeaderSize;
  double Version = kDBVersion;
  uint16_t PageSize = 0;
  uint16_t PageCountInExtent = 0;
  int32_t TotalPageCount = 0;
  int32_t LastUsedPageNo = -1;
  int32_t State = 0;
  uint8_t WriteChangesState = kWriteChangesConsistent;
  uint8_t Encrypted = 0;
  std::array<uint8_t, 32> Reserved{};

  // A header with the signature and the values of a new file.
  static TORBDBHeader Initial();
  bool HasSignature() const;

  void SaveTo(uint8_t* out) const;  // kDBHeaderSize bytes
  static TORBDBHeader LoadFrom(const uint8_t* in);
};

struct TORBCryptoHeader {
  int16_t CryptoHeaderSize = kCryptoHeaderSize;
  uint8_t CryptoAlgorithm = 0;
  uint8_t CryptoMode = 0;
  std::array<uint8_t, kControlBlockSize> ControlBlock{};
  uint32_t ControlBlockCRC = 0;
  std::array<uint8_t, 16> Reserverd{};

  void SaveTo(uint8_t* out) const;  // kCryptoHeaderSize bytes
  static TORBCryptoHeader LoadFrom(const uint8_t* in);
};

struct TORBLockedBytes {
  int16_t LockedByteSize = kLockedBytesSize;
  uint8_t FSMByte = 0;
  uint8_t TablesByte = 0;
  uint8_t DBHeaderByte = 0;
  std::array<uint8_t, 15> Reserved{};

  void SaveTo(uint8_t* out) const;  // kLockedBytesSize bytes
  static TORBLockedBytes LoadFrom(const uint8_t* in);
};

// Offsets of the lock target bytes within the lock bytes.
inline constexpr int kTablesByteOffset = 3;
inline constexpr int kDBHeaderByteOffset = 4;

}  // namespace orb
