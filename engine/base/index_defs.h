#pragma once

// Index definitions: key columns, uniqueness, the B-tree root and the state
// of session-private (temporary) indexes, and the ordered collection of a
// table's indexes with the search for an index serving a requested order.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/metadata.h"

namespace orb {

class TORBFieldDefs;

enum TORBIndexType : uint8_t { itBTree = 0, itAnotherOne = 1 };

// One key column of an index.
class TORBIndexColumn {
 public:
  const std::u16string& GetFieldName() const { return FFieldName; }
  // The name is stored with a one-byte length in the code page: a name of
  // more than 255 bytes there raises kErrIndexColumnNameTooLong.
  void SetFieldName(std::u16string_view field_name);

  bool FDescending = false;
  bool FCaseInsensitive = false;
  // Characters of a string column kept in the keys.
  int32_t FMaxIndexedSize = 0;

 private:
  std::u16string FFieldName;
};

// Stored form of an index definition (little-endian), a = 5 + L after the
// meta object header:
// | offset | size | type  | meaning (codes: save / load)                    |
// |      0 |    a | ...   | meta object header (TORBMetaObjectDef)          |
// |      a |    1 | uint8 | FIndexType: 0 itBTree, 1 itAnotherOne           |
// |        |      |       | (10344 / 10349)                                 |
// |  a + 1 |    1 | bool  | FUnique (10345 / 10350)                         |
// |  a + 2 |    1 | bool  | FPrimary (10346 / 10351)                        |
// |  a + 3 |    4 | int32 | column count C, not negative (10347 / 10352)    |
// |  a + 7 |    4 | int32 | FRootPageNo: B-tree root page (10348 / 10353)   |
// | a + 11 |  ... | ...   | C columns in key order, each below              |
//
// Index column, 7 + N bytes:
// | offset | size | type  | meaning (codes: save / load)                    |
// |      0 |    1 | uint8 | field name length N (10354 / 10358)             |
// |      1 |    N | bytes | field name in the code page (10355 / 10359)     |
// |  1 + N |    1 | bool  | FDescending (10356 / 10360)                     |
// |  2 + N |    1 | bool  | FCaseInsensitive (10357 / 10361)                |
// |  3 + N |    4 | int32 | FMaxIndexedSize (20169 / 20168)                 |
//
// FTemporary, FSessionID, FTableState and FNeedRebuild are not stored; a
// loaded definition is never temporary.
class TORBIndexDef : public TORBMetaObjectDef {
 public:
  // Copies all fields and the columns from an index definition; from any
  // other definition only the common part.
  void Assign(const TORBMetaObjectDef& source) override;
  // A loaded definition is never temporary.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;

  int32_t GetColumnCount() const { return static_cast<int32_t>(FIndexColumns.size()); }
  // Adds empty columns or drops the surplus ones.
  void SetColumnCount(int32_t value);
  TORBIndexColumn* GetIndexColumn(int32_t index);
  const TORBIndexColumn* GetIndexColumn(int32_t index) const;

  // One column per name: descending exactly for "DESC", case-insensitive
  // exactly for "NO_CASE", 20 characters kept. Lists of other lengths than
  // `field_names` raise 10278 and 10279.
  void AssignByNames(const std::vector<std::u16string>& field_names, const std::vector<std::u16string>& asc_desc_list,
                     const std::vector<std::u16string>& case_sensitivity_list);

  TORBIndexType FIndexType = itBTree;
  std::vector<TORBIndexColumn> FIndexColumns;
  bool FUnique = false;
  bool FPrimary = false;
  int32_t FRootPageNo = -1;
  bool FTemporary = false;
  int32_t FSessionID = -1;
  int32_t FTableState = 0;
  bool FNeedRebuild = false;
};

class TORBIndexDefs : public TORBMetaObjectDefs {
 public:
  TORBIndexDef* GetIndexDef(int32_t index) const {
    return static_cast<TORBIndexDef*>(TORBMetaObjectDefs::GetDef(index));
  }
  TORBIndexDef* GetDef(int32_t index) const { return GetIndexDef(index); }
  void SetIndexDef(int32_t index, std::unique_ptr<TORBIndexDef> def) { SetDefAt(index, std::move(def)); }
  void SetDef(int32_t index, std::unique_ptr<TORBIndexDef> def) { SetDefAt(index, std::move(def)); }
  int32_t Add(std::unique_ptr<TORBIndexDef> def) { return AddDef(std::move(def)); }
  void Insert(int32_t index, std::unique_ptr<TORBIndexDef> def) { InsertDef(index, std::move(def)); }
  TORBIndexDef* AddCreated() { return static_cast<TORBIndexDef*>(InternalAddCreated()); }

  TORBIndexDef* GetIndexDefByName(std::string_view ansi_name) const {
    return static_cast<TORBIndexDef*>(GetDefByName(ansi_name));
  }
  TORBIndexDef* GetIndexDefByName(std::u16string_view name) const {
    return static_cast<TORBIndexDef*>(GetDefByName(name));
  }

  // Stores the count of non-temporary indexes (10158) and those indexes
  // only, in list order: temporary indexes are never stored.
  void SaveToStream(TStream& stream) const override;

  // Object ID of the first index whose leading columns serve the requested
  // columns in the requested directions ("ASC", "DESC", anything else:
  // either) and case sensitivity ("CASE" for string fields, "NO_CASE",
  // anything else: either), or -1. Temporary indexes of other sessions are
  // skipped. A missing list raises 10389 to 10391; lists of other lengths
  // raise 10276 and 10277. `field_defs` (optional) tells string fields.
  int32_t FindIndex(const std::vector<std::u16string>* field_names, const std::vector<std::u16string>* asc_desc_list,
                    const std::vector<std::u16string>* case_sensitivity_list, int32_t session_id,
                    const TORBFieldDefs* field_defs) const;
  bool IsIndexExists(const std::vector<std::u16string>* field_names, const std::vector<std::u16string>* asc_desc_list,
                     const std::vector<std::u16string>* case_sensitivity_list, int32_t session_id,
                     const TORBFieldDefs* field_defs) const {
    return FindIndex(field_names, asc_desc_list, case_sensitivity_list, session_id, field_defs) != -1;
  }

 protected:
  const char* ClassName() const override { return "TORBIndexDefs"; }
  std::unique_ptr<TORBMetaObjectDef> CreateDef() const override { return std::make_unique<TORBIndexDef>(); }
};

}  // namespace orb
