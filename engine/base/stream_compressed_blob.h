#pragma once

// Compressed BLOB storage: one BLOB's content presented as a plain seekable
// stream, stored as a chain of independently compressed, checksummed blocks
// in an underlying stream.
//
// Stored form (any algorithm but acaNone), from StartPosition: NumBlocks
// blocks, each a 20-byte header (TORBCompressedStreamBlockHeader) followed
// by CompressedSize bytes of the codec's output; the next header lies
// OffsetToNextHeader bytes after this one (the writer stores
// 20 + CompressedSize, so blocks are back to back). Block i holds content
// bytes [i * BlockSize, (i + 1) * BlockSize); every block but the last is
// full. With acaNone the stored form is the content itself,
// UncompressedSize bytes from StartPosition, with no headers.
//
// A reader accepts a header only when CompressedSize > 0, its codec output
// lies inside the underlying stream, 0 < UncompressedSize <= BlockSize (and
// = BlockSize on every block but the last), and 20 + CompressedSize <=
// OffsetToNextHeader <= the bytes left from the header on; otherwise the
// open fails (10082, 10083 or 10088). Opened for repair, the block list
// ends instead just before the first header that fails or has fewer than
// 20 bytes left, or just after the first block shorter than BlockSize.

#include <cstdint>
#include <vector>

#include "engine/base/compression.h"
#include "engine/base/stream.h"
#include "engine/base/stream_memory.h"

namespace orb {

// Parameters a compressed BLOB stream is opened with; callers fill it from
// the field definition and from what they stored.
//
// Stored form (little-endian, packed), 32 bytes:
// | offset | size | type   | meaning                                       |
// |      0 |    4 | int32  | BlockSize: content bytes per block; 0 while   |
// |        |      |        | nothing is stored picks                       |
// |        |      |        | InternalGetBlockSize(CompressionMode)         |
// |      4 |    8 | int64  | NumBlocks: blocks stored (0 with acaNone)     |
// |     12 |    8 | int64  | UncompressedSize: content length              |
// |     20 |    8 | int64  | StartPosition: where the stored form begins   |
// |        |      |        | in the underlying stream                      |
// |     28 |    1 | uint8  | CompressionAlgorithm: TORBCompressionAlgorithm|
// |     29 |    1 | uint8  | CompressionMode: codec level                  |
// |     30 |    2 | uint16 | Reserved: zero                                |
struct TORBBLOBDescriptor {
  static constexpr size_t kSize = 32;

  int32_t BlockSize = 0;
  int64_t NumBlocks = 0;
  int64_t UncompressedSize = 0;
  int64_t StartPosition = 0;
  TORBCompressionAlgorithm CompressionAlgorithm = acaNone;
  uint8_t CompressionMode = 0;
  uint16_t Reserved = 0;

  void SaveTo(uint8_t* out) const;
  static TORBBLOBDescriptor LoadFrom(const uint8_t* in);
};

// Stored in front of a BLOB's stored form by in-memory and temporary
// tables.
//
// Stored form (little-endian, packed), 12 bytes:
// | offset | size | type  | meaning                                        |
// |      0 |    4 | int32 | NumBlocks: blocks of the stored form           |
// |      4 |    8 | int64 | UncompressedSize: content length               |
struct TORBPartialBLOBDescriptor {
  static constexpr size_t kSize = 12;

  int32_t NumBlocks = 0;
  int64_t UncompressedSize = 0;

  void SaveTo(uint8_t* out) const;
  static TORBPartialBLOBDescriptor LoadFrom(const uint8_t* in);
};

// Accompanies direct BLOB data transfers between table data objects.
//
// Stored form (little-endian, packed), 20 bytes:
// | offset | size | type  | meaning                                        |
// |      0 |    4 | int32 | NumBlocks: blocks of the stored form           |
// |      4 |    8 | int64 | UncompressedSize: content length               |
// |     12 |    8 | int64 | CompressedSize: bytes of the stored form       |
struct TORBPartialTemporaryBLOBDescriptor {
  static constexpr size_t kSize = 20;

  int32_t NumBlocks = 0;
  int64_t UncompressedSize = 0;
  int64_t CompressedSize = 0;

  void SaveTo(uint8_t* out) const;
  static TORBPartialTemporaryBLOBDescriptor LoadFrom(const uint8_t* in);
};

// Header in front of each stored block.
//
// Stored form (little-endian, packed), 20 bytes:
// | offset | size | type   | meaning                                       |
// |      0 |    4 | int32  | CompressedSize: codec bytes after the header  |
// |      4 |    4 | int32  | UncompressedSize: bytes the block decodes to  |
// |      8 |    4 | uint32 | Crc32: CRC32(0, decoded bytes), no final      |
// |        |      |        | inversion                                     |
// |     12 |    8 | int64  | OffsetToNextHeader: from this header's first  |
// |        |      |        | byte to the next header's; written as         |
// |        |      |        | 20 + CompressedSize                           |
struct TORBCompressedStreamBlockHeader {
  static constexpr size_t kSize = 20;

  int32_t CompressedSize = 0;    // codec bytes after the header
  int32_t UncompressedSize = 0;  // bytes the block decodes to
  uint32_t Crc32 = 0;            // CRC32 of the decoded bytes, from 0
  int64_t OffsetToNextHeader = 0;

