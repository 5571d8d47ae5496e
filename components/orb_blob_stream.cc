#include "components/orb_blob_stream.h"

#include "components/field.h"
#include "components/orb_dataset.h"
#include "engine/base/orb_exception.h"

namespace orb {

TORBBLOBStream::TORBBLOBStream(TORBDataSet& data_set, TField& field, TBlobStreamMode mode)
    : FDataSet(data_set), FField(field) {
  if (mode != bmRead && data_set.ReadOnly()) RaiseORB(10106, "Dataset is in read only mode");
  TORBLocalCursor& cursor = data_set.CheckedHandle(10108);
  const TORBBLOBOpenMode open_mode = mode == bmRead ? bomRead : mode == bmWrite ? bomWrite : bomReadWrite;
  const TDataSetState state = data_set.State();
  if (mode != bmRead && state != dsEdit && state != dsInsert) RaiseORB(10111, std::string(kSNotEditing));
  const int32_t field_no = field.FieldNo() - 1;
  uint8_t* record = data_set.FieldRecordBuffer();
  if (record != nullptr) {
    const TORBCursorPosition position = cursor.SaveCursorPosition();
    uint8_t* saved_buffer = cursor.GetCurrentRecordBuffer();
    cursor.SetCurrentRecordBuffer(record);
    if (cursor.GetBookmarkFlag(record) == bfCurrent) {
      cursor.SetCurrentRecordID(cursor.GetBookmark(record));
      cursor.SetFirstPosition(false);
      cursor.SetLastPosition(false);
    }
    try {
      FCursorStream = cursor.InternalCreateBlobStream(state == dsInsert, state == dsEdit, field_no, open_mode,
                                                      state == dsBrowse);
    } catch (...) {
      cursor.RestoreCursorPosition(position);
      cursor.SetCurrentRecordBuffer(saved_buffer);
      throw;
    }
    cursor.RestoreCursorPosition(position);
    cursor.SetCurrentRecordBuffer(saved_buffer);
  } else {
    FCursorStream = cursor.InternalCreateBlobStream(true, false, field_no, open_mode, false);
  }
  if (FCursorStream == nullptr) return;
  FCursorStream->FUserBLOBStream = this;
  if (mode == bmWrite && FCursorStream->GetSize() != 0) {
    FCursorStream->SetSize(0);
    FModified = true;
  }
}

TORBBLOBStream::~TORBBLOBStream() {
  if (FCursorStream != nullptr) {
    TORBLocalBLOBStream* stream = FCursorStream;
    FCursorStream = nullptr;
    stream->FUserBLOBStream = nullptr;
    try {
      FDataSet.CloseCursorStream(stream);
    } catch (...) {
    }
  }
  if (!FModified) return;
  try {
    FDataSet.DataEvent(deFieldChange, &FField);
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}

int64_t TORBBLOBStream::Read(void* buffer, int64_t count) {
  return FCursorStream != nullptr ? FCursorStream->Read(buffer, count) : 0;
}

int64_t TORBBLOBStream::Write(const void* buffer, int64_t count) {
  if (FCursorStream == nullptr) return 0;
  const int64_t written = FCursorStream->Write(buffer, count);
  if (written > 0) FModified = true;
  return written;
}

int64_t TORBBLOBStream::Seek(int64_t offset, TSeekOrigin origin) {
  return FCursorStream != nullptr ? FCursorStream->Seek(offset, origin) : 0;
}

void TORBBLOBStream::SetSize(int64_t new_size) {
  if (FCursorStream == nullptr) return;
  const int64_t old_size = FCursorStream->GetSize();
  FCursorStream->SetSize(new_size);
  if (FCursorStream->GetSize() != old_size) FModified = true;
}

int64_t TORBBLOBStream::GetSize() { return FCursorStream != nullptr ? FCursorStream->GetSize() : 0; }

}  // namespace orb
