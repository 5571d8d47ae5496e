#include "engine/base/metadata.h"

#include "engine/base/metadata_io.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"
#include "engine/base/stream.h"

namespace orb {

namespace {

constexpr int32_t kErrSaveNameLength = 10164;
constexpr int32_t kErrSaveName = 10165;
constexpr int32_t kErrLoadNameLength = 10166;
constexpr int32_t kErrLoadName = 10167;
constexpr int32_t kErrSaveObjectId = 10168;
constexpr int32_t kErrLoadObjectId = 10169;
constexpr int32_t kErrSaveCount = 10158;
constexpr int32_t kErrLoadCount = 10159;
constexpr int32_t kErrDuplicateName = 10424;
constexpr int32_t kErrNotOverridden = 30339;

[[noreturn]] void RaiseListIndex(int32_t index) {
  throw Exception(*TryFormat("List index out of bounds (%d)", FormatArgs{index}));
}

// The lists never hold a missing definition.
void CheckDef(const std::unique_ptr<TORBMetaObjectDef>& def) {
  if (!def) throw Exception(std::string(kMsgNilPointer));
}

}  // namespace

std::string ToShortString(std::string_view ansi_text) {
  return std::string(ansi_text.substr(0, kMaxShortStringLength));
}

std::string ToShortString(std::u16string_view text) { return ToShortString(WideToAnsi(text)); }

// TORBMetaObjectDef

void TORBMetaObjectDef::Assign(const TORBMetaObjectDef& source) {
  FName = source.FName;
  FObjectID = source.FObjectID;
  FSchemaName = source.FSchemaName;
  FSchemaID = source.FSchemaID;
}

void TORBMetaObjectDef::LoadFromStream(TStream& stream) {
  const uint8_t length = metaio::LoadU8(stream, kErrLoadNameLength);
  std::string name = metaio::LoadBytes(stream, length, kErrLoadName);
  const int32_t object_id = metaio::LoadI32(stream, kErrLoadObjectId);
  FName = std::move(name);
  FObjectID = object_id;
}

void TORBMetaObjectDef::SaveToStream(TStream& stream) const {
  metaio::SaveU8(stream, static_cast<uint8_t>(FName.size()), kErrSaveNameLength);
  metaio::SaveBytes(stream, FName, kErrSaveName);
  metaio::SaveI32(stream, FObjectID, kErrSaveObjectId);
}

std::u16string TORBMetaObjectDef::GetWideName() const { return AnsiToWide(FName); }

void TORBMetaObjectDef::SetName(std::string_view ansi_name) { FName = ToShortString(ansi_name); }

void TORBMetaObjectDef::SetName(std::u16string_view name) { FName = ToShortString(name); }

// TORBMetaObjectDefs

TORBMetaObjectDef* TORBMetaObjectDefs::InternalAddCreated() {
  const int32_t index = AddDef(CreateDef());
  return FDefsList[static_cast<size_t>(index)].get();
}

std::unique_ptr<TORBMetaObjectDef> TORBMetaObjectDefs::CreateDef() const {
  RaiseORB(kErrNotOverridden, "The method '%s' is not overrided in class '%s'",
           {"InternalAddCreated", ClassName()});
}

std::unique_ptr<TORBMetaObjectDef> TORBMetaObjectDefs::LoadDef(TStream& stream) {
  std::unique_ptr<TORBMetaObjectDef> def = CreateDef();
  def->LoadFromStream(stream);
  return def;
}

void TORBMetaObjectDefs::LoadFromStream(TStream& stream) {
  Clear();
  FLoadedItemCount = 0;
  const int32_t count = metaio::LoadCount(stream, kErrLoadCount);
  FLoadedItemCount = count;
  for (int32_t i = 0; i < count; ++i) AddDef(LoadDef(stream));
}

void TORBMetaObjectDefs::SaveToStream(TStream& stream) const {
  metaio::SaveI32(stream, GetCount(), kErrSaveCount);
  for (const auto& def : FDefsList) def->SaveToStream(stream);
}

void TORBMetaObjectDefs::Assign(const TORBMetaObjectDefs& source) {
  if (&source == this) return;
  Clear();
  for (const auto& def : source.FDefsList) {
    if (GetDefNumberByName(std::string_view(def->GetName())) >= 0)
      RaiseORB(kErrDuplicateName, "Duplicate field name %s", {Ansi(def->GetName())});
    std::unique_ptr<TORBMetaObjectDef> copy = CreateDef();
    copy->Assign(*def);
    AddDef(std::move(copy));
  }
}

void TORBMetaObjectDefs::Delete(int32_t index) {
  CheckIndex(index);
  FDefsList.erase(FDefsList.begin() + index);
}

void TORBMetaObjectDefs::Move(int32_t cur_index, int32_t new_index) {
  if (cur_index == new_index) return;
  CheckIndex(cur_index);
  CheckIndex(new_index);
  std::unique_ptr<TORBMetaObjectDef> def = std::move(FDefsList[static_cast<size_t>(cur_index)]);
  FDefsList.erase(FDefsList.begin() + cur_index);
  FDefsList.insert(FDefsList.begin() + new_index, std::move(def));
}

void TORBMetaObjectDefs::Clear() { FDefsList.clear(); }

void TORBMetaObjectDefs::RaiseIndexOutOfBounds(int32_t index) { RaiseListIndex(index); }

int32_t TORBMetaObjectDefs::GetDefNumberByName(std::string_view ansi_name) const {
  const std::string wanted = UpperCaseA(ansi_name);
  for (size_t i = 0; i < FDefsList.size(); ++i)
    if (UpperCaseA(FDefsList[i]->GetName()) == wanted) return static_cast<int32_t>(i);
  return -1;
}

int32_t TORBMetaObjectDefs::GetDefNumberByName(std::u16string_view name) const {
  return GetDefNumberByName(std::string_view(WideToAnsi(name)));
}

TORBMetaObjectDef* TORBMetaObjectDefs::GetDefByName(std::string_view ansi_name) const {
  const int32_t index = GetDefNumberByName(ansi_name);
  return index < 0 ? nullptr : FDefsList[static_cast<size_t>(index)].get();
}

TORBMetaObjectDef* TORBMetaObjectDefs::GetDefByName(std::u16string_view name) const {
  return GetDefByName(std::string_view(WideToAnsi(name)));
}

int32_t TORBMetaObjectDefs::GetDefNumberByObjectId(int32_t object_id) const {
  for (size_t i = 0; i < FDefsList.size(); ++i)
    if (FDefsList[i]->FObjectID == object_id) return static_cast<int32_t>(i);
  return -1;
}

TORBMetaObjectDef* TORBMetaObjectDefs::GetDefByObjectId(int32_t object_id) const {
  const int32_t index = GetDefNumberByObjectId(object_id);
  return index < 0 ? nullptr : FDefsList[static_cast<size_t>(index)].get();
}

int32_t TORBMetaObjectDefs::AddDef(std::unique_ptr<TORBMetaObjectDef> def) {
  CheckDef(def);
  FDefsList.push_back(std::move(def));
  return static_cast<int32_t>(FDefsList.size()) - 1;
}

void TORBMetaObjectDefs::InsertDef(int32_t index, std::unique_ptr<TORBMetaObjectDef> def) {
  CheckDef(def);
  if (index < 0 || index > GetCount()) RaiseListIndex(index);
  FDefsList.insert(FDefsList.begin() + index, std::move(def));
}

void TORBMetaObjectDefs::SetDefAt(int32_t index, std::unique_ptr<TORBMetaObjectDef> def) {
  CheckDef(def);
  CheckIndex(index);
  FDefsList[static_cast<size_t>(index)] = std::move(def);
}

void TORBMetaObjectDefs::CheckIndex(int32_t index) const {
  if (index < 0 || index >= GetCount()) RaiseListIndex(index);
}

}  // namespace orb
