// Commits cut short at every write: a crash of the process (the writes
// before it done, one torn) and a power loss (only what was flushed
// stays). Either way the next open finds the commit whole or not at all,
// without repair. (Whole databases under killed processes: crash_kill_test.cc.)

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/rollback_journal.h"
#include "engine/platform/file.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using testing::DiskScratch;
using testing::ErrorCodeOf;
using testing::ReadAll;
using testing::WriteAll;

constexpr int32_t kSession = 0;
constexpr uint16_t kPageSize = 4096;
constexpr int kCommittedPages = 6;

// Counts the changes made to files and plays a crash at change number
// `crash_at`: that write is cut to `torn_bytes` bytes, and every change
// after it fails. With `power_cut` it also remembers what each change
// overwrote since its file was last flushed, so that PowerCut can drop
// exactly the unflushed changes.
class TCrashHook : public TPlatformWriteHook {
 public:
  TCrashHook(int64_t crash_at, size_t torn_bytes, bool power_cut)
      : FCrashAt(crash_at), FTornBytes(torn_bytes), FPowerCut(power_cut) {}

  size_t BeforeWrite(TPlatformFile& file, int64_t offset, size_t count) override {
    if (!Next()) return FCount - 1 == FCrashAt ? std::min(FTornBytes, count) : 0;
    Remember(file, offset, count);
    return count;
  }
  bool BeforeSetSize(TPlatformFile& file, int64_t size) override {
    if (!Next()) return false;
    int64_t old = 0;
    file.Size(&old);
    Remember(file, size, static_cast<size_t>(std::max<int64_t>(0, old - size)));
    return true;
  }
  bool BeforeFlush(TPlatformFile& file) override {
    if (!Next()) return false;
    FUndo.erase(file.Path());
    return true;
  }

  int64_t Count() const { return FCount; }
  bool Crashed() const { return FCount > FCrashAt; }

  // Puts back every byte and size that no flush made durable, newest
  // first.
  void PowerCut() {
    for (auto& [path, entries] : FUndo) {
      const int fd = ::open(path.c_str(), O_WRONLY);
      if (fd < 0) continue;  // removed since: nothing of it survives
      for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (!it->Bytes.empty()) {
          EXPECT_EQ(::pwrite(fd, it->Bytes.data(), it->Bytes.size(), it->Offset),
                    static_cast<ssize_t>(it->Bytes.size()));
        }
        EXPECT_EQ(::ftruncate(fd, it->Size), 0);
      }
      ::close(fd);
    }
  }

 private:
  struct TUndo {
    int64_t Offset = 0;
    std::vector<uint8_t> Bytes;
    int64_t Size = 0;
  };

  bool Next() { return FCount++ < FCrashAt; }
  void Remember(TPlatformFile& file, int64_t offset, size_t count) {
    if (!FPowerCut) return;
    TUndo undo;
    undo.Offset = offset;
    file.Size(&undo.Size);
    const int64_t end = std::min<int64_t>(undo.Size, offset + static_cast<int64_t>(count));
    if (end > offset) {
      undo.Bytes.resize(static_cast<size_t>(end - offset));
      size_t got = 0;
      file.ReadAt(offset, undo.Bytes.data(), undo.Bytes.size(), &got);
      undo.Bytes.resize(got);
    }
    FUndo[file.Path()].push_back(std::move(undo));
  }

  int64_t FCrashAt;
  size_t FTornBytes;
  bool FPowerCut;
  int64_t FCount = 0;
  std::map<std::string, std::vector<TUndo>> FUndo;
};

class THookScope {
 public:
  explicit THookScope(TPlatformWriteHook* hook) { SetPlatformWriteHook(hook); }
  ~THookScope() { SetPlatformWriteHook(nullptr); }
};

void Fill(TORBPageGuard& page, uint8_t fill) {
  for (int i = 0; i < kPageSize - 40; ++i) page->GetPageData()[i] = static_cast<uint8_t>(fill + i);
  page.MarkDirty();
}

