#pragma once

// Error codes the engine raises beyond its catalogue.
//
// The catalogue numbers every raise site of the engine in three series
// (10000-10515, 20001-20303, 30001-30506, and 2011, 2156). Checks that this
// implementation adds, where the catalogue has none, get a code of their own
// here, with their message: none reuses a catalogue code, and each names one
// check. A check made at several places with one message (the same test of
// the same input) keeps one code, as catalogue codes shared by two sites
// do. Add every new code to kAddedErrorCodes too; a test checks the list.

#include <cstdint>
#include <span>

namespace orb {

// Values and record layout.
// A default value that does not convert to its field's type.
inline constexpr int32_t kErrDefaultValueType = 10433;
// SetFieldData: no record buffer.
inline constexpr int32_t kErrSetFieldNoRecord = 10434;
// SetFieldData: the field does not lie inside the record.
inline constexpr int32_t kErrSetFieldBounds = 10435;
// A last-value block of auto-increment values that does not fit its buffer.
inline constexpr int32_t kErrMostUpdatedBlock = 10436;
// A field number without a last value in UpdateLastAutoinc/GetLastAutoinc.
inline constexpr int32_t kErrAutoincFieldNoUpdate = 10437;
// An integer array index out of bounds.
inline constexpr int32_t kErrIntegerArrayIndex = 10438;
// A field size that cannot be laid out for its type.
inline constexpr int32_t kErrInvalidFieldSize = 30053;
// A date or time value outside the representable range.
inline constexpr int32_t kErrDateTimeRange = 30055;
// A record of 2 GiB or more.
inline constexpr int32_t kErrRecordTooLarge = 30056;
// An arithmetic result that does not fit its type.
inline constexpr int32_t kErrNumericOverflow = 30122;
// Date arithmetic whose result falls outside 0001-01-01 to 9999-12-31.
inline constexpr int32_t kErrDateArithmeticRange = 30610;

// Stored names.
// A constraint name longer than a one-byte length can hold.
inline constexpr int32_t kErrConstraintNameTooLong = 30600;
// An index column name longer than a one-byte length can hold.
inline constexpr int32_t kErrIndexColumnNameTooLong = 30601;
// SetFieldData by field definitions: no record buffer.
inline constexpr int32_t kErrSetFieldDefsNoRecord = 30604;

// Expressions.
// A subquery where no SELECT machinery is available.
inline constexpr int32_t kErrSubqueryUnavailable = 30602;
// A function that needs a database table where none is available.
inline constexpr int32_t kErrTableFunctionUnavailable = 30603;
// An expression nested deeper than the parser allows.
inline constexpr int32_t kErrExpressionTooDeep = 30620;
// Text read with a date format that has characters the format leaves over.
inline constexpr int32_t kErrDateTextNotConsumed = 30621;

// The database file.
// An internal-file page chain that ends early or loops.
inline constexpr int32_t kErrInternalFileChain = 20154;
// An internal-file header whose sizes or algorithm are impossible.
inline constexpr int32_t kErrInternalFileHeader = 30390;
// A table name longer than a one-byte length can hold.
inline constexpr int32_t kErrTableNameTooLong = 30394;
// Writing the last object id when the id bytes are set up.
inline constexpr int32_t kErrInitObjectIDWrite = 30406;
// Growing the database file on a drive without room for the new pages.
inline constexpr int32_t kErrDiskFull = 30640;
// Allocating or freeing a page of a database file opened for reading only.
inline constexpr int32_t kErrReadOnlyAllocation = 30641;
// A read-only open of a database whose rollback journal holds an
// unfinished commit that only a writer can roll back.
inline constexpr int32_t kErrJournalReadOnly = 30645;
// Creating, writing, flushing, emptying or removing the rollback journal.
inline constexpr int32_t kErrJournalWrite = 30646;
// Opening or reading a rollback journal that exists.
inline constexpr int32_t kErrJournalRead = 30647;

// The integrity checker.
// The database header lock stays taken by others for all the retries.
inline constexpr int32_t kErrCheckDatabaseLocked = 30800;
// A file without the database signature.
inline constexpr int32_t kErrCheckSignature = 30801;
// An encrypted database whose control block does not decrypt with the
// password given.
inline constexpr int32_t kErrCheckPassword = 30802;

// The orbdb tool and its files.
// A file that a command would create already exists.
inline constexpr int32_t kErrFileExists = 30630;
// A packed BLOB file whose stored form does not end where the file ends.
inline constexpr int32_t kErrPackedFileSize = 30633;
// Output that cannot be written through to an existing FIFO or device.
inline constexpr int32_t kErrOutputWrite = 30634;
// An input (a pipe, a device) that fails while it is read to its end.
inline constexpr int32_t kErrInputRead = 30635;
// A dump that read another number of rows than the table counts.
inline constexpr int32_t kErrDumpIncomplete = 30636;
// A write refused because the file is marked as needing repair.
inline constexpr int32_t kErrFileNeedsRepair = 30637;

// Compressed BLOB streams.
// Blocks that add up to another size than the descriptor states.
inline constexpr int32_t kErrBLOBSizeMismatch = 30631;
// A descriptor with stored blocks and no positive block size.
inline constexpr int32_t kErrBLOBBlockSize = 30632;

// Multi-user locking.
// An active sessions file whose size leaves no session slot.
inline constexpr int32_t kErrSessionsFileSize = 30710;
// A table locks file too small for one session.
inline constexpr int32_t kErrLocksFileSize = 30711;
// A session id outside the lock manager's slots.
inline constexpr int32_t kErrLockSessionID = 30712;
// A session slot outside the active sessions file.
inline constexpr int32_t kErrSessionSlot = 30713;
// A lock type value outside TORBLockType.
inline constexpr int32_t kErrLockType = 30714;
// A maximum session count that no lock file can be created for.
inline constexpr int32_t kErrMaxSessionCount = 30715;

// B-tree pages and page indexes.
// A tree whose entry size does not allow three entries on a page.
inline constexpr int32_t kErrBTreeEntryTooLarge = 30650;
// A tree that would grow, or is found, deeper than a key path holds.
inline constexpr int32_t kErrBTreeTooDeep = 30651;
// A key path whose bitmap record number does not fit 63 bits.
inline constexpr int32_t kErrBitmapRecNoOverflow = 30652;
// A bitmap record number that no key path maps to.
inline constexpr int32_t kErrBitmapRecNoInvalid = 30653;
// A B-tree page whose header values do not fit its page.
inline constexpr int32_t kErrBTreePageDamaged = 30654;
// Reading the entry at a key path without levels or outside its leaf.
inline constexpr int32_t kErrKeyPathEntry = 30655;
// Bulk-loaded entries that are not in ascending order.
inline constexpr int32_t kErrBulkLoadOrder = 30656;
// Bulk loading into a tree that is not empty.
inline constexpr int32_t kErrBulkLoadNotEmpty = 30657;
// A page index value that does not fit 16 bits, or a negative one.
inline constexpr int32_t kErrPageIndexValueRange = 30658;

// Table data: bit arrays, record bitmaps and record changes.
// A bits array with more bits or set bits than its stored form can count.
inline constexpr int32_t kErrBitsArrayTooLarge = 30670;
// A bits array stream whose bit count is negative.
inline constexpr int32_t kErrBitsArrayStoredCount = 30671;
// A bits array stream whose set-bit count disagrees with its bits.
inline constexpr int32_t kErrBitsArrayStoredSetCount = 30672;
// A negative size given to a bits array.
inline constexpr int32_t kErrBitsArraySize = 30673;
// A table data whose engine gives no object for an index definition.
inline constexpr int32_t kErrNoIndexObject = 30674;
// A record bitmap asked for a record number outside its set bits.
inline constexpr int32_t kErrBitmapRecNo = 30675;
// A key search asked of a table data whose engine has no key search.
inline constexpr int32_t kErrKeySearchUnavailable = 30676;

// Disk database data and sessions.
// Creating table data of a disk database before its tables are available.
inline constexpr int32_t kErrDiskTableDataUnavailable = 30820;
// Repairing the tables of a disk database before its tables are available.
inline constexpr int32_t kErrDiskTableRepairUnavailable = 30821;
// Disk tables.
// A table operation that needs the table's managers on a closed table.
inline constexpr int32_t kErrDiskTableNotOpen = 30850;
// Direct BLOB data whose length disagrees with its descriptor.
inline constexpr int32_t kErrDiskDirectBlobData = 30851;
// A temporary index page written after it was freed.
inline constexpr int32_t kErrDiskTemporaryPageMissing = 30852;
// A row change that cannot take its table write lock in multi-user mode.
inline constexpr int32_t kErrDiskTableWriteLocked = 30853;
// The integrity check asked to change the file it only reads.
inline constexpr int32_t kErrCheckReadOnly = 30855;
// A table's metadata that ends before its record and BLOB index roots.
inline constexpr int32_t kErrDiskTableMetadataShort = 30856;
// A BLOB value read (stream or direct data) that cannot take the table's
// read lock in multi-user mode.
inline constexpr int32_t kErrDiskBlobReadLocked = 30857;
// Using the in-memory or temporary database before its engine is installed.
inline constexpr int32_t kErrEngineUnavailable = 30822;
// A session operation that needs a connected session.
inline constexpr int32_t kErrSessionNotConnected = 30823;
// An operation on a disk database that is not open.
inline constexpr int32_t kErrDatabaseNotOpen = 30824;
// A page size or extent size for a new database outside its stored range.
inline constexpr int32_t kErrDatabaseSizeRange = 30825;
// A database file name that is empty or cannot be resolved to one path.
inline constexpr int32_t kErrDatabaseFileName = 30826;
// Releasing every lock of a leaving session failed (some stay recorded).
inline constexpr int32_t kErrReleaseSessionLocks = 30827;
// After a commit or rollback a row-locked table could not keep its ltSIRW.
inline constexpr int32_t kErrClearTransactionLocks = 30828;

// Disk record and BLOB storage.
// A row added to a table whose row count the most-updated file cannot hold.
inline constexpr int32_t kErrTableRowCountLimit = 30760;
// The record manager's part of the table metadata cannot be read / written.
inline constexpr int32_t kErrRecordMetadataRead = 30761;
inline constexpr int32_t kErrRecordMetadataWrite = 30762;
// The BLOB manager's part of the table metadata cannot be read / written.
inline constexpr int32_t kErrBlobMetadataRead = 30763;
inline constexpr int32_t kErrBlobMetadataWrite = 30764;
// A small BLOB page whose entry count or entry sizes leave the page.
inline constexpr int32_t kErrSmallBlobPageDamaged = 30765;
// A large BLOB whose header, link or page list is out of range.
inline constexpr int32_t kErrLargeBlobDamaged = 30766;
// A record or BLOB location whose page is not a page of the table.
inline constexpr int32_t kErrRecordPageOfOtherTable = 30767;
// A BLOB value's stored bytes cannot be written to / read from a stream.
inline constexpr int32_t kErrBlobCopyWrite = 30768;
inline constexpr int32_t kErrBlobCopyRead = 30769;

// Record indexes.
// A unique or primary index asked to insert a key it holds already.
inline constexpr int32_t kErrIndexDuplicateKey = 30740;
// A unique or primary index built over records with equal keys.
inline constexpr int32_t kErrIndexBuildDuplicateKey = 30741;
// A record index operation without a code of its own on an index without
// root page.
inline constexpr int32_t kErrIndexNoRootPage = 30742;

// In-memory and temporary tables.
// A temporary table's index page file that cannot be read or written whole.
inline constexpr int32_t kErrTemporaryPageIO = 30780;
// A rollback of changes an in-memory table has already applied.
inline constexpr int32_t kErrMemoryRollback = 30781;
// A temporary table's index page file that cannot be extended.
inline constexpr int32_t kErrTemporaryPageExtend = 30782;
// Direct BLOB data whose length disagrees with its descriptor.
inline constexpr int32_t kErrDirectBlobDataSize = 30783;
// A record's BLOB field naming a value the in-memory table no longer holds.
inline constexpr int32_t kErrMemoryBlobMissing = 30784;
// A temporary table's BLOB entry running past the end of its BLOB file.
inline constexpr int32_t kErrTemporaryBlobEntry = 30785;
// A seek in a temporary table's index page file that did not land.
inline constexpr int32_t kErrTemporaryPageSeek = 30786;
// A cursor whose session is not connected to a database.
inline constexpr int32_t kErrCursorNoDatabase = 30870;
// A cursor operation that needs an open table on a closed cursor.
inline constexpr int32_t kErrCursorNotOpen = 30871;
// Closing a BLOB stream that is not open on the cursor.
inline constexpr int32_t kErrBLOBStreamNotOpen = 30872;
// Ending a batch update whose table cannot be write-locked to apply it.
inline constexpr int32_t kErrBatchApplyLocked = 30980;
// Changes refused on a read-only table or database (one code for each
// operation): a process that found the file in use by others, or a file
// it may not write, takes nothing but reads.
inline constexpr int32_t kErrPostReadOnly = 30890;
inline constexpr int32_t kErrDeleteReadOnly = 30891;
inline constexpr int32_t kErrCreateTableReadOnly = 30892;
inline constexpr int32_t kErrDeleteTableReadOnly = 30893;
inline constexpr int32_t kErrEmptyTableReadOnly = 30894;
inline constexpr int32_t kErrRenameTableReadOnly = 30895;
inline constexpr int32_t kErrRenameFieldReadOnly = 30896;
inline constexpr int32_t kErrAddIndexReadOnly = 30897;
inline constexpr int32_t kErrDeleteIndexReadOnly = 30898;
inline constexpr int32_t kErrDeleteAllIndexesReadOnly = 30899;

// Database components.
// A database maintenance operation (compact, repair, truncate, password or
// settings change, executable database) before it is available.
inline constexpr int32_t kErrMaintenanceUnavailable = 30900;
// Deleting a database file failed (held open by someone, or the system
// refused).
inline constexpr int32_t kErrDeleteDatabaseFile = 30901;
// Renaming a database file failed (held open, target exists, or the system
// refused).
inline constexpr int32_t kErrRenameDatabaseFile = 30902;
// A provider operation of a dataset that this build cannot carry out (a
// statement before the query component exists).
inline constexpr int32_t kErrProviderNotSupported = 30910;

// SQL statements.
// START TRANSACTION while the session's transaction is open.
inline constexpr int32_t kErrSQLTransactionActive = 31100;
// A statement kind the SQL processor recognises but cannot run yet.
inline constexpr int32_t kErrSQLNotSupported = 31101;
// INSERT naming a column its table does not have.
inline constexpr int32_t kErrSQLInsertFieldNotFound = 31102;

struct TORBAddedErrorCode {
  int32_t Code;
  const char* Message;
};

// Every code above with its message (the format text of its raise site).
inline constexpr TORBAddedErrorCode kAddedErrorCodes[] = {
    {kErrDefaultValueType, "Default value of field '%s' cannot be converted to %s"},
    {kErrSetFieldNoRecord, "Nil pointer occured"},
    {kErrSetFieldBounds, "Error setting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d"},
    {kErrMostUpdatedBlock, "Invalid auto-increment values block. Offset = %d, Count = %d, Buffer size = %d"},
    {kErrAutoincFieldNoUpdate, "Field #%d not found"},
    {kErrIntegerArrayIndex, "Index %d out of bounds, ItemCount = %d"},
    {kErrInvalidFieldSize, "Invalid size %d for field type '%s'"},
    {kErrDateTimeRange, "Date value out of range: %g"},
    {kErrRecordTooLarge, "Record size exceeds %d bytes"},
    {kErrNumericOverflow, "Numeric overflow in operator '%s'"},
    {kErrDateArithmeticRange, "Date out of range 0001-01-01 to 9999-12-31 in operator '%s'"},
    {kErrConstraintNameTooLong, "Constraint name '%s' is too long: %d bytes, at most %d allowed"},
    {kErrIndexColumnNameTooLong, "Index column name '%s' is too long: %d bytes, at most %d allowed"},
    {kErrSubqueryUnavailable, "Subqueries are not available in this context"},
    {kErrTableFunctionUnavailable, "Function '%s' needs a database table, which is not available here"},
    {kErrExpressionTooDeep, "Expression is nested too deeply. Maximum depth is %d at line %d, column %d"},
    {kErrDateTextNotConsumed, "Text '%s' does not match the date format: '%s' is left over"},
    {kErrSetFieldDefsNoRecord, "Nil pointer occured"},
    {kErrInternalFileChain,
     "Error getting %d-th internal file page. Probably database is corrupted and needs repair. FileSize=%d"},
    {kErrInternalFileHeader,
     "Invalid internal file header. Probably database is corrupted and needs repair. StartPageNo=%d, "
     "StoredSize=%d, Size=%d, Algorithm=%d"},
    {kErrTableNameTooLong, "Table name '%s' is too long. Maximum length is %d bytes"},
    {kErrInitObjectIDWrite, "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, ErrorCode:%d. ErrorMessage: %s"},
    {kErrDiskFull,
     "There is not enough free space on drive to extend the database file '%s' to %d bytes. ErrorCode:%d. "
     "ErrorMessage: %s"},
    {kErrReadOnlyAllocation, "Database file '%s' is opened read-only: page %d cannot be allocated or freed"},
    {kErrJournalReadOnly,
     "Database file '%s' has an unfinished commit in its rollback journal and cannot be opened read-only"},
    {kErrJournalWrite, "Cannot write the rollback journal '%s'. Error code: %d. ErrorMessage: %s"},
    {kErrJournalRead, "Cannot read the rollback journal '%s'. Error code: %d. ErrorMessage: %s"},
    {kErrCheckDatabaseLocked, "Database is locked"},
    {kErrCheckSignature, "Invalid file format. Found signature: '%s', expected: '%s'"},
    {kErrCheckPassword, "Cannot open database - incorrect password"},
    {kErrFileExists, "File %s already exists"},
    {kErrPackedFileSize, "Packed file size mismatch. FileSize = %d, BLOB ends at %d"},
    {kErrOutputWrite, "Cannot write to %s: %s"},
    {kErrInputRead, "Cannot read from %s: %s"},
    {kErrDumpIncomplete, "Table '%s' is incomplete: %d of its %d rows could be read"},
    {kErrFileNeedsRepair, "Database file '%s' needs repair (a commit was interrupted or it was written by an older version); it is not changed until it is repaired"},
    {kErrBLOBSizeMismatch, "BLOB size mismatch. UncompressedSize = %d, Blocks hold %d"},
    {kErrBLOBBlockSize, "Invalid BLOB block size. BlockSize = %d, NumBlocks = %d"},
    {kErrSessionsFileSize,
     "Invalid active sessions file. Probably database is corrupted and needs repair. StartPageNo=%d, Size=%d"},
    {kErrLocksFileSize,
     "Invalid table locks file. Probably database is corrupted and needs repair. StartPageNo=%d, Size=%d"},
    {kErrLockSessionID, "Invalid session id %d. Maximum number of sessions is %d"},
    {kErrSessionSlot, "Invalid session slot %d. Maximum number of sessions is %d"},
    {kErrLockType, "Invalid table lock type %d"},
    {kErrMaxSessionCount, "Invalid maximum number of sessions %d"},
    {kErrBTreeEntryTooLarge, "Index entry size %d does not allow three entries on a page of %d data bytes"},
    {kErrBTreeTooDeep, "Index tree is deeper than %d levels. PageNo=%d"},
    {kErrBitmapRecNoOverflow, "Index position does not fit a record number. Levels=%d, MaxEntriesPerPage=%d"},
    {kErrBitmapRecNoInvalid, "Invalid index record number %d for MaxEntriesPerPage=%d"},
    {kErrBTreePageDamaged,
     "Index page damaged. PageNo=%d, EntryCount=%d, KeyPrefixSize=%d, PagePrefixSize=%d"},
    {kErrKeyPathEntry, "Index error: invalid position"},
    {kErrBulkLoadOrder, "Index bulk load: entry %d is not in ascending order"},
    {kErrBulkLoadNotEmpty, "Index bulk load: the tree with root page %d is not empty"},
    {kErrPageIndexValueRange, "Page index value %d out of range for page %d"},
    {kErrBitsArrayTooLarge, "Bits array is too large to be stored. Number of bits = %d, set bits = %d"},
    {kErrBitsArrayStoredCount, "Invalid stored number of bits = %d"},
    {kErrBitsArrayStoredSetCount, "Invalid stored number of set bits = %d, the bits hold %d"},
    {kErrBitsArraySize, "Invalid number of bits = %d"},
    {kErrNoIndexObject, "Nil pointer occured"},
    {kErrBitmapRecNo, "Invalid record number = %d, number of records = %d"},
    {kErrKeySearchUnavailable, "Key search is not available for table '%s'"},
    {kErrDiskTableDataUnavailable, "Disk tables are not available yet. Table: '%s'"},
    {kErrDiskTableRepairUnavailable, "Repairing disk tables is not available yet. Table: '%s'"},
    {kErrDiskTableNotOpen, "Table '%s' is not open"},
    {kErrDiskDirectBlobData, "Invalid direct BLOB data. Size = %d"},
    {kErrDiskTemporaryPageMissing, "Temporary page %d is not allocated"},
    {kErrDiskTableWriteLocked, "Cannot change table '%s'. Table is locked"},
    {kErrCheckReadOnly, "The database is checked read-only"},
    {kErrDiskTableMetadataShort, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d"},
    {kErrDiskBlobReadLocked, "Table is locked"},
    {kErrEngineUnavailable, "The %s database is not available yet"},
    {kErrSessionNotConnected, "Session is not connected to database '%s'"},
    {kErrDatabaseNotOpen, "Database '%s' is not open"},
    {kErrDatabaseSizeRange, "Invalid %s %d for a new database. Allowed: %d to %d"},
    {kErrDatabaseFileName, "Invalid database file name '%s': %s"},
    {kErrReleaseSessionLocks, "Cannot release the locks of session %d"},
    {kErrClearTransactionLocks, "Cannot end the transaction locks of session %d"},
    {kErrMaintenanceUnavailable, "Database maintenance is not available yet: %s"},
    {kErrDeleteDatabaseFile, "Cannot delete database file '%s': %s"},
    {kErrRenameDatabaseFile, "Cannot rename database file '%s' to '%s': %s"},
    {kErrProviderNotSupported, "Provider operation '%s' is not supported: %s"},
    {kErrTableRowCountLimit, "Cannot add record. Table row count limit reached: RecordCount=%d"},
    {kErrRecordMetadataRead, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d"},
    {kErrRecordMetadataWrite, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d"},
    {kErrBlobMetadataRead, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d"},
    {kErrBlobMetadataWrite, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d"},
    {kErrSmallBlobPageDamaged, "BLOB page damaged. PageNo=%d, BlobCount=%d, BlobOffset=%d, BlobSize=%d"},
    {kErrLargeBlobDamaged, "Large BLOB damaged. PageNo=%d, CompressedSize=%d, ItemCount=%d, ListPageNo=%d"},
    {kErrRecordPageOfOtherTable, "Record page %d does not belong to table %d"},
    {kErrBlobCopyWrite, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d"},
    {kErrBlobCopyRead, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d"},
    {kErrIndexDuplicateKey, "Key violation: index '%s' already holds this key"},
    {kErrIndexBuildDuplicateKey, "Cannot create unique index '%s': records with equal keys exist"},
    {kErrIndexNoRootPage, "Invalid page number"},
    {kErrTemporaryPageIO, "Cannot read or write temporary page %d"},
    {kErrMemoryRollback, "Rollback is not supported for in-memory tables: %d changes were already applied"},
    {kErrTemporaryPageExtend, "Cannot extend the temporary page file to %d bytes"},
    {kErrDirectBlobDataSize, "Invalid direct BLOB data. Size = %d"},
    {kErrMemoryBlobMissing, "BLOB value of field %d not found"},
    {kErrTemporaryBlobEntry, "Invalid BLOB entry at %d. Stored size = %d, bytes left = %d"},
    {kErrTemporaryPageSeek, "Cannot set stream position to %d. Position = %d, Size = %d"},
    {kErrCursorNoDatabase, "Cursor has no connected session. Table: '%s'"},
    {kErrCursorNotOpen, "Table '%s' is not open"},
    {kErrBLOBStreamNotOpen, "BLOB stream is not open on this cursor. Table: '%s'"},
    {kErrBatchApplyLocked, "Cannot apply the batch update of table '%s'. Table is locked"},
    {kErrPostReadOnly, "Cannot post record. Table '%s' is open read-only"},
    {kErrDeleteReadOnly, "Cannot delete record. Table '%s' is open read-only"},
    {kErrCreateTableReadOnly, "Cannot create table '%s'. Database is open read-only"},
    {kErrDeleteTableReadOnly, "Cannot delete table '%s'. Database is open read-only"},
    {kErrEmptyTableReadOnly, "Cannot empty table '%s'. Database is open read-only"},
    {kErrRenameTableReadOnly, "Cannot rename table '%s'. Database is open read-only"},
    {kErrRenameFieldReadOnly, "Cannot rename field '%s' of table '%s'. Database is open read-only"},
    {kErrAddIndexReadOnly, "Cannot create index '%s' of table '%s'. Database is open read-only"},
    {kErrDeleteIndexReadOnly, "Cannot delete index '%s' of table '%s'. Database is open read-only"},
    {kErrDeleteAllIndexesReadOnly, "Cannot delete the indexes of table '%s'. Database is open read-only"},
    {kErrSQLTransactionActive, "Database is already within a transaction"},
    {kErrSQLNotSupported, "SQL statement '%s' is not supported yet (line %d, column %d)"},
    {kErrSQLInsertFieldNotFound, "Field '%s' not found in table '%s'"},
};

}  // namespace orb
