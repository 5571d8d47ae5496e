#pragma once

// Base classes of the table definitions (fields, indexes, constraints) and
// of their ordered collections. A definition writes itself to and reads
// itself from a binary stream; the collections write a 32-bit count and then
// their definitions in order.
//
// Collection stream (little-endian):
// | offset | size | type  | meaning                                        |
// |      0 |    4 | int32 | count of stored definitions (10158 / 10159); a |
// |        |      |       | negative count is refused on load (10159)      |
// |      4 |  ... | ...   | the definitions in list order, each in its     |
// |        |      |       | class's stored form                            |
// (Codes: save / load. Loading clears the collection first.)

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/error_codes.h"

namespace orb {

class TStream;

// Longest name a one-byte length can describe.
inline constexpr size_t kMaxShortStringLength = 255;


// Common part of every definition: name and object identity.
class TORBMetaObjectDef {
 public:
  TORBMetaObjectDef() = default;
  virtual ~TORBMetaObjectDef() = default;
  TORBMetaObjectDef(const TORBMetaObjectDef&) = delete;
  TORBMetaObjectDef& operator=(const TORBMetaObjectDef&) = delete;

  // Copies name, object ID, schema name and schema ID.
  virtual void Assign(const TORBMetaObjectDef& source);
  // Meta object header, written first by every definition.
  //
  // Stored form (little-endian), 5 + L bytes:
  // | offset | size | type  | meaning                                      |
  // |      0 |    1 | uint8 | name length L (10164 / 10166)                |
  // |      1 |    L | bytes | name in the code page (10165 / 10167)        |
  // |  1 + L |    4 | int32 | FObjectID (10168 / 10169)                    |
  // Schema name and schema ID are not stored. (Codes: save / load.)
  virtual void LoadFromStream(TStream& stream);
  virtual void SaveToStream(TStream& stream) const;

  // The name in the engine's code page (Windows-1252).
  const std::string& GetName() const { return FName; }
  std::u16string GetWideName() const;
  // Longer names keep their first 255 characters.
  void SetName(std::string_view ansi_name);
  void SetName(std::u16string_view name);

  int32_t FObjectID = -1;
  // Kept for schema support; never stored.
  std::u16string FSchemaName;
  int32_t FSchemaID = -1;

 private:
  std::string FName;
};

// Ordered list of owned definitions. Name lookups ignore letter case; all
// lookups are linear and return the first match.
class TORBMetaObjectDefs {
 public:
  TORBMetaObjectDefs() = default;
  virtual ~TORBMetaObjectDefs() = default;
  TORBMetaObjectDefs(const TORBMetaObjectDefs&) = delete;
  TORBMetaObjectDefs& operator=(const TORBMetaObjectDefs&) = delete;

  virtual int32_t GetCount() const { return static_cast<int32_t>(FDefsList.size()); }
  // Creates a definition of the collection's class and appends it.
  TORBMetaObjectDef* AddCreated() { return InternalAddCreated(); }
  virtual TORBMetaObjectDef* InternalAddCreated();
  // Clears, reads the count into FLoadedItemCount, then the definitions. A
  // failed load keeps the definitions read completely so far.
  virtual void LoadFromStream(TStream& stream);
  virtual void SaveToStream(TStream& stream) const;
  // Clears, then appends a copy of each source definition; a name already
  // present raises 10424.
  virtual void Assign(const TORBMetaObjectDefs& source);
  virtual void Delete(int32_t index);
  virtual void Move(int32_t cur_index, int32_t new_index);
  virtual void Clear();

  // Every row read or written asks for its fields' definitions: the lookup
  // stays inline, the out-of-range failure does not.
  TORBMetaObjectDef* GetDef(int32_t index) const {
    if (static_cast<uint32_t>(index) >= FDefsList.size()) RaiseIndexOutOfBounds(index);
    return FDefsList[static_cast<size_t>(index)].get();
  }

  int32_t GetDefNumberByName(std::string_view ansi_name) const;
  int32_t GetDefNumberByName(std::u16string_view name) const;
  TORBMetaObjectDef* GetDefByName(std::string_view ansi_name) const;
  TORBMetaObjectDef* GetDefByName(std::u16string_view name) const;
  int32_t GetDefNumberByObjectId(int32_t object_id) const;
  TORBMetaObjectDef* GetDefByObjectId(int32_t object_id) const;

  // Count read by the last load.
  int32_t FLoadedItemCount = 0;

 protected:
  // Name of the concrete class, for messages.
  virtual const char* ClassName() const { return "TORBMetaObjectDefs"; }
  // A new, empty definition of the collection's class; the base raises 30339.
  virtual std::unique_ptr<TORBMetaObjectDef> CreateDef() const;
  // Reads one definition at the stream position (after the count).
  virtual std::unique_ptr<TORBMetaObjectDef> LoadDef(TStream& stream);

  int32_t AddDef(std::unique_ptr<TORBMetaObjectDef> def);
  void InsertDef(int32_t index, std::unique_ptr<TORBMetaObjectDef> def);
  // Replaces (and frees) the definition at `index`.
  void SetDefAt(int32_t index, std::unique_ptr<TORBMetaObjectDef> def);
  void CheckIndex(int32_t index) const;
  // The list index error of CheckIndex.
  [[noreturn]] static void RaiseIndexOutOfBounds(int32_t index);

  std::vector<std::unique_ptr<TORBMetaObjectDef>> FDefsList;
};

// Converts UTF-16 text to the engine's code page and cuts it to 255 bytes.
std::string ToShortString(std::u16string_view text);
std::string ToShortString(std::string_view ansi_text);

}  // namespace orb
