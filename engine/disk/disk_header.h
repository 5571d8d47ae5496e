#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "engine/disk/encryption.h"

namespace orb {

// The front part of a database file. H is the offset of the database
// header: 0 in every file the engine creates; on open, 0 when a header is
// there, else the first position where FindSignature sees the signature
// followed by a HeaderSize of 76 (a database may follow other data).
//
// File layout (offsets derived from the stored sizes on open):
// | offset                 | size         | meaning                        |
// | H                      |           76 | database header (TORBDBHeader) |
// | C = H + HeaderSize     |          280 | crypto header                  |
// | L = C + 280            |           20 | lock bytes (TORBLockedBytes)   |
// | O = L + LockedByteSize |            4 | int32 last object id           |
// | F = O + 4              | N * PageSize | pages 0 .. N - 1, N =          |
// |                        |              | TotalPageCount; page n at      |
// |                        |              | F + n * PageSize               |
// With the sizes the engine writes: C = H + 76, L = H + 356, O = H + 376,
// F = H + 380. Growing the page area sets the file length to exactly
// F + N * PageSize; anything behind the last page is cut away.
//
// Last object id: little-endian int32, 0 in a new file; GetNextObjectID
// adds 1 (wrapping) and stores the result under the lock on its first byte.
// Its first byte is also that lock's target.
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

// Database header at H.
//
// Stored form (little-endian, packed), 76 bytes:
// | offset | size | type    | meaning                                      |
// |      0 |   16 | char[]  | Signature: "0RBELLE-DATABASE", no terminator |
// |     16 |    2 | int16   | HeaderSize: 76; the crypto header follows at |
// |        |      |         | H + HeaderSize                               |
// |     18 |    8 | float64 | Version: IEEE 754 double; 7.92 in a file the |
// |        |      |         | engine creates, kept as read otherwise;      |
// |        |      |         | below 2.99 the file needs repair             |
// |     26 |    2 | uint16  | PageSize: bytes per page; must exceed 40     |
// |     28 |    2 | uint16  | PageCountInExtent: pages per extent; not 0   |
// |     30 |    4 | int32   | TotalPageCount: pages in the page area; 0 in |
// |        |      |         | a new file                                   |
// |     34 |    4 | int32   | LastUsedPageNo: highest page in use; -1 in a |
// |        |      |         | new file                                     |
// |     38 |    4 | int32   | State: commit counter, + 1 (wrapping) for    |
// |        |      |         | every commit; 0 in a new file                |
// |     42 |    1 | uint8   | WriteChangesState: 2 consistent, 1 a commit  |
// |        |      |         | is writing pages (or the file was left so)   |
// |     43 |    1 | uint8   | Encrypted: 0xFF with a non-empty password,   |
// |        |      |         | else 0; any non-zero value means encrypted   |
// |     44 |   32 | bytes   | Reserved: zero                               |
//
// Once created, read and rewritten only under the header lock (see
// TORBDiskPageManager).
// Opening refuses (20237) a PageSize of 40 or less, a PageCountInExtent of
// 0, a negative TotalPageCount and a LastUsedPageNo below -1.
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

// Crypto header at C: the encryption control block that lets an open reject
// a wrong password before any page is read.
//
// Stored form (little-endian, packed), 280 bytes:
// | offset | size | type   | meaning                                       |
// |      0 |    2 | int16  | CryptoHeaderSize: 280; C + CryptoHeaderSize   |
// |        |      |        | must equal L, else 20237                      |
// |      2 |    1 | uint8  | CryptoAlgorithm: TORBCryptoAlgorithm of an    |
// |        |      |        | encrypted database; 0 otherwise. On open it   |
// |        |      |        | replaces the algorithm the caller asked for   |
// |      3 |    1 | uint8  | CryptoMode: 0                                 |
// |      4 |  256 | bytes  | ControlBlock: encrypted database: 256 random  |
// |        |      |        | bytes (each 0..254), stored encrypted with    |
// |        |      |        | the password (TORBCipher chaining); else zero |
// |    260 |    4 | uint32 | ControlBlockCRC: CRC32(0, plain control       |
// |        |      |        | block); 0 when not encrypted                  |
// |    264 |   16 | bytes  | Reserverd: zero                               |
//
// In memory the control block is held plain; SaveCryptoHeader encrypts a
// copy. Opening decrypts it and compares its CRC32 with ControlBlockCRC
// (30445 "Cannot open database - incorrect password" on a mismatch).
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

// Lock bytes at L. Their contents are written once, at creation; two of
// them are targets of byte-range locks (kTablesByteOffset,
// kDBHeaderByteOffset), never written again.
//
// Stored form (little-endian, packed), 20 bytes:
// | offset | size | type  | meaning                                        |
// |      0 |    2 | int16 | LockedByteSize: 20; the last object id follows |
// |        |      |       | at L + LockedByteSize; must exceed 4 (20237)   |
// |      2 |    1 | uint8 | FSMByte: 0; reserved lock target, never locked |
// |      3 |    1 | uint8 | TablesByte: 0; locked while the set of tables  |
// |        |      |       | changes (LockTables)                           |
// |      4 |    1 | uint8 | DBHeaderByte: 0; the header lock               |
// |        |      |       | (LockDBHeader)                                 |
// |      5 |   15 | bytes | Reserved: zero                                 |
//
// Opening reads only LockedByteSize.
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