// First data byte of a page; -1 when it reads as removed.
int FirstByte(TORBDiskPageManager& pm, int32_t page_no) {
  TORBPageGuard page = pm.GetPageGuard(kSession, page_no, kPageTypeTableRecord);
  const int b = page->GetState() == kInvalidPageState ? -1 : page->GetPageData()[0];
  page.Release();
  return b;
}

struct TCase {
  const char* Name;
  bool Exclusive;
  bool Encrypted;
};

class RollbackJournalTest : public ::testing::TestWithParam<TCase> {
 protected:
  void SetUp() override {
    TORBDiskPageManager pm;
    pm.CreateAndOpenDatabase(Name(), Password(), kPageSize, 8);
    for (int i = 0; i < kCommittedPages; ++i) {
      TORBPageGuard page = pm.AddPageGuard(kSession, kPageTypeTableRecord);
      FPages.push_back(page.PageNo());
      Fill(page, static_cast<uint8_t>(1 + i));
      page.Release();
      pm.ApplyChanges(kSession);
    }
    pm.CloseDatabase();
    FBaseline = ReadAll(Path());
  }

  std::u16string Name() const { return FDir.WFile("d.orb"); }
  std::string Path() const { return FDir.File("d.orb"); }
  TORBPassword Password() const {
    TORBPassword p;
    if (GetParam().Encrypted) p.Password = "secret";
    return p;
  }
  void Open(TORBDiskPageManager& pm, bool& repair) {
    bool read_only = false, multi_user = !GetParam().Exclusive;
    pm.OpenDatabase(Name(), Password(), read_only, repair, GetParam().Exclusive, multi_user);
  }

  // The commit under test: pages 0 to 3 rewritten, two pages added, page 5
  // removed. True when ApplyChanges returned.
  bool RunCommit(TPlatformWriteHook* hook, bool flush) {
    auto owned = std::make_unique<TORBDiskPageManager>();
    TORBDiskPageManager& pm = *owned;
    bool repair = false;
    Open(pm, repair);
    for (int i = 0; i < 4; ++i) {
      TORBPageGuard page = pm.GetPageGuard(kSession, FPages[i], kPageTypeTableRecord);
      Fill(page, static_cast<uint8_t>(100 + i));
      page.Release();
    }
    for (int i = 0; i < 2; ++i) {
      TORBPageGuard page = pm.AddPageGuard(kSession, kPageTypeTableRecord);
      Fill(page, static_cast<uint8_t>(200 + i));
      page.Release();
    }
    pm.RemovePage(kSession, FPages[5]);
    // The process ends with the hook in place: nothing it writes after the
    // crash, closing included, reaches the file.
    THookScope scope(hook);
    bool returned = true;
    try {
      pm.ApplyChanges(kSession, flush);
    } catch (const EORBException&) {
      returned = false;
      try {
        pm.CancelChanges(kSession);
      } catch (const EORBException&) {
      }
    }
    owned.reset();
    return returned;
  }

