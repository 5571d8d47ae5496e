#include "engine/data/database_data.h"

#include <algorithm>

#include "engine/data/table_data.h"
#include "engine/platform/text_case.h"
#include "engine/table/page_manager.h"

namespace orb {

TORBDatabaseData::TORBDatabaseData(std::u16string database_name, std::u16string session_name)
    : FDatabaseName(std::move(database_name)), FSessionName(std::move(session_name)) {
  DBDataList().Add(this);
}

TORBDatabaseData::~TORBDatabaseData() {
  FTableDataList.clear();
  DBDataList().Remove(this);
}

int32_t TORBDatabaseData::SessionCount() {
  TCriticalSectionGuard guard(FCSect);
  return static_cast<int32_t>(FSessionList.size());
}

void TORBDatabaseData::ConnectSession(TORBSessionLink* session) {
  TCriticalSectionGuard guard(FCSect);
  FSessionList.push_back(session);
  session->SetSessionID(0);
}

void TORBDatabaseData::DisconnectSession(TORBSessionLink* session) {
  TCriticalSectionGuard guard(FCSect);
  std::erase(FSessionList, session);
}

bool TORBDatabaseData::FreeIfNoSessionsConnected() {
  TCriticalSectionGuard guard(FCSect);
  return FSessionList.empty();
}

void TORBDatabaseData::GetTablesList(std::vector<std::u16string>& list) {
  TCriticalSectionGuard guard(FCSect);
  list.clear();
  for (const auto& table : FTableDataList) list.push_back(table->TableName());
}

bool TORBDatabaseData::TableExists(const std::u16string& table_name) {
  TCriticalSectionGuard guard(FCSect);
  const std::u16string wanted = UpperCaseW(table_name);
  return std::any_of(FTableDataList.begin(), FTableDataList.end(),
                     [&](const auto& table) { return UpperCaseW(table->TableName()) == wanted; });
}

TORBTableData* TORBDatabaseData::FindTableData(TORBCursorInterface* cursor) {
  TCriticalSectionGuard guard(FCSect);
  const std::u16string wanted = UpperCaseW(cursor->GetTableName());
  for (const auto& table : FTableDataList)
    if (UpperCaseW(table->TableName()) == wanted) return table.get();
  return nullptr;
}

TORBTableData* TORBDatabaseData::FindOrCreateTableData(TORBCursorInterface* cursor) {
  TCriticalSectionGuard guard(FCSect);
  if (TORBTableData* found = FindTableData(cursor)) return found;
  return CreateTableData(cursor);
}

TORBTableData* TORBDatabaseData::AddTableData(std::unique_ptr<TORBTableData> table_data) {
  TCriticalSectionGuard guard(FCSect);
  FTableDataList.push_back(std::move(table_data));
  return FTableDataList.back().get();
}

void TORBDatabaseData::FreeTableData(TORBTableData* table_data) {
  TCriticalSectionGuard guard(FCSect);
  std::erase_if(FTableDataList, [&](const auto& table) { return table.get() == table_data; });
}

void TORBDatabaseData::Commit(int32_t session_id) {
  TCriticalSectionGuard guard(FCSect);
  if (FPageManager != nullptr) FPageManager->ApplyChanges(session_id);
}

void TORBDatabaseData::Rollback(int32_t session_id) {
  TCriticalSectionGuard guard(FCSect);
  if (FPageManager != nullptr) FPageManager->CancelChanges(session_id);
  for (const auto& table : FTableDataList) table->Rollback(session_id);
}

void TORBDBDataList::Add(TORBDatabaseData* database_data) {
  std::lock_guard<std::mutex> guard(FMutex);
  FList.push_back(database_data);
}

void TORBDBDataList::Remove(TORBDatabaseData* database_data) {
  std::lock_guard<std::mutex> guard(FMutex);
  std::erase(FList, database_data);
}

bool TORBDBDataList::Contains(const TORBDatabaseData* database_data) const {
  std::lock_guard<std::mutex> guard(FMutex);
  return std::find(FList.begin(), FList.end(), database_data) != FList.end();
}

std::vector<TORBDatabaseData*> TORBDBDataList::Snapshot() const {
  std::lock_guard<std::mutex> guard(FMutex);
  return FList;
}

TORBDBDataList& DBDataList() {
  // Never destroyed, so database data objects freed at process end still
  // find it.
  static TORBDBDataList* const list = new TORBDBDataList;
  return *list;
}

}  // namespace orb
