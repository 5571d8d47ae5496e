#include "engine/disk/integrity_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/disk/database_creator.h"
#include "engine/disk/database_file.h"
#include "engine/disk/disk_header.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/free_space.h"
#include "engine/disk/internal_file.h"
#include "engine/disk/system_directory.h"
#include "engine/disk/table_list.h"
#include "engine/platform/byte_order.h"
#include "engine/table/page_header.h"
#include "tests/engine/disk/unprivileged.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using Kind = TORBIntegrityFindingKind;
using testing::DiskScratch;
using testing::ErrorCodeOf;
using testing::ReadAll;
using testing::WriteAll;

constexpr int32_t kSys = TORBPageManager::kSystemSession;
constexpr int64_t kFirstPage = kFrontPartSize;  // page 0 of a file the engine creates

// Where the structures of a built database lie.
struct TBuilt {
  int32_t PageSize = 0;
  int32_t Extent = 0;
  int32_t Total = 0;
  int32_t Sessions = -1;
  int32_t Tables = -1;
  // Per table, in table list order: metadata chain, most-updated and locks
  // first pages.
  struct TTable {
    std::vector<int32_t> MetaData;
    int32_t MostUpdated = -1;
    int32_t Locks = -1;
  };
  std::vector<TTable> TableFiles;
};

struct TBuildOptions {
  uint16_t PageSize = 4096;
  uint16_t Extent = 8;
  std::string Password;
  TORBCryptoAlgorithm Cipher = craRijndael_128;
  bool WithTables = true;
};

int64_t PageOffset(const TBuilt& b, int64_t page_no) { return kFirstPage + page_no * b.PageSize; }

std::vector<int32_t> ChainOf(const std::vector<uint8_t>& file, const TBuilt& b, int32_t first) {
  std::vector<int32_t> chain;
  for (int32_t p = first; p != -1 && chain.size() < 100; p = ReadPageHeaderNextPageNo(file.data() + PageOffset(b, p))) {
    chain.push_back(p);
  }
  return chain;
}

