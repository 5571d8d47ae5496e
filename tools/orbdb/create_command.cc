// orbdb create: a new empty database file.

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/disk/database_creator.h"
#include "engine/platform/codepage.h"
#include "tools/orbdb/command.h"
#include "tools/orbdb/db_options.h"

namespace orbdb {
namespace {

struct CreateOptions {
  std::string path;
  int64_t page_size = -1;
  int64_t extent_pages = -1;
  int64_t max_connections = -1;
  std::string password;
  std::string cipher;
  bool force = false;
};

int RunCreate(const CreateOptions& o) {
  // An unencrypted file made in place of an encrypted one would be worse
  // than no file at all.
  if (!o.cipher.empty() && o.password.empty()) throw UsageError("--cipher needs a non-empty --password");
  orb::TORBDiskDatabaseOptions options;
  if (o.page_size >= 0) options.PageSize = static_cast<uint16_t>(o.page_size);
  if (o.extent_pages >= 0) options.PageCountInExtent = static_cast<uint16_t>(o.extent_pages);
  if (o.max_connections >= 0) options.MaxSessionCount = static_cast<int32_t>(o.max_connections);
  options.Password.Password = orb::Utf8ToAnsi(o.password);
  if (!o.cipher.empty()) {
    const auto cipher = CipherFromName(o.cipher);
    if (!cipher) throw UsageError("unknown cipher '" + o.cipher + "'");
    options.Password.CryptoAlgorithm = *cipher;
  }
  // The engine replaces an existing file; the tool only does so when asked.
  struct stat st;
  if (!o.force && ::lstat(o.path.c_str(), &st) == 0) {
    orb::RaiseORB(orb::kErrFileExists, "File %s already exists", {o.path});
  }
  orb::CreateDiskDatabase(orb::PathToWide(o.path), options);
  return 0;
}

void AddCreateCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("create", "create an empty database");
  auto options = std::make_shared<CreateOptions>();
  sub->add_option("FILE", options->path, "the new database file")->required();
  AddNumberOption(sub, "--page-size", &options->page_size, 64, 65535, "page size in bytes");
  AddNumberOption(sub, "--extent-pages", &options->extent_pages, 1, 65535, "pages in an extent");
  AddNumberOption(sub, "--max-connections", &options->max_connections, 1, 1000000, "most sessions at once");
  sub->add_option("--password", options->password, "encrypt with this password");
  sub->add_option("--cipher", options->cipher, "the cipher: " + CipherNameList())->type_name("NAME");
  sub->add_flag("--force", options->force, "replace an existing file");
  OnRun(sub, [options] { return RunCreate(*options); });
}

const CommandRegistration kCreate{"create", AddCreateCommand};

}  // namespace
}  // namespace orbdb
