#include "engine/base/stream_compressed_blob.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"
#include "engine/base/crc32.h"

namespace orb {

namespace {

constexpr const char* kMsgCompressFailed = "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d";
constexpr const char* kMsgDecompressFailed = "Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d";
constexpr const char* kMsgDecompressSize = "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d";
constexpr const char* kMsgDecompressChecksum = "Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d";
constexpr const char* kMsgErrorWriting = "Error writing to stream";
constexpr const char* kMsgInvalidExtension =
    "Invalid extension size. NewSize = %d, UncompressedSize = %d, ExtensionSize = %d";

constexpr int64_t kHeaderSize = static_cast<int64_t>(TORBCompressedStreamBlockHeader::kSize);

}  // namespace

void TORBBLOBDescriptor::SaveTo(uint8_t* out) const {
  StoreI32LE(out, BlockSize);
  StoreI64LE(out + 4, NumBlocks);
  StoreI64LE(out + 12, UncompressedSize);
  StoreI64LE(out + 20, StartPosition);
  StoreU8(out + 28, CompressionAlgorithm);
  StoreU8(out + 29, CompressionMode);
  StoreU16LE(out + 30, Reserved);
}

TORBBLOBDescriptor TORBBLOBDescriptor::LoadFrom(const uint8_t* in) {
  TORBBLOBDescriptor d;
  d.BlockSize = LoadI32LE(in);
  d.NumBlocks = LoadI64LE(in + 4);
  d.UncompressedSize = LoadI64LE(in + 12);
  d.StartPosition = LoadI64LE(in + 20);
  d.CompressionAlgorithm = static_cast<TORBCompressionAlgorithm>(LoadU8(in + 28));
  d.CompressionMode = LoadU8(in + 29);
  d.Reserved = LoadU16LE(in + 30);
  return d;
}

void TORBPartialBLOBDescriptor::SaveTo(uint8_t* out) const {
  StoreI32LE(out, NumBlocks);
  StoreI64LE(out + 4, UncompressedSize);
}

TORBPartialBLOBDescriptor TORBPartialBLOBDescriptor::LoadFrom(const uint8_t* in) {
  TORBPartialBLOBDescriptor d;
  d.NumBlocks = LoadI32LE(in);
  d.UncompressedSize = LoadI64LE(in + 4);
  return d;
}

void TORBPartialTemporaryBLOBDescriptor::SaveTo(uint8_t* out) const {
  StoreI32LE(out, NumBlocks);
  StoreI64LE(out + 4, UncompressedSize);
  StoreI64LE(out + 12, CompressedSize);
}

TORBPartialTemporaryBLOBDescriptor TORBPartialTemporaryBLOBDescriptor::LoadFrom(const uint8_t* in) {
  TORBPartialTemporaryBLOBDescriptor d;
  d.NumBlocks = LoadI32LE(in);
  d.UncompressedSize = LoadI64LE(in + 4);
  d.CompressedSize = LoadI64LE(in + 12);
  return d;
}

void TORBCompressedStreamBlockHeader::SaveTo(uint8_t* out) const {
  StoreI32LE(out, CompressedSize);
  StoreI32LE(out + 4, UncompressedSize);
  StoreU32LE(out + 8, Crc32);
  StoreI64LE(out + 12, OffsetToNextHeader);
}

TORBCompressedStreamBlockHeader TORBCompressedStreamBlockHeader::LoadFrom(const uint8_t* in) {
  TORBCompressedStreamBlockHeader h;
  h.CompressedSize = LoadI32LE(in);
  h.UncompressedSize = LoadI32LE(in + 4);
  h.Crc32 = LoadU32LE(in + 8);
  h.OffsetToNextHeader = LoadI64LE(in + 12);
  return h;
}

void TORBCompressedStreamBlockHeadersArray::AppendItem(const TORBCompressedStreamBlockHeader& header,
                                                       int64_t position) {
  FItems.push_back(header);
  FPositions.push_back(position);
}

void TORBCompressedStreamBlockHeadersArray::SetItemCount(int64_t count) {
  const auto n = static_cast<size_t>(std::clamp<int64_t>(count, 0, ItemCount()));
  FItems.resize(n);
  FPositions.resize(n);
}

int32_t InternalGetBlockSize(uint8_t mode) {
  if (mode == 0) return DefaultBLOBBlockSize;
  if (mode <= 3) return BlockSizeForFastest;
  if (mode <= 6) return BlockSizeForNormal;
  return BlockSizeForMax;
}

TORBCompressedBLOBStream::TORBCompressedBLOBStream(TStream& stream, const TORBBLOBDescriptor& descriptor,
                                                   bool to_create, bool to_repair)
    : FRepair(to_repair),
      FCompressionMode(descriptor.CompressionMode),
      FCompressionAlgorithm(descriptor.CompressionAlgorithm),
      FCompressedStream(stream),
      FBLOBDescriptor(descriptor) {
  FBlockSize = descriptor.BlockSize;
  FStartPosition = descriptor.StartPosition;
  SetStreamPosition(FCompressedStream, FStartPosition, 10103);
  if (!Compressed()) {
    if (!to_create) {
      const int64_t available = FCompressedStream.GetSize() - FStartPosition;
      int64_t size = descriptor.UncompressedSize;
      if (size < 0 || size > available) {
        // The stated size may be anything up to 2^63 - 1: saturate the end.
        const int64_t end = size > std::numeric_limits<int64_t>::max() - FStartPosition
                                ? std::numeric_limits<int64_t>::max()
                                : FStartPosition + size;
        if (!FRepair) RaiseORB(10081, kMsgStreamTooSmall, {FCompressedStream.GetSize(), end});
        size = std::clamp<int64_t>(size, 0, available);
      }
      FUncompressedSize = size;
    }
    FCompressedSize = FUncompressedSize;
    FBLOBDescriptor.NumBlocks = 0;
    SyncDescriptor();
    return;
  }
  InternalCreate(to_create);
}

void TORBCompressedBLOBStream::InternalCreate(bool to_create) {
  if (to_create) {
    FBLOBDescriptor.NumBlocks = 0;
    if (FBlockSize <= 0) FBlockSize = InternalGetBlockSize(FCompressionMode);
  } else if (FBlockSize <= 0 && FBLOBDescriptor.NumBlocks <= 0) {
    // Nothing stored yet: the block size is free to choose.
    FBlockSize = InternalGetBlockSize(FCompressionMode);
  } else if (FBlockSize <= 0) {
    // Stored blocks were cut at a size this descriptor lost; a repair
    // cannot guess it, and every later write would divide by it.
    RaiseORB(kErrBLOBBlockSize, "Invalid BLOB block size. BlockSize = %d, NumBlocks = %d",
             {FBlockSize, FBLOBDescriptor.NumBlocks});
  }
  LoadHeaders();
  // The blocks must decode to the size the descriptor states; a repair
  // keeps what the sound blocks hold.
  if (!to_create && !FRepair && FUncompressedSize != FBLOBDescriptor.UncompressedSize) {
    RaiseORB(kErrBLOBSizeMismatch, "BLOB size mismatch. UncompressedSize = %d, Blocks hold %d",
             {FBLOBDescriptor.UncompressedSize, FUncompressedSize});
  }
  FPosition = 0;
  FCurrentHeader = 0;
  SyncDescriptor();
  CalculateRate();
}

// Reads and checks every header. Sizes and offsets from the stream are
// checked against the stream's length and the block layout before use, so
// a damaged stored form can neither drive an allocation nor a read.
void TORBCompressedBLOBStream::LoadHeaders() {
  const int64_t size = FCompressedStream.GetSize();
  if (FCompressedStream.GetPosition() != FStartPosition) {
    RaiseORB(10080, kMsgCannotSetStreamPosition, {FStartPosition, FCompressedStream.GetPosition(), size});
  }
  const int64_t count = FBLOBDescriptor.NumBlocks;
  if (count < 0 && !FRepair) RaiseORB(10082, kMsgStreamTooSmall, {size, FStartPosition});
  int64_t position = FStartPosition;
  for (int64_t i = 0; i < count; ++i) {
    if (size - position < kHeaderSize) {
      if (FRepair) break;
      RaiseORB(10082, kMsgStreamTooSmall, {size, position + kHeaderSize});
    }
    uint8_t raw[TORBCompressedStreamBlockHeader::kSize];
    LoadDataFromStream(raw, kHeaderSize, FCompressedStream, 10082);
    const TORBCompressedStreamBlockHeader h = TORBCompressedStreamBlockHeader::LoadFrom(raw);
    const int64_t data_end = position + kHeaderSize + h.CompressedSize;
    if (h.CompressedSize <= 0 || data_end > size) {
      if (FRepair) break;
      RaiseORB(10082, kMsgStreamTooSmall, {size, data_end});
    }
    const bool last = i == count - 1;
    // Every block but the last holds exactly BlockSize bytes.
    const bool size_ok = h.UncompressedSize > 0 && h.UncompressedSize <= FBlockSize;
    if (!size_ok || (!last && h.UncompressedSize != FBlockSize && !FRepair)) {
      if (FRepair) break;
      RaiseORB(10088, kMsgDecompressSize, {static_cast<int64_t>(FBlockSize), h.UncompressedSize});
    }
    if (h.OffsetToNextHeader < kHeaderSize + h.CompressedSize || h.OffsetToNextHeader > size - position) {
      if (FRepair) break;
      RaiseORB(10083, kMsgCannotSetStreamPosition,
               {position + std::min<int64_t>(h.OffsetToNextHeader, size), position, size});
    }
    FHeaders.AppendItem(h, position);
    FUncompressedSize += h.UncompressedSize;
    FCompressedSize += h.CompressedSize;
    position += h.OffsetToNextHeader;
    // A short block ends what a repair can keep.
    if (h.UncompressedSize != FBlockSize) break;
    if (!last) SetStreamPosition(FCompressedStream, position, 10083);
  }
  FBLOBDescriptor.NumBlocks = FHeaders.ItemCount();
}

void TORBCompressedBLOBStream::SyncDescriptor() {
  FBLOBDescriptor.BlockSize = FBlockSize;
  if (Compressed()) FBLOBDescriptor.NumBlocks = FHeaders.ItemCount();
  FBLOBDescriptor.UncompressedSize = FUncompressedSize;
}

void TORBCompressedBLOBStream::CalculateRate() {
  if (Compressed() && FUncompressedSize > 0) {
    FCompressedSize = 0;
    for (int64_t i = 0; i < FHeaders.ItemCount(); ++i) FCompressedSize += FHeaders.Items(i).CompressedSize;
    FCompressionRate = (1.0 - static_cast<double>(FCompressedSize) / static_cast<double>(FUncompressedSize)) * 100.0;
  } else {
    FCompressedSize = FUncompressedSize;
    FCompressionRate = 0;
  }
}

double TORBCompressedBLOBStream::GetCompressionRate() {
  CalculateRate();
  return FCompressionRate;
}

void TORBCompressedBLOBStream::LoadBlock(int64_t index, std::vector<uint8_t>& data) {
  const TORBCompressedStreamBlockHeader& h = FHeaders.Items(index);
  FCurrentHeader = static_cast<int32_t>(index);
  std::vector<uint8_t> packed(static_cast<size_t>(h.CompressedSize));
  SetStreamPosition(FCompressedStream, FHeaders.Positions(index) + kHeaderSize, 10086);
  LoadDataFromStream(packed.data(), h.CompressedSize, FCompressedStream, 10086);
  int64_t out_size = h.UncompressedSize;
  if (!ORBInternalDecompressBuffer(FCompressionAlgorithm, packed.data(), h.CompressedSize, data, out_size)) {
    RaiseORB(10087, kMsgDecompressFailed,
             {static_cast<int>(FCompressionAlgorithm), h.CompressedSize, h.UncompressedSize});
  }
  if (out_size != h.UncompressedSize) {
    data.clear();
    RaiseORB(10088, kMsgDecompressSize, {out_size, h.UncompressedSize});
  }
  const uint32_t crc = CRC32(0, data.data(), data.size());
  if (crc != h.Crc32) {
    data.clear();
    RaiseORB(10089, kMsgDecompressChecksum, {crc, h.Crc32});
  }
}

int64_t TORBCompressedBLOBStream::Read(void* buffer, int64_t count) {
  if (count < 1 || FPosition < 0 || FPosition >= FUncompressedSize) return 0;
  if (!Compressed()) {
    SetStreamPosition(FCompressedStream, FStartPosition + FPosition, 10079);
    const int64_t read = FCompressedStream.Read(buffer, std::min(count, FUncompressedSize - FPosition));
    FPosition = FCompressedStream.GetPosition() - FStartPosition;
    return read;
  }
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  std::vector<uint8_t> block;
  while (done < count && FPosition < FUncompressedSize) {
    const int64_t index = FPosition / FBlockSize;
    const int64_t offset = FPosition % FBlockSize;
    LoadBlock(index, block);
    const int64_t n = std::min({static_cast<int64_t>(block.size()) - offset, count - done, FUncompressedSize - FPosition});
    if (n <= 0) break;
    std::memcpy(out + done, block.data() + offset, static_cast<size_t>(n));
    done += n;
    FPosition += n;
  }
  return done;
}

void TORBCompressedBLOBStream::PrepareBufferForWriting(const uint8_t* data, int32_t size,
                                                       TORBCompressedStreamBlockHeader& header,
                                                       std::vector<uint8_t>& out) {
  header.UncompressedSize = size;
  header.Crc32 = CRC32(0, data, static_cast<size_t>(size));
  if (!ORBInternalCompressBuffer(FCompressionAlgorithm, FCompressionMode, data, size, out) ||
      out.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() - kHeaderSize)) {
    RaiseORB(10085, kMsgCompressFailed,
             {static_cast<int>(FCompressionAlgorithm), static_cast<int>(FCompressionMode), size, out.size()});
  }
  header.CompressedSize = static_cast<int32_t>(out.size());
  header.OffsetToNextHeader = kHeaderSize + header.CompressedSize;
}

