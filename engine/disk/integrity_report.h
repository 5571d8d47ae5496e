#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orb {

// What an integrity finding is about. The order of the values is the order
// of findings on one page.
enum class TORBIntegrityFindingKind : uint8_t {
  // File level (no page).
  HeaderField,       // a database header, crypto header or lock bytes field
  UnfinishedCommit,  // WriteChangesState says a commit did not finish
  FileTooShort,      // the file ends before the page area does
  LastUsedPageNo,    // the header's LastUsedPageNo lies below a page in use
  // Page headers.
  PageSignature,
  PageType,
  PageState,
  PageHeaderField,
  PageChecksum,
  // Allocation maps.
  MapPageNotInUse,
  ExtentCode,
  UsedPastEnd,
  // Ownership.
  PastEnd,  // a reference to a page outside the page area or the file
  FreeButOwned,
  OwnedTwice,
  Leaked,
  // Internal files.
  ChainLoop,
  ChainShort,
  FileHeader,
  // System directory and table list.
  DirectoryEntry,
  TableEntry,
  // A table's own structures: metadata, rows, BLOB values, indexes.
  TableStructure,
};

// One inconsistency. `PageNo` -1 means the file as a whole.
struct TORBIntegrityFinding {
  TORBIntegrityFindingKind Kind = TORBIntegrityFindingKind::HeaderField;
  int64_t PageNo = -1;
  // What is wrong, e.g. "allocated but not owned (leaked)".
  std::string What;
  // Both empty when the description says it all.
  std::string Expected;
  std::string Found;

  // "page 17: allocated but not owned (leaked)", "file: ... (expected 76,
  // found 80)"; one line, no line break.
  std::string Text() const;
};

// The findings of one check, in a stable order: by page number (file-level
// findings first), then kind, then text.
class TORBIntegrityReport {
 public:
  void Add(TORBIntegrityFindingKind kind, int64_t page_no, std::string what, std::string expected = {},
           std::string found = {});

  bool IsOk() const { return FFindings.empty(); }
  // Sorted.
  std::vector<TORBIntegrityFinding> Findings() const;
  // Sorted Text() of every finding.
  std::vector<std::string> Lines() const;
  bool Has(TORBIntegrityFindingKind kind, int64_t page_no) const;

 private:
  std::vector<TORBIntegrityFinding> FFindings;
};

}  // namespace orb
