// orbdb info: the header and directory of a database file.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

#include "engine/disk/disk_page_manager.h"
#include "engine/disk/internal_file.h"
#include "engine/disk/rollback_journal.h"
#include "engine/table/page_header.h"
#include "engine/disk/system_directory.h"
#include "engine/disk/table_list.h"
#include "engine/platform/codepage.h"
#include "tools/orbdb/command.h"
#include "tools/orbdb/db_options.h"

namespace orbdb {
namespace {

std::string DoubleText(double v) {
  char buf[64];
  const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, ptr) : std::string("?");
}

struct InfoOptions {
  std::string path;
  std::string password;
};

int RunInfo(const InfoOptions& options) {
  orb::TORBPassword password;
  password.Password = orb::Utf8ToAnsi(options.password);
  // A file in the middle of a commit is not read: its pages are half
  // written until a writer rolls the commit back.
  if (orb::TORBRollbackJournal::ReadHot(options.path, 0, nullptr)) {
    std::cout << "journal: hot\n";
    std::cerr << "orbdb: " << options.path
              << ": an unfinished commit is in the rollback journal; the next open for writing rolls it back\n";
    return 1;
  }
  orb::TORBDiskPageManager manager;
  bool read_only = true;
  bool repair_needed = false;
  bool multi_user = false;
  manager.OpenDatabase(orb::PathToWide(options.path), password, read_only, repair_needed, false, multi_user);

  orb::TORBSystemDirectory directory(&manager);
  directory.LoadDirectory();
  orb::TORBTableListFile tables(&manager);
  tables.OpenFile(directory.GetFileFirstPageNo(orb::dbftTablesList));
  tables.Load();
  orb::TORBInternalDBDirectAccessFile sessions(&manager, orb::kPageTypeActiveSessionList);
  sessions.OpenFile(directory.GetFileFirstPageNo(orb::dbftActiveSessionsList));
  const int32_t max_connections = std::min(sessions.GetSize(), sessions.GetFileSize());

  const orb::TORBDBHeader& h = manager.GetDbHeader();
  const bool encrypted = manager.GetEncrypted();
  std::cout << "signature: " << std::string(h.Signature.begin(), h.Signature.end()) << "\n"
            << "version: " << DoubleText(h.Version) << "\n"
            << "page_size: " << h.PageSize << "\n"
            << "extent_pages: " << h.PageCountInExtent << "\n"
            << "total_pages: " << h.TotalPageCount << "\n"
            << "last_used_page: " << h.LastUsedPageNo << "\n"
            << "state: " << h.State << "\n"
            << "write_changes_state: " << static_cast<int>(h.WriteChangesState) << "\n"
            << "repair_needed: " << (repair_needed ? 1 : 0) << "\n"
            << "encrypted: " << (encrypted ? 1 : 0) << "\n"
            << "cipher: " << (encrypted ? CipherName(manager.GetPassword().CryptoAlgorithm) : "none") << "\n"
            << "max_connections: " << max_connections << "\n"
            << "tables: " << tables.Tables().size() << "\n"
            << "journal: none\n";
  return 0;
}

void AddInfoCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("info", "print the database header and directory");
  auto options = std::make_shared<InfoOptions>();
  sub->add_option("FILE", options->path, "the database file")->required();
  sub->add_option("--password", options->password, "the database password");
  OnRun(sub, [options] { return RunInfo(*options); });
}

const CommandRegistration kInfo{"info", AddInfoCommand};

}  // namespace
}  // namespace orbdb
