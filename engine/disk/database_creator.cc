#include "engine/disk/database_creator.h"

#include "engine/disk/disk_page_manager.h"
#include "engine/disk/internal_file.h"
#include "engine/table/page_header.h"
#include "engine/disk/system_directory.h"
#include "engine/disk/table_list.h"

namespace orb {

void CreateDiskDatabase(const std::u16string& file_name, const TORBDiskDatabaseOptions& options) {
  TORBDiskPageManager manager;
  manager.CreateAndOpenDatabase(file_name, options.Password, options.PageSize, options.PageCountInExtent);
  try {
    TORBSystemDirectory directory(&manager);
    directory.CreateDirectory();

    TORBInternalDBDirectAccessFile sessions(&manager, kPageTypeActiveSessionList);
    sessions.CreateFile(options.MaxSessionCount);
    const int32_t sessions_page = sessions.GetStartPageNo();

    TORBTableListFile tables(&manager);
    const int32_t tables_page = tables.CreateFile();

    directory.CreateFile(dbftActiveSessionsList, sessions_page);
    directory.CreateFile(dbftTablesList, tables_page);
    directory.SaveDirectory();
    manager.ApplyChanges(TORBPageManager::kSystemSession);
  } catch (...) {
    // The manager's destructor closes the file without hiding this error.
    throw;
  }
  manager.CloseDatabase();
}

}  // namespace orb