  // Opens the file after the crash: no repair, no journal left, the commit
  // whole or absent.
  void ExpectWholeOrAbsent(bool must_be_committed, const std::string& where) {
    SCOPED_TRACE(where);
    TORBDiskPageManager pm;
    bool repair = true;
    Open(pm, repair);
    EXPECT_FALSE(repair);
    EXPECT_FALSE(pm.HasHotJournal());
    const bool committed = FirstByte(pm, FPages[0]) == 100;
    if (must_be_committed) {
      EXPECT_TRUE(committed);
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(FirstByte(pm, FPages[i]), committed ? 100 + i : 1 + i) << i;
    EXPECT_EQ(FirstByte(pm, FPages[4]), 5);
    EXPECT_EQ(FirstByte(pm, FPages[5]), committed ? -1 : 6);
    pm.CloseDatabase();
  }

  int64_t CountChanges(bool flush) {
    TCrashHook counter(INT64_MAX, 0, false);
    EXPECT_TRUE(RunCommit(&counter, flush));
    return counter.Count();
  }

  DiskScratch FDir;
  std::vector<int32_t> FPages;
  std::vector<uint8_t> FBaseline;
};

TEST_P(RollbackJournalTest, CrashAtEveryWriteLeavesTheCommitWholeOrAbsent) {
  const int64_t changes = CountChanges(false);
  ASSERT_GT(changes, 3);
  for (size_t torn : {size_t{0}, size_t{kPageSize / 2 + 3}}) {
    for (int64_t at = 0; at <= changes; ++at) {
      WriteAll(Path(), FBaseline);
      ::unlink(TORBRollbackJournal::PathFor(Path()).c_str());
      TCrashHook hook(at, torn, false);
      const bool returned = RunCommit(&hook, false);
      // A crash among the writes of closing comes after the commit returned.
      if (!hook.Crashed()) {
        EXPECT_TRUE(returned);
      }
      ExpectWholeOrAbsent(returned, "crash at change " + std::to_string(at) + ", torn " + std::to_string(torn));
    }
  }
}

TEST_P(RollbackJournalTest, PowerCutKeepsEveryFlushedCommit) {
  const int64_t changes = CountChanges(true);
  for (int64_t at = 0; at <= changes; ++at) {
    WriteAll(Path(), FBaseline);
    ::unlink(TORBRollbackJournal::PathFor(Path()).c_str());
    TCrashHook hook(at, kPageSize / 3, true);
    const bool returned = RunCommit(&hook, true);
    hook.PowerCut();
    ExpectWholeOrAbsent(returned, "power cut at change " + std::to_string(at));
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, RollbackJournalTest,
                         ::testing::Values(TCase{"shared", false, false}, TCase{"exclusive", true, false},
                                           TCase{"encrypted", false, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A journal whose header or records do not check out is not rolled back,
// and a read-only open refuses a hot journal instead of reading the pages
// it would restore.
TEST(RollbackJournal, TornJournalIsDiscardedAndReadOnlyOpenRefusesAHotOne) {
  DiskScratch dir;
  const std::u16string name = dir.WFile("d.orb");
  const std::string path = dir.File("d.orb");
  int32_t page_no = 0;
  {
    TORBDiskPageManager pm;
    pm.CreateAndOpenDatabase(name, {}, kPageSize, 8);
    TORBPageGuard page = pm.AddPageGuard(kSession, kPageTypeTableRecord);
    page_no = page.PageNo();
    Fill(page, 1);
    page.Release();
    pm.ApplyChanges(kSession);
  }
  // A commit that stops after its journal and its first page write.
  auto crashed_commit = [&] {
    TORBDiskPageManager pm;
    bool read_only = false, repair = false, multi_user = true;
    pm.OpenDatabase(name, {}, read_only, repair, false, multi_user);
    TORBPageGuard page = pm.GetPageGuard(kSession, page_no, kPageTypeTableRecord);
    Fill(page, 50);
    page.Release();
    TCrashHook hook(3, 0, false);
    THookScope scope(&hook);
    EXPECT_NE(ErrorCodeOf([&] { pm.ApplyChanges(kSession); }), 0);
    ErrorCodeOf([&] { pm.CancelChanges(kSession); });
    ErrorCodeOf([&] { pm.CloseDatabase(); });
  };
  const std::string journal = TORBRollbackJournal::PathFor(path);
  crashed_commit();
  ASSERT_TRUE(TORBRollbackJournal::ReadHot(path, kPageSize, nullptr));
  {
    TORBDiskPageManager pm;
    bool read_only = true, repair = false, multi_user = true;
    EXPECT_EQ(ErrorCodeOf([&] { pm.OpenDatabase(name, {}, read_only, repair, false, multi_user); }),
              kErrJournalReadOnly);
  }
  // A flipped byte in the journal header: the journal is not trusted.
  std::vector<uint8_t> bytes = ReadAll(journal);
  ASSERT_GT(bytes.size(), TORBRollbackJournal::kHeaderSize);
  bytes[30] ^= 0xFF;
  WriteAll(journal, bytes);
  EXPECT_FALSE(TORBRollbackJournal::ReadHot(path, kPageSize, nullptr));
  TORBDiskPageManager pm;
  bool read_only = false, repair = false, multi_user = true;
  pm.OpenDatabase(name, {}, read_only, repair, false, multi_user);
  EXPECT_FALSE(TPlatformFile::Exists(journal));
}

}  // namespace
}  // namespace orb