void TORBCompressedBLOBStream::InternalWriteBlock(int64_t index, const uint8_t* data, int32_t size,
                                                  int64_t header_position) {
  TORBCompressedStreamBlockHeader h;
  std::vector<uint8_t> packed;
  PrepareBufferForWriting(data, size, h, packed);
  SetStreamPosition(FCompressedStream, header_position, 10099);
  uint8_t raw[TORBCompressedStreamBlockHeader::kSize];
  h.SaveTo(raw);
  SaveDataToStream(raw, kHeaderSize, FCompressedStream, 10100);
  SaveDataToStream(packed.data(), h.CompressedSize, FCompressedStream, 10101);
  if (index == FHeaders.ItemCount()) {
    FHeaders.AppendItem(h, header_position);
  } else {
    FHeaders.Items(index) = h;
  }
  FCurrentHeader = static_cast<int32_t>(index);
}

int64_t TORBCompressedBLOBStream::InternalWritePrepare() {
  const int64_t n = FHeaders.ItemCount();
  const int64_t next = n == 0 ? FStartPosition : FHeaders.Positions(n - 1) + FHeaders.Items(n - 1).OffsetToNextHeader;
  SetStreamPosition(FCompressedStream, next, 10102);
  return next;
}

void TORBCompressedBLOBStream::InternalWriteBeyondEOF() {
  const int64_t target = FPosition;
  InternalSetSize(target);
  FPosition = target;
  if (FPosition != FUncompressedSize) {
    RaiseORB(10091, kMsgCannotSetStreamPosition, {target, FPosition, FUncompressedSize});
  }
  if (FUncompressedSize != target) RaiseORB(10092, kMsgInvalidStreamSize, {FUncompressedSize, target});
}

