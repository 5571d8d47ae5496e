#pragma once

// Shared vocabulary of the dataset framework: dataset states, fetch modes,
// bookmark flags, notification kinds, option sets, the framework's message
// texts and the helpers that raise EDatabaseError with them.

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/cursor/cursor.h"  // TORBBookmarkFlag
#include "engine/platform/dataset_error.h"
#include "engine/platform/format.h"
#include "engine/platform/text_case.h"  // SameName: names compare without case

namespace orb {

// What a dataset is doing; decides which record buffer the fields read and
// write (see TDataSet).
enum TDataSetState : uint8_t {
  dsInactive,      // closed
  dsBrowse,        // open, positioned, not editing
  dsEdit,          // the active record is being changed
  dsInsert,        // a new record is being entered
  dsSetKey,        // a search key or range bound is being edited
  dsCalcFields,    // OnCalcFields is running on the calculation buffer
  dsFilter,        // OnFilterRecord (or a search) reads the filter buffer
  dsNewValue,      // reading or writing the new values of a record
  dsOldValue,      // reading the values a record had before the edit
  dsCurValue,      // reading the stored values
  dsBlockRead,     // moving without notifying the controls
  dsInternalCalc,  // internal calculated fields
  dsOpening,       // asynchronous open in progress
};

// States in which field values may be written, and the editing states a
// data link reports as "editing".
bool IsWriteState(TDataSetState state);
bool IsEditState(TDataSetState state);  // edit, insert, set key

enum TGetMode : uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : uint8_t { grOK, grBOF, grEOF, grError };

// Where a record buffer stands: a fetched record, the crack before the
// first or after the last record (an appended record), or a record not yet
// stored.
// The framework uses the cursor's own flags (bfCurrent, bfBOF, bfEOF,
// bfInserted), so an engine dataset stores them unchanged.
using TBookmarkFlag = TORBBookmarkFlag;

// Notifications from a dataset to its data sources and links.
enum TDataEvent : uint8_t {
  deFieldChange,      // field: the field whose value changed
  deRecordChange,     // the active record's values changed (edit began)
  deDataSetChange,    // the buffers were refilled
  deDataSetScroll,    // distance: how far the buffers scrolled
  deLayoutChange,     // the field list changed
  deUpdateRecord,     // controls must write their pending text
  deUpdateState,      // the state changed
  deCheckBrowseMode,  // before leaving an editing state
  dePropertyChange,   // definitions became stale
  deFieldListChange,  // fields were added or removed
  deDisabledStateChange,
};

enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc };

enum TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };

// Answer of an OnPostError / OnDeleteError / OnEditError handler.
enum TDataAction : uint8_t { daFail, daAbort, daRetry };

// Locate options (bit set).
using TLocateOptions = uint8_t;
inline constexpr TLocateOptions loCaseInsensitive = 1;
inline constexpr TLocateOptions loPartialKey = 2;

// Filter options (bit set).
using TFilterOptions = uint8_t;
inline constexpr TFilterOptions foCaseInsensitive = 1;
inline constexpr TFilterOptions foNoPartialCompare = 2;

// Resync modes (bit set): rmExact requires the current record to be found
// again, rmCenter puts it in the middle of the buffer window.
using TResyncMode = uint8_t;
inline constexpr TResyncMode rmExact = 1;
inline constexpr TResyncMode rmCenter = 2;

// A bookmark: the dataset's own bytes identifying a record; empty = none.
using TBookmark = std::vector<uint8_t>;

// The silent exception: an operation abandoned on purpose (a handler
// answering daAbort, a confirmation declined). Shown to nobody.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};
[[noreturn]] inline void Abort() { throw EAbort(); }

// The application's exception handler: where an exception goes that an
// event handler raised and the framework must not pass on (a filter
// handler, for one). The window installs one that shows the message; the
// default does nothing. EAbort is never passed to it.
using TExceptionHandler = std::function<void(std::exception_ptr error)>;
// Installs `handler` and returns the one installed before.
TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler handler);
void HandleApplicationException(std::exception_ptr error);

// Message texts of the framework's EDatabaseError.
inline constexpr std::string_view kSDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr std::string_view kSDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr std::string_view kSDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr std::string_view kSDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr std::string_view kSNotEditing = "Dataset not in edit or insert mode";
inline constexpr std::string_view kSRecordNotFound = "Record not found";
inline constexpr std::string_view kSBookmarkNotFound = "Bookmark not found";
inline constexpr std::string_view kSCircularDataLink = "Circular datalinks are not allowed";
inline constexpr std::string_view kSFieldNotFound = "Field '%s' not found";
inline constexpr std::string_view kSDuplicateFieldName = "Duplicate field name '%s'";
inline constexpr std::string_view kSFieldRequired = "Field '%s' must have a value";
inline constexpr std::string_view kSFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr std::string_view kSFieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr std::string_view kSFieldTypeMismatch = "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr std::string_view kSFieldIndexError = "Field index out of range";
inline constexpr std::string_view kSInvalidIntegerValue = "'%s' is not a valid integer value for field '%s'";
inline constexpr std::string_view kSInvalidFloatValue = "'%s' is not a valid floating point value for field '%s'";
inline constexpr std::string_view kSInvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
inline constexpr std::string_view kSInvalidDateTimeValue = "'%s' is not a valid date and time for field '%s'";
inline constexpr std::string_view kSFieldRangeError = "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr std::string_view kSDataSetMissing = "Field '%s' has no dataset";
inline constexpr std::string_view kSFieldNameMissing = "Field name missing";
inline constexpr std::string_view kSCalcFieldNotPersistent = "Field '%s' cannot be a calculated or lookup field";
inline constexpr std::string_view kSLookupInfoError = "Lookup information for field '%s' is incomplete";
inline constexpr std::string_view kSIndexNotFound = "Index '%s' not found";
inline constexpr std::string_view kSDuplicateIndexName = "Duplicate index name '%s'";
inline constexpr std::string_view kSNoIndexForFields = "No index for fields '%s'";
inline constexpr std::string_view kSNoFieldIndexes = "No index currently active";
inline constexpr std::string_view kSParameterNotFound = "Parameter '%s' not found";
inline constexpr std::string_view kSKeyValueCount = "Number of key values (%d) does not match the number of key fields (%d)";
inline constexpr std::string_view kSInvalidBookmark = "Invalid bookmark";

// Raises EDatabaseError with `fmt` filled from `args`; names held in the
// code page go in through Ansi(). A format that does not fit its arguments
// is raised as it is.
[[noreturn]] void DatabaseErrorFmt(std::string_view fmt, const FormatArgs& args);

// Splits a field list "a;b; c" (also with ',') into names, dropping blanks
// around them and empty entries.
std::vector<std::string> SplitFieldNames(std::string_view names);

}  // namespace orb