  void SaveTo(uint8_t* out) const;
  static TORBCompressedStreamBlockHeader LoadFrom(const uint8_t* in);
};

// Block headers with the position of each in the underlying stream.
class TORBCompressedStreamBlockHeadersArray {
 public:
  void AppendItem(const TORBCompressedStreamBlockHeader& header, int64_t position);
  void SetItemCount(int64_t count);
  int64_t ItemCount() const { return static_cast<int64_t>(FItems.size()); }
  TORBCompressedStreamBlockHeader& Items(int64_t index) { return FItems[static_cast<size_t>(index)]; }
  const TORBCompressedStreamBlockHeader& Items(int64_t index) const { return FItems[static_cast<size_t>(index)]; }
  int64_t Positions(int64_t index) const { return FPositions[static_cast<size_t>(index)]; }

 private:
  std::vector<TORBCompressedStreamBlockHeader> FItems;
  std::vector<int64_t> FPositions;
};

// Block size for a new compressed stream given none: by codec level.
int32_t InternalGetBlockSize(uint8_t mode);

class TORBCompressedBLOBStream : public TORBStream {
 public:
  // Opens the BLOB described by `descriptor` in `stream` (not owned). A new
  // BLOB (`to_create`) starts empty. With `to_repair` a stored form shorter
  // than described, or a damaged header, ends the block list at the last
  // sound block instead of failing.
  TORBCompressedBLOBStream(TStream& stream, const TORBBLOBDescriptor& descriptor, bool to_create, bool to_repair);

  // Reads from the current position; fails on a damaged block (10086 to
  // 10089) without returning any of its bytes.
  int64_t Read(void* buffer, int64_t count) override;
  // Appends at the end; at a position before the end nothing is written and
  // 0 is returned; a position past the end is first filled with zeros.
  int64_t Write(const void* buffer, int64_t count) override;
  // Positions may go past the end; negative ones become 0.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t new_size) override;
  int64_t GetSize() override { return FUncompressedSize; }

  // Size of the underlying stream.
  int64_t GetCompressedSize() { return FCompressedStream.GetSize(); }
  // Percent saved by compression.
  double GetCompressionRate();

  // The descriptor, with BlockSize, NumBlocks and UncompressedSize current.
  const TORBBLOBDescriptor& BLOBDescriptor() const { return FBLOBDescriptor; }
  const TORBCompressedStreamBlockHeadersArray& Headers() const { return FHeaders; }

 private:
  bool Compressed() const { return FCompressionAlgorithm != acaNone; }
  void InternalCreate(bool to_create);
  void LoadHeaders();
  void PrepareBufferForWriting(const uint8_t* data, int32_t size, TORBCompressedStreamBlockHeader& header,
                               std::vector<uint8_t>& out);
  void LoadBlock(int64_t index, std::vector<uint8_t>& data);
  void InternalIncreaseSize(int64_t new_size);
  void InternalDecreaseSize(int64_t new_size);
  void InternalSetSize(int64_t new_size);
  void InternalWriteBeyondEOF();
  void InternalWriteBlock(int64_t index, const uint8_t* data, int32_t size, int64_t header_position);
  int64_t InternalWritePrepare();
  void CalculateRate();
  void SyncDescriptor();

  bool FRepair;
  TORBCompressedStreamBlockHeadersArray FHeaders;
  int64_t FUncompressedSize = 0;
  int64_t FCompressedSize = 0;
  int64_t FStartPosition = 0;
  int32_t FCurrentHeader = 0;
  int64_t FPosition = 0;
  uint8_t FCompressionMode;
  TORBCompressionAlgorithm FCompressionAlgorithm;
  double FCompressionRate = 0;
  TStream& FCompressedStream;
  TORBBLOBDescriptor FBLOBDescriptor;
};

// A BLOB value's stream over a private copy of its stored form: reads
// decompress from the copy, writes go to the copy (and mark the stream
// modified); the owner stores the copy's bytes back if it wants them.
class TORBOwnedBLOBStream : public TORBStream {
 public:
  // `stored_form` is adopted, not copied.
  TORBOwnedBLOBStream(std::vector<uint8_t> stored_form, const TORBBLOBDescriptor& descriptor, bool to_create)
      : FStorage(std::move(stored_form)), FBLOB(FStorage, descriptor, to_create, false), FCreated(to_create) {}
  int64_t Read(void* buffer, int64_t count) override { return FBLOB.Read(buffer, count); }
  int64_t Write(const void* buffer, int64_t count) override {
    SetModified(true);
    return FBLOB.Write(buffer, count);
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FBLOB.Seek(offset, origin); }
  void SetSize(int64_t new_size) override {
    SetModified(true);
    FBLOB.SetSize(new_size);
  }
  int64_t GetSize() override { return FBLOB.GetSize(); }

  // True when the stored form is exactly what compressing the content from
  // offset 0 with `layout`'s algorithm, level and block size gives, so an
  // owner may keep these bytes instead of compressing the content again.
  // That holds for a stream created empty (every block in the copy was
  // encoded here, from the content, back to back from offset 0) whose
  // layout matches; a stream over a value stored earlier may hold blocks
  // of another writer and never qualifies.
  bool HasStoredFormOf(const TORBBLOBDescriptor& layout);
  // The stored form: StoredSize() bytes from StoredData(); its block count
  // and content size are in BLOBDescriptor().
  const uint8_t* StoredData() const { return FStorage.Memory(); }
  int64_t StoredSize() { return FStorage.GetSize(); }
  const TORBBLOBDescriptor& BLOBDescriptor() const { return FBLOB.BLOBDescriptor(); }

 private:
  TORBMemoryStream FStorage;
  TORBCompressedBLOBStream FBLOB;
  bool FCreated;
};

}  // namespace orb
