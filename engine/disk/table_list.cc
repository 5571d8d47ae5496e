#include "engine/base/error_codes.h"
#include "engine/disk/table_list.h"

#include <algorithm>
#include <cstring>

#include "engine/base/orb_exception.h"
#include "engine/table/page_header.h"
#include "engine/table/page_manager.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/codepage.h"

namespace orb {

namespace {

constexpr int32_t kSession = TORBPageManager::kSystemSession;

char16_t UpperAsciiOnly(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

void CheckNameLength(std::string_view name) {
  if (name.size() > static_cast<size_t>(TORBTableListItem::kMaxNameLength)) {
    RaiseORB(kErrTableNameTooLong, "Table name '%s' is too long. Maximum length is %d bytes",
             {Ansi(name), TORBTableListItem::kMaxNameLength});
  }
}

}  // namespace

TORBTableListFile::TORBTableListFile(TORBPageManager* page_manager) : LPageManager(page_manager) {}

bool TORBTableListFile::SameTableName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAsciiOnly(AnsiCharToWide(static_cast<unsigned char>(a[i]))) !=
        UpperAsciiOnly(AnsiCharToWide(static_cast<unsigned char>(b[i])))) {
      return false;
    }
  }
  return true;
}

void TORBTableListFile::CheckOpened() const {
  if (FHandle == nullptr) RaiseORB(30389, "Cannot perform this operation (%s) on closed internal file", {"TableList"});
}

int32_t TORBTableListFile::CreateFile() {
  TORBInternalDBTransactedAccessFile file(LPageManager, kPageTypeTableList);
  file.CreateFile(kSession);
  return file.GetStartPageNo();
}

void TORBTableListFile::OpenFile(int32_t first_page) {
  if (FHandle != nullptr) RaiseORB(30393, "Table list file already opened.");
  auto handle = std::make_unique<TORBInternalDBTransactedAccessFile>(LPageManager, kPageTypeTableList);
  handle->OpenFile(first_page);
  FHandle = std::move(handle);
  FTableList.clear();
}

void TORBTableListFile::CloseFile() {
  FHandle.reset();
  FTableList.clear();
}

void TORBTableListFile::Load() {
  CheckOpened();
  std::vector<uint8_t> bytes;
  FHandle->ReadAll(kSession, bytes);
  std::vector<TORBTableListItem> list;
  for (size_t pos = 0; pos + TORBTableListItem::kSize <= bytes.size(); pos += TORBTableListItem::kSize) {
    const uint8_t* entry = &bytes[pos];
    TORBTableListItem item;
    item.TableName.assign(reinterpret_cast<const char*>(entry + 1), LoadU8(entry));
    item.TableID = LoadI32LE(entry + 256);
    item.MetaDataFilePageNo = LoadI32LE(entry + 260);
    item.MostUpdatedFilePageNo = LoadI32LE(entry + 264);
    item.LocksFilePageNo = LoadI32LE(entry + 268);
    list.push_back(std::move(item));
  }
  FTableList = std::move(list);
}

void TORBTableListFile::Save() {
  CheckOpened();
  std::vector<uint8_t> bytes(FTableList.size() * TORBTableListItem::kSize, 0);
  size_t pos = 0;
  for (const TORBTableListItem& item : FTableList) {
    uint8_t* entry = &bytes[pos];
    const size_t length = std::min<size_t>(item.TableName.size(), TORBTableListItem::kMaxNameLength);
    StoreU8(entry, static_cast<uint8_t>(length));
    std::memcpy(entry + 1, item.TableName.data(), length);
    StoreI32LE(entry + 256, item.TableID);
    StoreI32LE(entry + 260, item.MetaDataFilePageNo);
    StoreI32LE(entry + 264, item.MostUpdatedFilePageNo);
    StoreI32LE(entry + 268, item.LocksFilePageNo);
    pos += TORBTableListItem::kSize;
  }
  FHandle->WriteFile(kSession, bytes.data(), static_cast<int32_t>(bytes.size()));
}

int32_t TORBTableListFile::GetTableIndex(std::string_view name) const {
  for (size_t i = 0; i < FTableList.size(); ++i) {
    if (SameTableName(FTableList[i].TableName, name)) return static_cast<int32_t>(i);
  }
  return -1;
}

void TORBTableListFile::AddTable(int32_t table_id, std::string_view name, int32_t metadata_page,
                                 int32_t most_updated_page, int32_t locks_page) {
  CheckNameLength(name);
  if (TableExists(name)) RaiseORB(30395, "Cannot create table. Table '%s' already exists", {Ansi(name)});
  FTableList.push_back(
      TORBTableListItem{std::string(name), table_id, metadata_page, most_updated_page, locks_page});
}

void TORBTableListFile::OpenTable(std::string_view name, int32_t& table_id, int32_t& metadata_page,
                                  int32_t& most_updated_page, int32_t& locks_page) const {
  const int32_t index = GetTableIndex(name);
  if (index == -1) RaiseORB(30396, "Table '%s' does not exist.", {Ansi(name)});
  const TORBTableListItem& item = FTableList[index];
  table_id = item.TableID;
  metadata_page = item.MetaDataFilePageNo;
  most_updated_page = item.MostUpdatedFilePageNo;
  locks_page = item.LocksFilePageNo;
}

void TORBTableListFile::RemoveTable(std::string_view name) {
  const int32_t index = GetTableIndex(name);
  if (index == -1) RaiseORB(30405, "Table '%s' does not exist.", {Ansi(name)});
  FTableList.erase(FTableList.begin() + index);
}

void TORBTableListFile::RenameTable(std::string_view name, std::string_view new_name) {
  const int32_t index = GetTableIndex(name);
  if (index == -1) RaiseORB(30397, "Table '%s' does not exist.", {Ansi(name)});
  CheckNameLength(new_name);
  FTableList[index].TableName = std::string(new_name);
}

void TORBTableListFile::GetTablesList(std::vector<std::string>& list) {
  Load();
  list.clear();
  for (const TORBTableListItem& item : FTableList) list.push_back(item.TableName);
}

}  // namespace orb
