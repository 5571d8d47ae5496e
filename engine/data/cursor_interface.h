#pragma once

// What the table data reads from and writes to a cursor: its session, its
// record buffers, its position, its order and the restrictions of its view.
// The cursor implements it; the table data keeps per-cursor state only here.

#include <cstdint>
#include <string>

#include "engine/base/page_item_id.h"

namespace orb {

class TORBExpression;
class TORBRecordBitmap;
struct TORBIndexPositionCache;

// A saved cursor position.
struct TORBCursorPosition {
  bool FirstPosition = true;
  bool LastPosition = false;
  TORBPageItemID RecordID{};
};

class TORBCursorInterface {
 public:
  TORBCursorInterface() = default;
  virtual ~TORBCursorInterface() = default;
  TORBCursorInterface(const TORBCursorInterface&) = delete;
  TORBCursorInterface& operator=(const TORBCursorInterface&) = delete;

  virtual int32_t GetSessionID() const = 0;
  // The cursor's changes are held back: the session works inside an
  // explicit transaction (its page changes are applied or cancelled by the
  // session's commit or rollback), or the cursor is in a batch update (they
  // are applied or cancelled when the batch ends).
  virtual bool InTransaction() const = 0;
  virtual const std::u16string& GetTableName() const = 0;
  // A cursor of the SQL engine or a temporary table: its indexes are
  // temporary and imply no constraints.
  virtual bool IsTemporary() const = 0;
  // A temporary table created through this cursor keeps all it holds in
  // memory, never in a temporary file.
  virtual bool GetDisableTempFiles() const { return false; }

  // Record buffers: the one the next operation reads or writes (set by the
  // caller), the record as it was when editing began, and the scratch
  // buffer of distinct navigation (null when none).
  virtual uint8_t* GetCurrentRecordBuffer() const = 0;
  virtual void SetCurrentRecordBuffer(uint8_t* buffer) = 0;
  virtual uint8_t* GetEditRecordBuffer() const = 0;
  virtual void SetEditRecordBuffer(uint8_t* buffer) = 0;
  virtual uint8_t* GetDistinctRecordBuffer() const = 0;
  virtual void SetDistinctRecordBuffer(uint8_t* buffer) = 0;
  // Record geometry, told by the table data when the table opens.
  virtual void SetRecordBufferSize(int32_t size) = 0;
  virtual void SetFieldValuesOffset(int32_t offset) = 0;

  // Position.
  virtual TORBPageItemID GetCurrentRecordID() const = 0;
  virtual void SetCurrentRecordID(const TORBPageItemID& record_id) = 0;
  virtual bool GetFirstPosition() const = 0;
  virtual void SetFirstPosition(bool value) = 0;
  virtual bool GetLastPosition() const = 0;
  virtual void SetLastPosition(bool value) = 0;

  // Order: object ID of the active index, -1 for physical order.
  virtual int32_t GetIndexID() const = 0;

  // Range bounds: key buffers (null = open) compared over their key field
  // count, excluding equal keys when exclusive.
  virtual const uint8_t* GetRangeStartBuffer() const = 0;
  virtual const uint8_t* GetRangeEndBuffer() const = 0;
  virtual int32_t GetRangeStartKeyFieldCount() const = 0;
  virtual int32_t GetRangeEndKeyFieldCount() const = 0;
  virtual bool GetRangeStartExclusive() const = 0;
  virtual bool GetRangeEndExclusive() const = 0;

  // Filters: the parsed filter and the SQL engine's filter (null when
  // none), and the host dataset's record filter. The expressions read
  // whatever buffer is the current record buffer when they are evaluated
  // (the table data points it at scratch buffers while it searches).
  virtual TORBExpression* GetFilterExpression() const = 0;
  virtual TORBExpression* GetSQLFilterExpression() const = 0;
  virtual bool HasRecordFilter() const = 0;
  // REQUIRES: HasRecordFilter().
  virtual bool FilterRecord(const uint8_t* record_buffer) = 0;

  // Number of leading index columns of the distinct set; 0 = no distinct.
  virtual int32_t GetDistinctFieldCount() const = 0;

  virtual TORBRecordBitmap* GetRecordBitmap() const = 0;
  virtual TORBIndexPositionCache* GetIndexPositionCache() const = 0;

  // Helpers over the above.
  TORBCursorPosition SavePosition() const { return {GetFirstPosition(), GetLastPosition(), GetCurrentRecordID()}; }
  void RestorePosition(const TORBCursorPosition& position) {
    SetFirstPosition(position.FirstPosition);
    SetLastPosition(position.LastPosition);
    SetCurrentRecordID(position.RecordID);
  }
  bool IsRangeApplied() const { return GetRangeStartBuffer() != nullptr || GetRangeEndBuffer() != nullptr; }
  bool IsDistinctApplied() const { return GetDistinctFieldCount() > 0; }
  bool IsFilterApplied() const {
    return GetFilterExpression() != nullptr || GetSQLFilterExpression() != nullptr || HasRecordFilter();
  }
  // A filter, range or distinct hides records: the view is restricted.
  bool IsViewRestricted() const { return IsFilterApplied() || IsRangeApplied() || IsDistinctApplied(); }
};

}  // namespace orb