// A database made through the engine's own APIs: the created file, then
// (with tables) two tables with a three-page metadata file, a most-updated
// file and a locks file each, and a third table added, grown, shrunk and
// removed again so that pages were freed and reused.
TBuilt BuildDatabase(const std::string& path, const TBuildOptions& o) {
  TORBDiskDatabaseOptions options;
  options.PageSize = o.PageSize;
  options.PageCountInExtent = o.Extent;
  options.Password.Password = o.Password;
  options.Password.CryptoAlgorithm = o.Cipher;
  CreateDiskDatabase(Utf8ToWide(path), options);
  if (o.WithTables) {
    TORBDiskPageManager pm;
    bool read_only = false, repair = false, multi_user = false;
    pm.OpenDatabase(Utf8ToWide(path), options.Password, read_only, repair, false, multi_user);
    TORBSystemDirectory directory(&pm);
    directory.LoadDirectory();
    TORBTableListFile list(&pm);
    list.OpenFile(directory.GetFileFirstPageNo(dbftTablesList));
    list.Load();
    auto add_table = [&](const std::string& name, int32_t meta_size) {
      TORBInternalDBTransactedAccessFile meta(&pm, kPageTypeTableMetaData);
      meta.CreateFile(kSys);
      std::vector<uint8_t> bytes(static_cast<size_t>(meta_size));
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
      meta.WriteFile(kSys, bytes.data(), static_cast<int32_t>(bytes.size()));
      TORBInternalDBTransactedAccessFile most_updated(&pm, kPageTypeTableMostUpdated);
      most_updated.CreateFile(kSys);
      most_updated.WriteFile(kSys, bytes.data(), 40);
      TORBInternalDBDirectAccessFile locks(&pm, kPageTypeTableLocks);
      locks.CreateFile(12 * 500);
      list.AddTable(pm.GetNextObjectID(), name, meta.GetStartPageNo(), most_updated.GetStartPageNo(),
                    locks.GetStartPageNo());
      list.Save();
      pm.ApplyChanges(kSys);
      return std::vector<int32_t>{meta.GetStartPageNo(), most_updated.GetStartPageNo(), locks.GetStartPageNo()};
    };
    const int32_t data = o.PageSize - 40;
    add_table("Orders", 3 * data - 20);
    const std::vector<int32_t> scratch = add_table("Scratch", 5 * data);
    {
      // Shrink, then drop the table with its files.
      TORBInternalDBTransactedAccessFile meta(&pm, kPageTypeTableMetaData);
      meta.OpenFile(scratch[0]);
      const uint8_t few[3] = {1, 2, 3};
      meta.WriteFile(kSys, few, 3);
      pm.ApplyChanges(kSys);
      meta.DeleteFile(kSys);
      TORBInternalDBTransactedAccessFile most_updated(&pm, kPageTypeTableMostUpdated);
      most_updated.DeleteFile(kSys, scratch[1]);
      TORBInternalDBDirectAccessFile locks(&pm, kPageTypeTableLocks);
      locks.OpenFile(scratch[2]);
      locks.DeleteFile();
      list.RemoveTable("Scratch");
      list.Save();
      pm.ApplyChanges(kSys);
    }
    add_table("Customers", 2 * data + 100);
    list.CloseFile();
    pm.CloseDatabase();
  }

  const std::vector<uint8_t> file = ReadAll(path);
  TBuilt b;
  const TORBDBHeader h = TORBDBHeader::LoadFrom(file.data());
  b.PageSize = h.PageSize;
  b.Extent = h.PageCountInExtent;
  b.Total = h.TotalPageCount;
  // Read back with the engine's own classes: the directory and the list.
  TORBDiskPageManager pm;
  bool read_only = true, repair = false, multi_user = false;
  TORBPassword password;
  password.Password = o.Password;
  pm.OpenDatabase(Utf8ToWide(path), password, read_only, repair, false, multi_user);
  TORBSystemDirectory directory(&pm);
  directory.LoadDirectory();
  b.Sessions = directory.GetFileFirstPageNo(dbftActiveSessionsList);
  b.Tables = directory.GetFileFirstPageNo(dbftTablesList);
  TORBTableListFile list(&pm);
  list.OpenFile(b.Tables);
  list.Load();
  for (const TORBTableListItem& item : list.Tables()) {
    b.TableFiles.push_back(
        {ChainOf(file, b, item.MetaDataFilePageNo), item.MostUpdatedFilePageNo, item.LocksFilePageNo});
  }
  list.CloseFile();
  pm.CloseDatabase();
  return b;
}

TORBIntegrityReport Check(const std::string& path, const std::string& password = {}) {
  TORBIntegrityCheckOptions options;
  options.Password.Password = password;
  options.LockTries = 50;
  return CheckDatabaseFile(Utf8ToWide(path), options);
}

std::string Joined(const TORBIntegrityReport& report) {
  std::string out;
  for (const std::string& line : report.Lines()) out += line + "\n";
  return out;
}

// --- sound files ------------------------------------------------------------