int64_t TORBCompressedBLOBStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (!Compressed()) {
    SetStreamPosition(FCompressedStream, FStartPosition + FPosition, 10079);
    const int64_t written = FCompressedStream.Write(buffer, count);
    FPosition = FCompressedStream.GetPosition() - FStartPosition;
    FUncompressedSize = FCompressedStream.GetSize() - FStartPosition;
    FModified = true;
    SyncDescriptor();
    CalculateRate();
    return written;
  }
  if (FPosition < FUncompressedSize) return 0;
  if (FPosition > FUncompressedSize) InternalWriteBeyondEOF();
  const auto* src = static_cast<const uint8_t*>(buffer);
  int64_t remaining = count;
  FModified = true;

  const int64_t partial = FUncompressedSize % FBlockSize;
  if (FHeaders.ItemCount() > 0 && partial > 0) {
    const int64_t last = FHeaders.ItemCount() - 1;
    std::vector<uint8_t> block;
    LoadBlock(last, block);
    const int64_t n = std::min<int64_t>(remaining, FBlockSize - partial);
    block.insert(block.end(), src, src + n);
    InternalWriteBlock(last, block.data(), static_cast<int32_t>(block.size()), FHeaders.Positions(last));
    src += n;
    remaining -= n;
    FUncompressedSize += n;
    FPosition += n;
  }
  if (remaining > 0) {
    int64_t position = InternalWritePrepare();
    while (remaining > 0) {
      const auto n = static_cast<int32_t>(std::min<int64_t>(remaining, FBlockSize));
      const int64_t index = FHeaders.ItemCount();
      InternalWriteBlock(index, src, n, position);
      position += FHeaders.Items(index).OffsetToNextHeader;
      src += n;
      remaining -= n;
      FUncompressedSize += n;
      FPosition += n;
    }
  }
  SyncDescriptor();
  CalculateRate();
  return count;
}

