#pragma once

// One open BLOB field of a cursor: the field's value as a stream made by
// the table data, read and written through this object. The cursor owns
// it; the holder (the dataset's stream) is told when the cursor closes it.

#include <cstdint>
#include <memory>

#include "engine/base/stream.h"

namespace orb {

class TORBCursor;

inline constexpr int32_t kErrBLOBWriteReadOnly = 10115;
inline constexpr int32_t kErrBLOBSetSizeReadOnly = 10116;

enum TORBBLOBOpenMode : uint8_t { bomWrite = 0, bomRead = 1, bomReadWrite = 2 };

// What holds a cursor's BLOB stream on the user's side.
class TORBBLOBStreamHolder {
 public:
  virtual ~TORBBLOBStreamHolder() = default;
  // The cursor closed the stream (cancel, post, close): drop it.
  virtual void BLOBStreamClosed() = 0;
};

class TORBLocalBLOBStream : public TORBStream {
 public:
  // `record_buffer`: the buffer the field belongs to (borrowed).
  TORBLocalBLOBStream(TORBCursor* cursor, int32_t field_no, TORBBLOBOpenMode open_mode,
                      std::unique_ptr<TStream> temporary_stream, uint8_t* record_buffer);
  ~TORBLocalBLOBStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  // bomRead raises 10115.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // bomRead raises 10116.
  void SetSize(int64_t new_size) override;
  int64_t GetSize() override;

  bool IsForWriting() const { return FOpenMode != bomRead; }
  TORBBLOBOpenMode OpenMode() const { return FOpenMode; }
  int32_t FieldNo() const { return FFieldNo; }
  TORBCursor* Cursor() const { return FCursor; }
  TStream& TemporaryStream() { return *FTemporaryStream; }
  uint8_t* RecordBuffer() const { return FRecordBuffer; }
  void ForgetRecordBuffer() { FRecordBuffer = nullptr; }

  TORBBLOBStreamHolder* FUserBLOBStream = nullptr;

 private:
  TORBBLOBOpenMode FOpenMode;
  std::unique_ptr<TStream> FTemporaryStream;
  int32_t FFieldNo;
  TORBCursor* FCursor;
  uint8_t* FRecordBuffer;
};

}  // namespace orb
