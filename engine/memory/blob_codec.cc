#include "engine/memory/blob_codec.h"

#include <cstring>

#include "engine/base/orb_exception.h"
#include "engine/base/stream_memory.h"

namespace orb {

namespace {

TORBBLOBDescriptor FieldDescriptor(const TORBFieldDef& field) {
  if (field.FBLOBBlockSize == 0) RaiseORB(kErrBlobBlockSizeZero, kMsgStreamBlockSizeZero);
  TORBBLOBDescriptor descriptor;
  descriptor.BlockSize = field.FBLOBBlockSize;
  descriptor.CompressionAlgorithm = field.FBLOBCompressionAlgorithm;
  descriptor.CompressionMode = field.FBLOBCompressionMode;
  return descriptor;
}

}  // namespace

bool IsBlobField(const TORBFieldDef& field) {
  return field.FBaseFieldType == bftBlob || field.FBaseFieldType == bftClob || field.FBaseFieldType == bftWideClob;
}

TORBStoredBLOB CompressBLOB(const TORBFieldDef& field, TStream& source) {
  TORBMemoryStream storage;
  TORBCompressedBLOBStream blob(storage, FieldDescriptor(field), true, false);
  source.SetPosition(0);
  std::vector<uint8_t> chunk(64 * 1024);
  for (;;) {
    const int64_t read = source.Read(chunk.data(), static_cast<int64_t>(chunk.size()));
    if (read <= 0) break;
    SaveDataToStream(chunk.data(), read, blob, 10145);
  }
  TORBStoredBLOB stored;
  stored.Descriptor.NumBlocks = static_cast<int32_t>(blob.BLOBDescriptor().NumBlocks);
  stored.Descriptor.UncompressedSize = blob.GetSize();
  const int64_t size = storage.GetSize();
  stored.StoredForm.assign(storage.Memory(), storage.Memory() + size);
  return stored;
}

std::unique_ptr<TStream> OpenBLOBStream(const TORBFieldDef& field, const TORBStoredBLOB* stored) {
  TORBBLOBDescriptor descriptor = FieldDescriptor(field);
  if (stored == nullptr) return std::make_unique<TORBOwnedBLOBStream>(std::vector<uint8_t>{}, descriptor, true);
  descriptor.NumBlocks = stored->Descriptor.NumBlocks;
  descriptor.UncompressedSize = stored->Descriptor.UncompressedSize;
  return std::make_unique<TORBOwnedBLOBStream>(stored->StoredForm, descriptor, false);
}

std::vector<uint8_t> PackDirectBLOB(const TORBPartialBLOBDescriptor& descriptor, const uint8_t* stored_form,
                                    int64_t size) {
  std::vector<uint8_t> data(TORBPartialTemporaryBLOBDescriptor::kSize + static_cast<size_t>(size));
  TORBPartialTemporaryBLOBDescriptor head;
  head.NumBlocks = descriptor.NumBlocks;
  head.UncompressedSize = descriptor.UncompressedSize;
  head.CompressedSize = size;
  head.SaveTo(data.data());
  if (size > 0) std::memcpy(data.data() + TORBPartialTemporaryBLOBDescriptor::kSize, stored_form, static_cast<size_t>(size));
  return data;
}

bool UnpackDirectBLOB(const std::vector<uint8_t>& data, TORBStoredBLOB& stored) {
  if (data.empty()) return false;
  constexpr size_t kHead = TORBPartialTemporaryBLOBDescriptor::kSize;
  const int64_t available = static_cast<int64_t>(data.size()) - static_cast<int64_t>(kHead);
  TORBPartialTemporaryBLOBDescriptor head;
  if (available >= 0) head = TORBPartialTemporaryBLOBDescriptor::LoadFrom(data.data());
  if (available < 0 || head.CompressedSize != available || head.UncompressedSize < 0 || head.NumBlocks < 0)
    RaiseORB(kErrDirectBlobDataSize, "Invalid direct BLOB data. Size = %d", {static_cast<long long>(data.size())});
  if (head.UncompressedSize == 0) return false;
  stored.Descriptor.NumBlocks = head.NumBlocks;
  stored.Descriptor.UncompressedSize = head.UncompressedSize;
  stored.StoredForm.assign(data.begin() + kHead, data.end());
  return true;
}

}  // namespace orb