int64_t TORBCompressedBLOBStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t target = offset;
  if (origin == soCurrent) target += FPosition;
  if (origin == soEnd) target += FUncompressedSize;
  if (target < 0) target = 0;
  if (!Compressed()) {
    FPosition = FCompressedStream.Seek(FStartPosition + target, soBeginning) - FStartPosition;
  } else {
    FPosition = target;
  }
  return FPosition;
}

void TORBCompressedBLOBStream::InternalIncreaseSize(int64_t new_size) {
  const int64_t extension = new_size - FUncompressedSize;
  if (extension < 0) RaiseORB(10098, kMsgInvalidExtension, {new_size, FUncompressedSize, extension});
  const int64_t saved = FPosition;
  FPosition = FUncompressedSize;
  std::vector<uint8_t> zeros(static_cast<size_t>(std::min<int64_t>(extension, FBlockSize)), 0);
  int64_t left = extension;
  while (left > 0) {
    // The first piece completes a partial last block, so later pieces are
    // whole blocks.
    const int64_t room = FBlockSize - FUncompressedSize % FBlockSize;
    const int64_t n = std::min<int64_t>({left, room, static_cast<int64_t>(zeros.size())});
    const int64_t position = FPosition;
    const int64_t written = Write(zeros.data(), n);
    if (written != n) RaiseORB(10097, kMsgCannotWriteToStream, {position, FUncompressedSize, n, written});
    left -= n;
  }
  FPosition = saved;
}