TEST(IntegrityCheckTest, DatabasesBuiltByTheEngineCheckOk) {
  const struct {
    const char* name;
    TBuildOptions options;
  } cases[] = {
      {"empty", {4096, 8, "", craRijndael_128, false}},
      {"tables", {4096, 8, "", craRijndael_128, true}},
      {"small pages, one-page extents", {512, 1, "", craRijndael_128, true}},
      {"odd sizes", {100, 3, "", craRijndael_128, true}},
      {"encrypted, empty", {4096, 8, "secret", craRijndael_128, false}},
      {"encrypted, tables", {1024, 8, "secret", craBlowfish, true}},
      {"encrypted, DES", {512, 2, "pw", craDES_Single, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DiskScratch dir;
    const std::string path = dir.File("db.orb");
    const TBuilt b = BuildDatabase(path, c.options);
    if (c.options.WithTables) {
      ASSERT_EQ(b.TableFiles.size(), 2u);
    }
    const std::vector<uint8_t> before = ReadAll(path);
    const TORBIntegrityReport report = Check(path, c.options.Password);
    EXPECT_TRUE(report.IsOk()) << Joined(report);
    EXPECT_EQ(ReadAll(path), before) << "the check changed the file";
  }
}

// A database behind other data (a program file in front of it) is found by
// its signature; every offset shifts with it.
TEST(IntegrityCheckTest, DatabaseBehindOtherData) {
  DiskScratch dir;
  const std::string path = dir.File("db.orb");
  const TBuilt b = BuildDatabase(path, {1024, 4, "pw", craSquare, true});
  std::vector<uint8_t> f(1000, 0x5A);
  const std::vector<uint8_t> db = ReadAll(path);
  f.insert(f.end(), db.begin(), db.end());
  WriteAll(path, f);
  TORBIntegrityReport report = Check(path, "pw");
  EXPECT_TRUE(report.IsOk()) << Joined(report);
  // The same damage as at offset 0 is found at the same page.
  f[1000 + PageOffset(b, b.Tables) + TORBDiskPageHeader::kOffPageType] = 99;
  WriteAll(path, f);
  report = Check(path, "pw");
  EXPECT_TRUE(report.Has(Kind::PageType, b.Tables)) << Joined(report);
}

// The file is only read: a file the checking user cannot write checks ok.
TEST(IntegrityCheckTest, ChecksAFileItCannotWrite) {
  DiskScratch dir;
  const std::string path = dir.File("db.orb");
  BuildDatabase(path, {});
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(chmod(std::filesystem::path(path).parent_path().c_str(), 0755), 0);
  testing::RunUnprivileged([&] {
    const TORBIntegrityReport report = Check(path);
    EXPECT_TRUE(report.IsOk()) << Joined(report);
  });
}

// Other opens of the file stay: a shared open (even mid-way through its own
// work) lets the check run; an exclusive one keeps the check out.
TEST(IntegrityCheckTest, RunsBesideASharedOpenNotBesideAnExclusiveOne) {
  DiskScratch dir;
  const std::string path = dir.File("db.orb");
  BuildDatabase(path, {});
  {
    TORBDiskPageManager pm;
    bool read_only = false, repair = false, multi_user = true;
    pm.OpenDatabase(Utf8ToWide(path), {}, read_only, repair, false, multi_user);
    ASSERT_TRUE(multi_user);
    const TORBIntegrityReport report = Check(path);
    EXPECT_TRUE(report.IsOk()) << Joined(report);
    pm.CloseDatabase();
  }
  {
    TORBDiskPageManager pm;
    bool read_only = false, repair = false, multi_user = false;
    pm.OpenDatabase(Utf8ToWide(path), {}, read_only, repair, true, multi_user);
    EXPECT_NE(ErrorCodeOf([&] { Check(path); }), 0);
    pm.CloseDatabase();
  }
}

// A process committing in a loop while the file is checked again and again:
// the header lock keeps every check between two commits, so none sees a
// half-written commit.
TEST(IntegrityCheckTest, ChecksBetweenTheCommitsOfAnotherProcess) {
  DiskScratch dir;
  const std::string path = dir.File("db.orb");
  BuildDatabase(path, {});
  const std::string stop = dir.File("stop");
  const std::string cmd = std::string(ORB_TEST_BIN_DIR) + "/orb_commit_loop_child '" + path + "' '" + stop + "'";
  FILE* child = popen(cmd.c_str(), "r");
  ASSERT_NE(child, nullptr);
  char line[128] = {};
  ASSERT_NE(fgets(line, sizeof line, child), nullptr);
  ASSERT_STREQ(line, "ready\n");
  for (int i = 0; i < 40; ++i) {
    const TORBIntegrityReport report = Check(path);
    EXPECT_TRUE(report.IsOk()) << "check " << i << "\n" << Joined(report);
  }
  WriteAll(stop, {});
  ASSERT_NE(fgets(line, sizeof line, child), nullptr);
  EXPECT_EQ(pclose(child), 0) << line;
  int commits = 0;
  ASSERT_EQ(std::sscanf(line, "done %d", &commits), 1) << line;
  EXPECT_GT(commits, 0);
  const TORBIntegrityReport report = Check(path);
  EXPECT_TRUE(report.IsOk()) << Joined(report);
}

// A page taken by a connected session that has not committed yet is in use
// without an owner; while a session is connected the line says so.
TEST(IntegrityCheckTest, UncommittedPagesOfAConnectedSession) {
  DiskScratch dir;
  const std::string path = dir.File("db.orb");
  const TBuilt b = BuildDatabase(path, {});
  TORBDiskPageManager pm;
  bool read_only = false, repair = false, multi_user = true;
  pm.OpenDatabase(Utf8ToWide(path), {}, read_only, repair, false, multi_user);
  TORBInternalDBDirectAccessFile sessions(&pm, kPageTypeActiveSessionList);
  sessions.OpenFile(b.Sessions);
  ASSERT_TRUE(sessions.LockByte(499));
  const int32_t taken = pm.FreeSpaceManager()->GetPage();
  auto leaked_line = [&](const TORBIntegrityReport& report) {
    for (const TORBIntegrityFinding& f : report.Findings()) {
      if (f.Kind == Kind::Leaked && f.PageNo == taken) return f.Text();
    }
    return std::string("none\n") + Joined(report);
  };
  const std::string page = "page " + std::to_string(taken) + ": ";
  EXPECT_EQ(leaked_line(Check(path)),
            page + "allocated but not owned (leaked, or not yet committed by a connected session)");
  ASSERT_TRUE(sessions.UnlockByte(499));
  EXPECT_EQ(leaked_line(Check(path)), page + "allocated but not owned (leaked)");
  pm.FreeSpaceManager()->FreePage(taken);
  EXPECT_TRUE(Check(path).IsOk());
  pm.CloseDatabase();
}

// --- files that cannot be checked --------------------------------------------

TEST(IntegrityCheckTest, RefusesWhatIsNoDatabaseOrCannotBeRead) {
  DiskScratch dir;
  const std::string path = dir.File("db.orb");
  BuildDatabase(path, {4096, 8, "secret", craTwofish_128, false});
  EXPECT_EQ(ErrorCodeOf([&] { Check(path, "wrong"); }), kErrCheckPassword);
  EXPECT_EQ(ErrorCodeOf([&] { Check(path); }), kErrCheckPassword);

  const std::string text = dir.File("text.txt");
  WriteAll(text, {'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(ErrorCodeOf([&] { Check(text); }), kErrCheckSignature);
  WriteAll(text, {});
  EXPECT_EQ(ErrorCodeOf([&] { Check(text); }), kErrCheckSignature);
  EXPECT_NE(ErrorCodeOf([&] { Check(dir.File("missing.orb")); }), 0);

  // The header lock held by another open file for longer than the retries.
  TORBDatabaseFile holder;
  holder.OpenFile(Utf8ToWide(path), amReadWrite, smShareDenyNone);
  ASSERT_TRUE(holder.LockByte(kDBHeaderSize + kCryptoHeaderSize + kDBHeaderByteOffset, 1));
  TORBIntegrityCheckOptions options;
  options.Password.Password = "secret";
  options.LockTries = 2;
  options.LockDelayMs = 1;
  EXPECT_EQ(ErrorCodeOf([&] { CheckDatabaseFile(Utf8ToWide(path), options); }), kErrCheckDatabaseLocked);
  holder.CloseFile();
  EXPECT_TRUE(CheckDatabaseFile(Utf8ToWide(path), options).IsOk());
}

// --- damaged files ------------------------------------------------------------

void PokeI32(std::vector<uint8_t>& f, int64_t at, int32_t v) { StoreI32LE(f.data() + at, v); }
void PokeU16(std::vector<uint8_t>& f, int64_t at, uint16_t v) { StoreU16LE(f.data() + at, v); }

int64_t HeaderField(const TBuilt& b, int64_t page_no, size_t field) { return PageOffset(b, page_no) + field; }
// Contents position `position` of a file whose chain starts at `first`
// (only the first page's bytes are used by the cases below).
int64_t ContentsAt(const TBuilt& b, int32_t first, int64_t position) {
  return PageOffset(b, first) + 40 + 10 + position;
}

bool PfsBit(const std::vector<uint8_t>& f, const TBuilt& b, int64_t page_no) {
  return (f[PageOffset(b, 0) + 40 + page_no / 8] >> (page_no % 8)) & 1;
}
void SetPfsBit(std::vector<uint8_t>& f, const TBuilt& b, int64_t page_no, bool used) {
  uint8_t& byte = f[PageOffset(b, 0) + 40 + page_no / 8];
  const uint8_t mask = static_cast<uint8_t>(1u << (page_no % 8));
  byte = used ? static_cast<uint8_t>(byte | mask) : static_cast<uint8_t>(byte & ~mask);
}
int32_t FirstFreePage(const std::vector<uint8_t>& f, const TBuilt& b) {
  for (int32_t n = 2; n < b.Total; ++n) {
    if (!PfsBit(f, b, n)) return n;
  }
  return -1;
}

struct TDamage {
  const char* name;
  // Damages the copy; returns the page of the expected finding (-1: file).
  std::function<int64_t(std::vector<uint8_t>&, const TBuilt&)> apply;
  Kind kind;
};

const std::vector<TDamage>& Damages() {
  static const std::vector<TDamage> damages = {
      {"page marked free while the table list uses it",
       [](auto& f, const TBuilt& b) {
         SetPfsBit(f, b, b.Tables, false);
         return b.Tables;
       },
       Kind::FreeButOwned},
      {"page in use owned by nobody",
       [](auto& f, const TBuilt& b) {
         const int32_t n = FirstFreePage(f, b);
         SetPfsBit(f, b, n, true);
         return n;
       },
       Kind::Leaked},
      {"internal file chain looping",
       [](auto& f, const TBuilt& b) {
         const auto& chain = b.TableFiles[0].MetaData;
         PokeI32(f, HeaderField(b, chain.back(), TORBDiskPageHeader::kOffNextPageNo), chain.front());
         return chain.back();
       },
       Kind::ChainLoop},
      {"chain pointing past the end",
       [](auto& f, const TBuilt& b) {
         const auto& chain = b.TableFiles[0].MetaData;
         PokeI32(f, HeaderField(b, chain.back(), TORBDiskPageHeader::kOffNextPageNo), b.Total + 3);
         return chain.back();
       },
       Kind::PastEnd},
      {"chain ending early",
       [](auto& f, const TBuilt& b) {
         const auto& chain = b.TableFiles[0].MetaData;
         PokeI32(f, HeaderField(b, chain[1], TORBDiskPageHeader::kOffNextPageNo), -1);
         return chain.front();
       },
       Kind::ChainShort},
      {"bad page type",
       [](auto& f, const TBuilt& b) {
         PokeU16(f, HeaderField(b, b.Tables, TORBDiskPageHeader::kOffPageType), 77);
         return b.Tables;
       },
       Kind::PageType},
      {"truncated file",
       [](auto& f, const TBuilt& b) {
         f.resize(static_cast<size_t>(PageOffset(b, b.Total - 1) + 100));
         return int64_t{-1};
       },
       Kind::FileTooShort},
      {"damaged system directory entry",
       [](auto& f, const TBuilt& b) {
         f[ContentsAt(b, 2, 5)] = 9;  // file type of entry 1
         return int64_t{2};
       },
       Kind::DirectoryEntry},
      {"system directory entry pointing past the end",
       [](auto& f, const TBuilt& b) {
         PokeI32(f, ContentsAt(b, 2, 1), 1 << 30);
         return int64_t{2};
       },
       Kind::PastEnd},
      {"page owned twice",
       [](auto& f, const TBuilt& b) {
         // Entry 0's metadata file becomes entry 1's.
         PokeI32(f, ContentsAt(b, b.Tables, 260), b.TableFiles[1].MetaData.front());
         return b.TableFiles[1].MetaData.front();
       },
       Kind::OwnedTwice},
      {"reference to a page of another type",
       [](auto& f, const TBuilt& b) {
         // Entry 0's locks file becomes entry 1's metadata file.
         PokeI32(f, ContentsAt(b, b.Tables, 268), b.TableFiles[1].MetaData.front());
         return b.TableFiles[1].MetaData.front();
       },
       Kind::PageType},
      {"table id out of range",
       [](auto& f, const TBuilt& b) {
         PokeI32(f, ContentsAt(b, b.Tables, 256), 1000);
         return b.Tables;
       },
       Kind::TableEntry},
      {"table name used twice",
       [](auto& f, const TBuilt& b) {
         const char name[] = "ORDERS";
         f[ContentsAt(b, b.Tables, 272)] = 6;
         std::copy(name, name + 6, f.begin() + ContentsAt(b, b.Tables, 273));
         return b.Tables;
       },
       Kind::TableEntry},
      {"internal file header damaged",
       [](auto& f, const TBuilt& b) {
         PokeI32(f, PageOffset(b, b.TableFiles[0].MostUpdated) + 40 + 1, -5);
         return b.TableFiles[0].MostUpdated;
       },
       Kind::FileHeader},
      {"page stamped as removed while in use",
       [](auto& f, const TBuilt& b) {
         PokeI32(f, HeaderField(b, b.Tables, TORBDiskPageHeader::kOffState), kInvalidPageState);
         return b.Tables;
       },
       Kind::PageState},
      {"page signature damaged",
       [](auto& f, const TBuilt& b) {
         f[HeaderField(b, b.Sessions, 2)] = 'X';
         return b.Sessions;
       },
       Kind::PageSignature},
      {"page header field damaged",
       [](auto& f, const TBuilt& b) {
         PokeI32(f, HeaderField(b, b.TableFiles[1].Locks, TORBDiskPageHeader::kOffObjectID), 12);
         return b.TableFiles[1].Locks;
       },
       Kind::PageHeaderField},
      {"extent marked full with a free page",
       [](auto& f, const TBuilt& b) {
         const int32_t n = FirstFreePage(f, b);
         const int64_t extent = n / b.Extent;
         f[PageOffset(b, 1) + 40 + extent / 4] |= static_cast<uint8_t>(3u << (2 * (extent % 4)));
         return extent * b.Extent;
       },
       Kind::ExtentCode},
      {"EAM page not marked in use",
       [](auto& f, const TBuilt& b) {
         SetPfsBit(f, b, 1, false);
         return int64_t{1};
       },
       Kind::MapPageNotInUse},
      {"PFS page of another type",
       [](auto& f, const TBuilt& b) {
         PokeU16(f, HeaderField(b, 0, TORBDiskPageHeader::kOffPageType), kPageTypeTableList);
         return int64_t{0};
       },
       Kind::PageType},
      {"page marked in use past the end of the page area",
       [](auto& f, const TBuilt& b) {
         SetPfsBit(f, b, b.Total + 1, true);
         return int64_t{b.Total + 1};
       },
       Kind::UsedPastEnd},
      {"header: no pages in an extent",
       [](auto& f, const TBuilt&) {
         PokeU16(f, 28, 0);
         return int64_t{-1};
       },
       Kind::HeaderField},
      {"header: page count far beyond the file",
       [](auto& f, const TBuilt&) {
         PokeI32(f, 30, 0x7FFFFFFF);
         return int64_t{-1};
       },
       Kind::FileTooShort},
      {"header: pages too small for an internal file",
       [](auto& f, const TBuilt&) {
         PokeU16(f, 26, 50);
         return int64_t{-1};
       },
       Kind::HeaderField},
      {"lock bytes: size below the lock targets",
       [](auto& f, const TBuilt&) {
         PokeU16(f, kDBHeaderSize + kCryptoHeaderSize, 2);
         return int64_t{-1};
       },
       Kind::HeaderField},
      {"header: commit left unfinished",
       [](auto& f, const TBuilt&) {
         f[42] = kWriteChangesWriting;
         return int64_t{-1};
       },
       Kind::UnfinishedCommit},
      {"header: LastUsedPageNo below a page in use",
       [](auto& f, const TBuilt&) {
         PokeI32(f, 34, 2);
         return int64_t{-1};
       },
       Kind::LastUsedPageNo},
  };
  return damages;
}

TEST(IntegrityCheckTest, EachDamageGivesItsFinding) {
  DiskScratch dir;
  const std::string original = dir.File("db.orb");
  const TBuilt b = BuildDatabase(original, {});
  const std::vector<uint8_t> sound = ReadAll(original);
  ASSERT_NE(FirstFreePage(sound, b), -1);
  ASSERT_GE(b.TableFiles[0].MetaData.size(), 3u);
  for (const TDamage& d : Damages()) {
    SCOPED_TRACE(d.name);
    std::vector<uint8_t> copy = sound;
    const int64_t page = d.apply(copy, b);
    const std::string path = dir.File("damaged.orb");
    WriteAll(path, copy);
    TORBIntegrityReport report;
    ASSERT_NO_THROW(report = Check(path));
    EXPECT_TRUE(report.Has(d.kind, page)) << "expected kind " << static_cast<int>(d.kind) << " on page " << page << "\n"
                                          << Joined(report);
  }
}

// Encrypted page data is checked against its checksum; the page headers
// stay readable without the data.
TEST(IntegrityCheckTest, EncryptedPageDataDamage) {
  DiskScratch dir;
  const std::string path = dir.File("db.orb");
  const TBuilt b = BuildDatabase(path, {4096, 8, "secret", craRijndael_256, true});
  std::vector<uint8_t> f = ReadAll(path);
  f[PageOffset(b, b.TableFiles[1].MostUpdated) + 100] ^= 0x10;
  PokeI32(f, HeaderField(b, b.TableFiles[0].MetaData[1], TORBDiskPageHeader::kOffNextPageNo), b.Tables);
  WriteAll(path, f);
  const TORBIntegrityReport report = Check(path, "secret");
  EXPECT_TRUE(report.Has(Kind::PageChecksum, b.TableFiles[1].MostUpdated)) << Joined(report);
  // A reference to a page of another structure: the wrong type is the
  // finding; the table list still owns its page without a second one.
  EXPECT_TRUE(report.Has(Kind::PageType, b.Tables)) << Joined(report);
  EXPECT_FALSE(report.Has(Kind::OwnedTwice, b.Tables)) << Joined(report);
  EXPECT_TRUE(report.Has(Kind::Leaked, b.TableFiles[0].MetaData[2])) << Joined(report);
}

// Lines are stable: one sorted form (file first, then by page, then by
// kind), whatever order the steps found them in.
TEST(IntegrityCheckTest, LinesAreSortedByPageThenKind) {
  DiskScratch dir;
  const std::string path = dir.File("db.orb");
  const TBuilt b = BuildDatabase(path, {});
  ASSERT_LT(b.Sessions, b.Tables);
  std::vector<uint8_t> f = ReadAll(path);
  PokeI32(f, ContentsAt(b, b.Tables, 256), 1000);
  PokeI32(f, HeaderField(b, b.Tables, TORBDiskPageHeader::kOffState), kInvalidPageState);
  f[HeaderField(b, b.Sessions, 2)] = 'X';
  f[42] = kWriteChangesWriting;
  WriteAll(path, f);
  const std::string tables = "page " + std::to_string(b.Tables) + ": ";
  const std::vector<std::string> expected = {
      "file: a commit did not finish (WriteChangesState 1, repair needed)",
      "page " + std::to_string(b.Sessions) + ": page signature damaged (expected ORBP, found ORXP)",
      tables + "stamped as removed but used by the table list",
      tables + "table list entry 0: table id out of range (expected 1 to 3, found 1000)",
  };
  EXPECT_EQ(Check(path).Lines(), expected);
  EXPECT_EQ(Check(path).Lines(), expected);
}

// A step added to the checker runs after the system files (it sees the
// tables) and before the ownership check (the pages it claims are owned).
TEST(IntegrityCheckTest, AddedStepsSeeTheTablesAndOwnPages) {
  class TClaimStep : public TORBIntegrityCheckStep {
   public:
    explicit TClaimStep(int64_t page_no) : FPageNo(page_no) {}
    std::string_view Name() const override { return "test structure"; }
    void Run(TORBIntegrityContext& context) override {
      for (const TORBTableListItem& t : context.Tables()) FTables.push_back(t.TableName);
      context.Claim(FPageNo, context.NewOwner("a test structure", kPageTypeTableRecord));
    }
    int64_t FPageNo;
    std::vector<std::string> FTables;
  };
  DiskScratch dir;
  const std::string path = dir.File("db.orb");
  const TBuilt b = BuildDatabase(path, {});
  std::vector<uint8_t> f = ReadAll(path);
  const int32_t page = FirstFreePage(f, b);
  SetPfsBit(f, b, page, true);
  WriteAll(path, f);

  TORBIntegrityChecker checker;
  auto step = std::make_unique<TClaimStep>(page);
  TClaimStep* seen = step.get();
  checker.AddStep(std::move(step));
  TORBIntegrityCheckOptions options;
  const TORBIntegrityReport report = checker.Check(Utf8ToWide(path), options);
  EXPECT_EQ(seen->FTables, (std::vector<std::string>{"Orders", "Customers"}));
  EXPECT_FALSE(report.Has(Kind::Leaked, page)) << Joined(report);
  // The page was never written: its header is checked as the new owner's.
  EXPECT_TRUE(report.Has(Kind::PageSignature, page)) << Joined(report);
}

// Random damage: bytes flipped in copies of a sound file. The check reports
// or says ok; it never crashes, hangs or fails otherwise. Only a damaged
// signature or control block may stop it, with its coded error.
TEST(IntegrityCheckTest, RandomDamageNeverCrashes) {
  DiskScratch dir;
  const std::string original = dir.File("db.orb");
  const TBuilt b = BuildDatabase(original, {512, 2, "", craRijndael_128, true});
  const std::vector<uint8_t> sound = ReadAll(original);
  const std::string path = dir.File("damaged.orb");
  int reported = 0;
  for (unsigned seed = 1; seed <= 300; ++seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> copy = sound;
    const int flips = 1 + static_cast<int>(gen() % 8);
    for (int i = 0; i < flips; ++i) {
      // Half the flips land in page headers and the front part, where the
      // structure lives.
      size_t at = gen() % copy.size();
      if (gen() % 2 == 0) {
        const int64_t page = gen() % static_cast<unsigned>(b.Total);
        at = static_cast<size_t>(gen() % 3 == 0 ? gen() % kFirstPage : PageOffset(b, page) + gen() % 60);
      }
      copy[at] ^= static_cast<uint8_t>(1u << (gen() % 8));
    }
    if (gen() % 10 == 0) copy.resize(gen() % copy.size());
    WriteAll(path, copy);
    SCOPED_TRACE(seed);
    try {
      if (!Check(path).IsOk()) ++reported;
    } catch (const EORBException& e) {
      EXPECT_TRUE(e.NativeError() == kErrCheckSignature || e.NativeError() == kErrCheckPassword) << e.what();
    }
  }
  EXPECT_GT(reported, 100);
}

}  // namespace
}  // namespace orb
