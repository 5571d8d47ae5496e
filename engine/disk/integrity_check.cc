#include "engine/disk/integrity_check.h"

#include <utility>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/disk/database_file.h"
#include "engine/disk/disk_header.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/integrity_steps.h"
#include "engine/platform/codepage.h"

namespace orb {

namespace {

// Releases the header lock byte and closes the file, silently (the check
// has read all it needs by then).
class TCheckedFile {
 public:
  explicit TCheckedFile(TORBDatabaseFile& file) : FFile(file) {}
  ~TCheckedFile() {
    try {
      if (FLockOffset >= 0) FFile.UnlockByte(FLockOffset, 1);
    } catch (...) {
    }
    try {
      if (FFile.GetIsOpened()) FFile.CloseFile();
    } catch (...) {
    }
  }
  TCheckedFile(const TCheckedFile&) = delete;
  TCheckedFile& operator=(const TCheckedFile&) = delete;

  void SetLocked(int64_t offset) { FLockOffset = offset; }

 private:
  TORBDatabaseFile& FFile;
  int64_t FLockOffset = -1;
};

std::string PrintableBytes(const uint8_t* bytes, size_t count) {
  std::string out;
  for (size_t i = 0; i < count && bytes[i] != 0; ++i) out += static_cast<char>(bytes[i]);
  return out;
}

}  // namespace

TORBIntegrityChecker::TORBIntegrityChecker() = default;
TORBIntegrityChecker::~TORBIntegrityChecker() = default;

void TORBIntegrityChecker::AddStep(std::unique_ptr<TORBIntegrityCheckStep> step) { FSteps.push_back(std::move(step)); }

TORBIntegrityReport TORBIntegrityChecker::Check(const std::u16string& file_name,
                                                const TORBIntegrityCheckOptions& options) {
  TORBDatabaseFile file;
  // Shared and read-only: other processes keep their opens, and nothing
  // here can write.
  file.OpenFile(file_name, amReadOnly, smShareDenyNone);
  TCheckedFile guard(file);

  int64_t h = 0;
  if (!file.FindSignature(&h)) {
    uint8_t found[kDBSignatureSize] = {};
    size_t got = 0;
    file.ReadBuffer(found, sizeof found, 0, &got);
    RaiseORB(kErrCheckSignature, "Invalid file format. Found signature: '%s', expected: '%s'",
             {Ansi(PrintableBytes(found, got)), kDBSignature});
  }
  // The header lock keeps commits and page allocations of other processes
  // out while the maps and files are read, so that they agree with each
  // other. On a read-only open it is a read lock: writers wait, other
  // checkers do not.
  const int64_t lock_offset = h + kDBHeaderSize + kCryptoHeaderSize + kDBHeaderByteOffset;
  if (!TryUsingTimeOut([&] { return file.LockByte(lock_offset, 1); }, options.LockTries, options.LockDelayMs)) {
    RaiseORB(kErrCheckDatabaseLocked, "Database is locked");
  }
  guard.SetLocked(lock_offset);

  TORBIntegrityReport report;
  TORBIntegrityContext context(file, h, options.Password, report);
  TORBHeaderCheck header;
  TORBAllocationMapCheck maps;
  TORBSystemFilesCheck system_files;
  TORBOwnershipCheck ownership;
  TORBPageHeaderCheck page_headers;
  std::vector<TORBIntegrityCheckStep*> steps = {&header, &maps, &system_files};
  for (const auto& step : FSteps) steps.push_back(step.get());
  steps.push_back(&ownership);
  steps.push_back(&page_headers);
  for (TORBIntegrityCheckStep* step : steps) {
    if (step != &header && !context.HasLayout()) break;
    step->Run(context);
  }
  return report;
}

TORBIntegrityReport CheckDatabaseFile(const std::u16string& file_name, const TORBIntegrityCheckOptions& options) {
  TORBIntegrityChecker checker;
  return checker.Check(file_name, options);
}

}  // namespace orb