void TORBCompressedBLOBStream::InternalDecreaseSize(int64_t new_size) {
  const int64_t keep = new_size / FBlockSize;
  const auto rest = static_cast<int32_t>(new_size % FBlockSize);
  if (rest == 0) {
    FHeaders.SetItemCount(keep);
    return;
  }
  std::vector<uint8_t> block;
  LoadBlock(keep, block);
  TORBCompressedStreamBlockHeader h;
  std::vector<uint8_t> packed;
  PrepareBufferForWriting(block.data(), rest, h, packed);
  const int64_t position = FHeaders.Positions(keep);
  FCompressedStream.SetSize(position);
  if (FCompressedStream.GetSize() != position) {
    RaiseORB(10093, kMsgInvalidStreamSize, {FCompressedStream.GetSize(), position});
  }
  SetStreamPosition(FCompressedStream, position, 10094);
  FHeaders.SetItemCount(keep);
  uint8_t raw[TORBCompressedStreamBlockHeader::kSize];
  h.SaveTo(raw);
  if (FCompressedStream.Write(raw, kHeaderSize) != kHeaderSize) RaiseORB(10095, kMsgErrorWriting);
  if (FCompressedStream.Write(packed.data(), h.CompressedSize) != h.CompressedSize) RaiseORB(10096, kMsgErrorWriting);
  FHeaders.AppendItem(h, position);
}

void TORBCompressedBLOBStream::InternalSetSize(int64_t new_size) {
  if (new_size < 0) RaiseORB(10098, kMsgInvalidExtension, {new_size, FUncompressedSize, new_size - FUncompressedSize});
  if (!Compressed()) {
    FCompressedStream.SetSize(FStartPosition + new_size);
    FUncompressedSize = std::max<int64_t>(FCompressedStream.GetSize() - FStartPosition, 0);
  } else if (new_size > FUncompressedSize) {
    InternalIncreaseSize(new_size);
  } else if (new_size < FUncompressedSize) {
    InternalDecreaseSize(new_size);
    FUncompressedSize = new_size;
  }
  FModified = true;
  SyncDescriptor();
  CalculateRate();
  if (FPosition > FUncompressedSize) FPosition = FUncompressedSize;
}

void TORBCompressedBLOBStream::SetSize(int64_t new_size) { InternalSetSize(new_size); }

bool TORBOwnedBLOBStream::HasStoredFormOf(const TORBBLOBDescriptor& layout) {
  const TORBBLOBDescriptor& own = FBLOB.BLOBDescriptor();
  if (!FCreated || own.StartPosition != 0 || own.CompressionAlgorithm != layout.CompressionAlgorithm) return false;
  if (layout.CompressionAlgorithm == acaNone) return StoredSize() == own.UncompressedSize;
  const int32_t block_size = layout.BlockSize > 0 ? layout.BlockSize : InternalGetBlockSize(layout.CompressionMode);
  if (own.CompressionMode != layout.CompressionMode || own.BlockSize != block_size) return false;
  // A shrink to a block boundary drops headers but leaves their bytes in
  // the copy: only a copy that ends with the last block is the stored form.
  const TORBCompressedStreamBlockHeadersArray& headers = FBLOB.Headers();
  const int64_t n = headers.ItemCount();
  const int64_t end = n == 0 ? 0 : headers.Positions(n - 1) + headers.Items(n - 1).OffsetToNextHeader;
  return StoredSize() == end;
}

}  // namespace orb
