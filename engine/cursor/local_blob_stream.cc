#include "engine/cursor/local_blob_stream.h"

#include "engine/base/orb_exception.h"

namespace orb {

namespace {
constexpr std::string_view kMsgReadOnlyStream = "Cannot write to read only stream";
}

TORBLocalBLOBStream::TORBLocalBLOBStream(TORBCursor* cursor, int32_t field_no, TORBBLOBOpenMode open_mode,
                                         std::unique_ptr<TStream> temporary_stream, uint8_t* record_buffer)
    : FOpenMode(open_mode),
      FTemporaryStream(std::move(temporary_stream)),
      FFieldNo(field_no),
      FCursor(cursor),
      FRecordBuffer(record_buffer) {}

TORBLocalBLOBStream::~TORBLocalBLOBStream() = default;

int64_t TORBLocalBLOBStream::Read(void* buffer, int64_t count) { return FTemporaryStream->Read(buffer, count); }

int64_t TORBLocalBLOBStream::Write(const void* buffer, int64_t count) {
  if (FOpenMode == bomRead) RaiseORB(kErrBLOBWriteReadOnly, kMsgReadOnlyStream);
  SetModified(true);
  return FTemporaryStream->Write(buffer, count);
}

int64_t TORBLocalBLOBStream::Seek(int64_t offset, TSeekOrigin origin) {
  return FTemporaryStream->Seek(offset, origin);
}

void TORBLocalBLOBStream::SetSize(int64_t new_size) {
  if (FOpenMode == bomRead) RaiseORB(kErrBLOBSetSizeReadOnly, kMsgReadOnlyStream);
  SetModified(true);
  FTemporaryStream->SetSize(new_size);
}

int64_t TORBLocalBLOBStream::GetSize() { return FTemporaryStream->GetSize(); }

}  // namespace orb
