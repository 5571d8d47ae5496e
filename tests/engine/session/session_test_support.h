#pragma once

// Helpers for the session tests: sessions on scratch files and pages
// written on a session's behalf, seen in the file afterwards.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "engine/disk/disk_database_data.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/platform/codepage.h"
#include "engine/platform/critical_section.h"
#include "engine/session/database_registry.h"
#include "engine/session/local_session.h"
#include "engine/table/page.h"
#include "engine/table/page_header.h"
#include "tests/support/disk_scratch.h"

namespace orb::testing {

inline std::unique_ptr<TORBLocalSession> MakeSession(const std::string& path, bool multi_user = false,
                                                     const std::u16string& session_name = u"") {
  auto session = std::make_unique<TORBLocalSession>();
  session->FDatabaseFileName = PathToWide(path);
  session->FMultiUser = multi_user;
  session->FSessionName = session_name;
  session->FMaxSessionCount = 8;
  return session;
}

inline void CreateDatabaseFile(const std::string& path, const std::string& password = "") {
  auto session = MakeSession(path);
  session->FPassword.Password = password;
  session->CreateDatabase();
}

inline int32_t RegisteredDiskCount() {
  TORBDatabaseRegistry& registry = TORBDatabaseRegistry::Instance();
  std::lock_guard<std::recursive_mutex> guard(registry.Mutex());
  return registry.DiskCount();
}

// Adds a page filled with `fill` on the session's behalf (uncommitted
// until the session's changes are applied); returns its number.
inline int32_t AddFilledPage(TORBLocalSession& session, uint8_t fill) {
  TORBDiskDatabaseData* data = session.DiskDatabaseData();
  TCriticalSectionGuard guard(data->CSect());
  TORBDiskPageManager* pm = data->DiskPageManager();
  TORBPageGuard page = pm->AddPageGuard(session.GetSessionID(), kPageTypeTableRecord);
  for (int i = 0; i < pm->GetPageDataSize(); ++i) page->GetPageData()[i] = fill;
  page.MarkDirty();
  return page.PageNo();
}

// Whether the stored page `page_no` of the (unencrypted) file holds `fill`
// in every data byte.
inline bool FileHasFilledPage(const std::string& path, int32_t page_no, uint8_t fill, int64_t first_page_offset,
                              int32_t page_size, int32_t header_size) {
  const std::vector<uint8_t> bytes = ReadAll(path);
  const int64_t start = first_page_offset + int64_t{page_no} * page_size + header_size;
  if (static_cast<int64_t>(bytes.size()) < first_page_offset + int64_t{page_no + 1} * page_size) return false;
  for (int64_t i = start; i < first_page_offset + int64_t{page_no + 1} * page_size; ++i)
    if (bytes[static_cast<size_t>(i)] != fill) return false;
  return true;
}

// The same for a session's connected database.
inline bool StoredPageFilled(TORBLocalSession& session, const std::string& path, int32_t page_no, uint8_t fill) {
  TORBDiskPageManager* pm = session.DiskDatabaseData()->DiskPageManager();
  return FileHasFilledPage(path, page_no, fill, pm->GetOffsetToFirstPage(), pm->GetPageSize(),
                           pm->GetPageHeaderSize());
}

}  // namespace orb::testing
