// orbdb create: a new empty database file.

#include <cstdint>
#include <string>

#include "engine/disk/database_creator.h"
#include "engine/platform/codepage.h"
#include "tools/orbdb/command.h"
#include "tools/orbdb/db_options.h"

namespace orbdb {
namespace {

int RunCreate(const Args& args) {
  std::string path;
  orb::TORBDiskDatabaseOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--page-size") {
      options.PageSize = static_cast<uint16_t>(ParseNumber(a, OptionValue(args, i), 64, 65535));
    } else if (a == "--extent-pages") {
      options.PageCountInExtent = static_cast<uint16_t>(ParseNumber(a, OptionValue(args, i), 1, 65535));
    } else if (a == "--max-connections") {
      options.MaxSessionCount = static_cast<int32_t>(ParseNumber(a, OptionValue(args, i), 1, 1000000));
    } else if (a == "--password") {
      options.Password.Password = orb::Utf8ToAnsi(OptionValue(args, i));
    } else if (a == "--cipher") {
      const std::string& name = OptionValue(args, i);
      const auto cipher = CipherFromName(name);
      if (!cipher) throw UsageError{"unknown cipher '" + name + "'"};
      options.Password.CryptoAlgorithm = *cipher;
    } else if (a.starts_with("--") || !path.empty()) {
      throw UsageError{"unexpected argument '" + a + "'"};
    } else {
      path = a;
    }
  }
  if (path.empty()) throw UsageError{"missing FILE"};
  orb::CreateDiskDatabase(orb::Utf8ToWide(path), options);
  return 0;
}

const Command kCreate{"create",
                      "FILE [--page-size N] [--extent-pages N] [--max-connections N] [--password TEXT] "
                      "[--cipher NAME]",
                      "create an empty database (ciphers: rijndael_128, rijndael_256, des_single, des_triple, "
                      "blowfish, twofish_128, twofish_256, square)",
                      RunCreate};

}  // namespace
}  // namespace orbdb
