#pragma once

// TORBBLOBStream: the framework's BLOB stream of one field of a
// TORBDataSet record, forwarding to a BLOB stream of the dataset's cursor.
// Writing needs edit or insert state; a write stream starts empty. When it
// ends, the cursor stream is closed (a written value goes into the record
// buffer) and a change is announced for the field.

#include <cstdint>

#include "components/db_common.h"
#include "engine/base/stream.h"
#include "engine/cursor/local_blob_stream.h"

namespace orb {

class TField;
class TORBDataSet;

class TORBBLOBStream : public TStream, public TORBBLOBStreamHolder {
 public:
  // Raises 10106 (a change on a read-only dataset), 10108 (no cursor) and
  // 10111 (a change outside edit or insert state).
  TORBBLOBStream(TORBDataSet& data_set, TField& field, TBlobStreamMode mode);
  ~TORBBLOBStream() override;
  TORBBLOBStream(const TORBBLOBStream&) = delete;
  TORBBLOBStream& operator=(const TORBBLOBStream&) = delete;

  // Without a cursor stream these read nothing and change nothing.
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t new_size) override;
  int64_t GetSize() override;

  bool HasCursorStream() const { return FCursorStream != nullptr; }
  void BLOBStreamClosed() override { FCursorStream = nullptr; }

 private:
  TORBDataSet& FDataSet;
  TField& FField;
  TORBLocalBLOBStream* FCursorStream = nullptr;
  bool FModified = false;
};

}  // namespace orb
