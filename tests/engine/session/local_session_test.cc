// Local sessions on disk databases: connecting in each mode, the registry,
// transactions and what a failed or ended connection leaves behind.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "engine/base/error_codes.h"
#include "engine/disk/active_sessions_file.h"
#include "engine/disk/system_directory.h"
#include "engine/platform/file.h"
#include "tests/engine/session/session_test_support.h"

namespace orb {
namespace {

using testing::AddFilledPage;
using testing::CreateDatabaseFile;
using testing::DiskScratch;
using testing::ErrorCodeOf;
using testing::MakeSession;
using testing::RegisteredDiskCount;
using testing::StoredPageFilled;

class LocalSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FPath = FDir.File("db.orb");
    CreateDatabaseFile(FPath);
  }
  void TearDown() override { EXPECT_EQ(RegisteredDiskCount(), 0); }

  DiskScratch FDir;
  std::string FPath;
};

TEST_F(LocalSessionTest, SingleUserSessionsShareOneOpenAndTheLastDisconnectClosesIt) {
  auto a = MakeSession(FPath);
  auto b = MakeSession(FPath);
  a->SetConnected(true);
  b->SetConnected(true);
  EXPECT_TRUE(a->GetConnected());
  EXPECT_EQ(a->DatabaseData(), b->DatabaseData());
  EXPECT_EQ(a->GetSessionID(), 0);
  EXPECT_EQ(b->GetSessionID(), 0);
  EXPECT_FALSE(a->FReadOnly);
  EXPECT_FALSE(a->FMultiUser);
  EXPECT_TRUE(a->DiskDatabaseData()->GetSingleUserConnected());
  EXPECT_EQ(a->FPageSize, 4096);
  EXPECT_EQ(a->FMaxSessionCount, 8);
  EXPECT_EQ(RegisteredDiskCount(), 1);
  // The single-user process holds every slot.
  EXPECT_EQ(a->GetDBFileConnectionsCount(), 8);
  std::vector<std::u16string> tables{u"stale"};
  a->GetTablesList(tables);
  EXPECT_TRUE(tables.empty());
  {
    TORBDiskDatabaseData* data = a->DiskDatabaseData();
    data->AddTable(data->GetNewObjectId(), u"Orders", 3, 3, 3);
    TCriticalSectionGuard guard(data->CSect());
    data->DiskPageManager()->ApplyChanges(TORBPageManager::kSystemSession);
  }
  EXPECT_TRUE(b->TableExists(u"ORDERS"));
  EXPECT_FALSE(b->TableExists(u"Items"));

  a->SetConnected(false);
  EXPECT_FALSE(a->GetConnected());
  EXPECT_EQ(a->GetSessionID(), -1);
  EXPECT_EQ(RegisteredDiskCount(), 1);
  b->SetConnected(false);
  EXPECT_EQ(RegisteredDiskCount(), 0);
  // Closed: another open may now hold the file alone.
  TPlatformFile file;
  EXPECT_TRUE(file.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kOpenExisting).Ok());
  file.Close();
  // And a new session opens it again.
  a->SetConnected(true);
  EXPECT_EQ(RegisteredDiskCount(), 1);
  a->SetConnected(false);
}

TEST_F(LocalSessionTest, MultiUserSessionsTakeTheirOwnSlots) {
  auto a = MakeSession(FPath, true);
  auto b = MakeSession(FPath, true);
  a->SetConnected(true);
  b->SetConnected(true);
  EXPECT_TRUE(a->FMultiUser);
  EXPECT_EQ(a->DatabaseData(), b->DatabaseData());
  EXPECT_NE(a->GetSessionID(), b->GetSessionID());
  EXPECT_EQ(a->GetDBFileConnectionsCount(), 2);
  b->SetConnected(false);
  EXPECT_EQ(a->GetDBFileConnectionsCount(), 1);
  a->SetConnected(false);
}

TEST_F(LocalSessionTest, MixedModesAreRefusedWithoutTakingASlot) {
  auto multi = MakeSession(FPath, true);
  multi->SetConnected(true);
  auto single = MakeSession(FPath, false);
  EXPECT_EQ(ErrorCodeOf([&] { single->SetConnected(true); }), 20235);
  EXPECT_FALSE(single->GetConnected());
  EXPECT_EQ(multi->GetDBFileConnectionsCount(), 1);
  multi->SetConnected(false);

  single->SetConnected(true);
  auto multi2 = MakeSession(FPath, true);
  EXPECT_EQ(ErrorCodeOf([&] { multi2->SetConnected(true); }), 20235);
  EXPECT_FALSE(multi2->GetConnected());
  single->SetConnected(false);
}

TEST_F(LocalSessionTest, ReadOnlySessionCannotAllocate) {
  auto session = MakeSession(FPath);
  session->FReadOnly = true;
  session->SetConnected(true);
  EXPECT_TRUE(session->FReadOnly);
  EXPECT_EQ(ErrorCodeOf([&] { AddFilledPage(*session, 1); }), kErrReadOnlyAllocation);
  session->SetConnected(false);
}

TEST_F(LocalSessionTest, ExclusiveSessionKeepsOtherOpensOut) {
  auto session = MakeSession(FPath);
  session->FExclusive = true;
  session->SetConnected(true);
  EXPECT_TRUE(session->DiskDatabaseData()->DiskPageManager()->GetExclusive());
  TPlatformFile file;
  EXPECT_FALSE(file.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  session->SetConnected(false);
}

TEST_F(LocalSessionTest, RelativeAndSymlinkedPathsShareOneDatabaseData) {
  const std::filesystem::path dir = std::filesystem::path(FPath).parent_path();
  std::filesystem::create_directory_symlink(dir, FDir.File("link"));
  std::filesystem::create_symlink(FPath, FDir.File("file-link.orb"));
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  auto plain = MakeSession(FPath);
  auto relative = MakeSession("./sub/../db.orb");
  std::filesystem::create_directory(dir / "sub");
  auto via_dir_link = MakeSession(FDir.File("link") + "/db.orb");
  auto via_file_link = MakeSession(FDir.File("file-link.orb"));
  plain->SetConnected(true);
  relative->SetConnected(true);
  via_dir_link->SetConnected(true);
  via_file_link->SetConnected(true);
  std::filesystem::current_path(saved);
  EXPECT_EQ(relative->DatabaseData(), plain->DatabaseData());
  EXPECT_EQ(via_dir_link->DatabaseData(), plain->DatabaseData());
  EXPECT_EQ(via_file_link->DatabaseData(), plain->DatabaseData());
  EXPECT_EQ(RegisteredDiskCount(), 1);
  for (auto* s : {plain.get(), relative.get(), via_dir_link.get(), via_file_link.get()}) s->SetConnected(false);
}

TEST_F(LocalSessionTest, PathsThatDifferInCaseAreDifferentDatabases) {
  const std::string upper = FDir.File("DB.orb");
  CreateDatabaseFile(upper);
  auto lower_session = MakeSession(FPath);
  auto upper_session = MakeSession(upper);
  lower_session->SetConnected(true);
  upper_session->SetConnected(true);
  EXPECT_NE(lower_session->DatabaseData(), upper_session->DatabaseData());
  EXPECT_EQ(RegisteredDiskCount(), 2);
  lower_session->SetConnected(false);
  upper_session->SetConnected(false);
}

TEST_F(LocalSessionTest, SessionNamesCompareWithoutCase) {
  auto a = MakeSession(FPath, true, u"Main");
  auto b = MakeSession(FPath, true, u"MAIN");
  auto c = MakeSession(FPath, true, u"Other");
  for (auto* s : {a.get(), b.get(), c.get()}) s->SetConnected(true);
  EXPECT_EQ(a->DatabaseData(), b->DatabaseData());
  EXPECT_NE(a->DatabaseData(), c->DatabaseData());
  EXPECT_EQ(RegisteredDiskCount(), 2);
  EXPECT_EQ(a->GetDBFileConnectionsCount(), 3);
  for (auto* s : {a.get(), b.get(), c.get()}) s->SetConnected(false);
}

TEST_F(LocalSessionTest, CreateRefusesADatabaseThatIsOpenAndLeavesTheFileAlone) {
  auto open = MakeSession(FPath);
  open->SetConnected(true);
  const std::vector<uint8_t> before = testing::ReadAll(FPath);
  auto creator = MakeSession(FDir.File("sub/../db.orb"));
  std::filesystem::create_directory(FDir.File("sub"));
  EXPECT_EQ(ErrorCodeOf([&] { creator->CreateDatabase(); }), 20092);
  EXPECT_FALSE(creator->GetConnected());
  EXPECT_EQ(testing::ReadAll(FPath), before);
  open->SetConnected(false);
}

TEST_F(LocalSessionTest, CreateChecksPageAndExtentSizes) {
  auto creator = MakeSession(FDir.File("big.orb"));
  creator->FPageSize = 70000;  // would wrap to a small page size
  EXPECT_EQ(ErrorCodeOf([&] { creator->CreateDatabase(); }), kErrDatabaseSizeRange);
  creator->FPageSize = 4096;
  creator->FPageCountInExtent = 0;
  EXPECT_EQ(ErrorCodeOf([&] { creator->CreateDatabase(); }), kErrDatabaseSizeRange);
  EXPECT_FALSE(std::filesystem::exists(FDir.File("big.orb")));
}

TEST_F(LocalSessionTest, EmptyFileNameIsRefused) {
  auto session = MakeSession("");
  EXPECT_EQ(ErrorCodeOf([&] { session->SetConnected(true); }), kErrDatabaseFileName);
  EXPECT_FALSE(session->GetConnected());
}

// --- Transactions ---

TEST_F(LocalSessionTest, CommitWritesTheSessionsPagesAndRollbackDropsThem) {
  for (bool multi_user : {false, true}) {
    SCOPED_TRACE(multi_user ? "multi-user" : "single-user");
    auto session = MakeSession(FPath, multi_user);
    session->SetConnected(true);
    EXPECT_EQ(ErrorCodeOf([&] { session->Commit(false); }), 20229);
    EXPECT_EQ(ErrorCodeOf([&] { session->Rollback(); }), 20229);

    session->StartTransaction();
    const int32_t kept = AddFilledPage(*session, 0x5A);
    EXPECT_FALSE(StoredPageFilled(*session, FPath, kept, 0x5A));
    session->Commit(false);
    EXPECT_FALSE(session->GetInTransaction());
    EXPECT_TRUE(StoredPageFilled(*session, FPath, kept, 0x5A));

    session->StartTransaction();
    const int32_t dropped = AddFilledPage(*session, 0xA5);
    session->Rollback();
    EXPECT_FALSE(session->GetInTransaction());
    EXPECT_FALSE(StoredPageFilled(*session, FPath, dropped, 0xA5));
    EXPECT_FALSE(session->DiskDatabaseData()->DiskPageManager()->HasPendingChanges(session->GetSessionID()));
    session->SetConnected(false);
  }
}

TEST_F(LocalSessionTest, CommitWithFlushGoesThroughTheFileFlush) {
  auto session = MakeSession(FPath);
  session->SetConnected(true);
  TORBDiskPageManager* pm = session->DiskDatabaseData()->DiskPageManager();
  pm->DatabaseFile().InjectFault(EIO, TPlatformFile::kFaultFlush);
  session->StartTransaction();
  AddFilledPage(*session, 1);
  EXPECT_NE(ErrorCodeOf([&] { session->Commit(true); }), 0);
  EXPECT_TRUE(session->GetInTransaction());
  session->Rollback();
  // The failed commit's journal stays until its rollback is on disk; once
  // the file flushes again, the next commit rolls it back and goes through.
  pm->DatabaseFile().InjectFault(0, TPlatformFile::kFaultFlush);
  session->StartTransaction();
  const int32_t page = AddFilledPage(*session, 2);
  session->Commit(false);
  EXPECT_TRUE(StoredPageFilled(*session, FPath, page, 2));
  session->SetConnected(false);
}

TEST_F(LocalSessionTest, DisconnectRollsBackSoAReusedSlotNeverCommitsAnotherSessionsPages) {
  auto keeper = MakeSession(FPath, true);  // keeps the database open
  keeper->SetConnected(true);
  auto leaver = MakeSession(FPath, true);
  leaver->SetConnected(true);
  const int32_t slot = leaver->GetSessionID();
  leaver->StartTransaction();
  const int32_t orphan = AddFilledPage(*leaver, 0x77);
  leaver->SetConnected(false);
  EXPECT_FALSE(leaver->GetInTransaction());

  auto successor = MakeSession(FPath, true);
  successor->SetConnected(true);
  ASSERT_EQ(successor->GetSessionID(), slot);
  successor->StartTransaction();
  const int32_t own = AddFilledPage(*successor, 0x11);
  successor->Commit(false);
  EXPECT_TRUE(StoredPageFilled(*successor, FPath, own, 0x11));
  EXPECT_FALSE(StoredPageFilled(*successor, FPath, orphan, 0x77));
  successor->SetConnected(false);
  keeper->SetConnected(false);
}

TEST_F(LocalSessionTest, SingleUserDisconnectInATransactionDropsItsPages) {
  auto keeper = MakeSession(FPath);
  keeper->SetConnected(true);
  auto leaver = MakeSession(FPath);
  leaver->SetConnected(true);
  leaver->StartTransaction();
  const int32_t orphan = AddFilledPage(*leaver, 0x33);
  leaver->SetConnected(false);
  keeper->StartTransaction();
  keeper->Commit(false);
  EXPECT_FALSE(StoredPageFilled(*keeper, FPath, orphan, 0x33));
  EXPECT_FALSE(keeper->DiskDatabaseData()->DiskPageManager()->HasPendingChanges(0));
  keeper->SetConnected(false);
}

TEST_F(LocalSessionTest, DestroyingAConnectedSessionDisconnectsIt) {
  {
    auto session = MakeSession(FPath, true);
    session->SetConnected(true);
    session->StartTransaction();
    AddFilledPage(*session, 9);
  }
  EXPECT_EQ(RegisteredDiskCount(), 0);
}

// --- Failures leave nothing held ---

TEST_F(LocalSessionTest, WrongPasswordOnAnOpenEncryptedDatabaseGivesTheSlotBack) {
  const std::string path = FDir.File("secret.orb");
  CreateDatabaseFile(path, "right");
  auto owner = MakeSession(path, true);
  owner->FPassword.Password = "right";
  owner->SetConnected(true);
  auto intruder = MakeSession(path, true);
  intruder->FPassword.Password = "wrong";
  EXPECT_EQ(ErrorCodeOf([&] { intruder->SetConnected(true); }), 20298);
  EXPECT_FALSE(intruder->GetConnected());
  EXPECT_EQ(intruder->GetSessionID(), -1);
  EXPECT_EQ(owner->GetDBFileConnectionsCount(), 1);
  owner->SetConnected(false);
}

TEST_F(LocalSessionTest, WrongPasswordOnFirstOpenLeavesNothingRegistered) {
  const std::string path = FDir.File("secret.orb");
  CreateDatabaseFile(path, "right");
  auto session = MakeSession(path, true);
  session->FPassword.Password = "wrong";
  EXPECT_EQ(ErrorCodeOf([&] { session->SetConnected(true); }), 30445);
  EXPECT_FALSE(session->GetConnected());
  session->FPassword.Password = "right";
  session->SetConnected(true);
  EXPECT_TRUE(session->DiskDatabaseData()->GetEncrypted());
  EXPECT_EQ(session->GetDBFileConnectionsCount(), 1);
  session->SetConnected(false);
}

TEST_F(LocalSessionTest, UnreadableTableListClosesTheFileAndRegistersNothing) {
  // A table list that cannot be read: the file cut where it begins (it is
  // the last page of a new database).
  {
    std::vector<uint8_t> bytes = testing::ReadAll(FPath);
    auto probe = MakeSession(FPath, true);
    probe->SetConnected(true);
    TORBDiskPageManager* pm = probe->DiskDatabaseData()->DiskPageManager();
    TORBSystemDirectory directory(pm);
    {
      TCriticalSectionGuard guard(probe->DiskDatabaseData()->CSect());
      directory.LoadDirectory();
    }
    const int64_t cut = pm->GetOffsetToFirstPage() +
                        int64_t{directory.GetFileFirstPageNo(dbftTablesList)} * pm->GetPageSize();
    probe->SetConnected(false);
    bytes.resize(static_cast<size_t>(cut));
    testing::WriteAll(FPath, bytes);
  }
  auto session = MakeSession(FPath, true);
  EXPECT_NE(ErrorCodeOf([&] { session->SetConnected(true); }), 0);
  EXPECT_FALSE(session->GetConnected());
  EXPECT_EQ(RegisteredDiskCount(), 0);
  TPlatformFile file;
  EXPECT_TRUE(file.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kOpenExisting).Ok());
}

TEST_F(LocalSessionTest, FailingCloseOfTheLastSessionIsReportedAndTheDataFreed) {
  auto session = MakeSession(FPath);
  session->SetConnected(true);
  session->DiskDatabaseData()->DiskPageManager()->DatabaseFile().InjectFault(EIO, TPlatformFile::kFaultFlush);
  EXPECT_NE(ErrorCodeOf([&] { session->SetConnected(false); }), 0);
  EXPECT_FALSE(session->GetConnected());
  EXPECT_EQ(RegisteredDiskCount(), 0);
  session->SetConnected(true);
  session->SetConnected(false);
}

// --- Permanent entries ---

TEST(DatabaseRegistryTest, MemoryAndTempAreTheEnginesOwnPermanentEntries) {
  TORBLocalSession memory, temp;
  memory.FDatabaseName = u"MEMORY";
  temp.FDatabaseName = u"TEMP";
  memory.SetConnected(true);
  temp.SetConnected(true);
  EXPECT_EQ(memory.DatabaseData()->DatabaseName(), u"MEMORY");
  EXPECT_EQ(temp.DatabaseData()->DatabaseName(), u"TEMP");
  EXPECT_NE(memory.DatabaseData(), temp.DatabaseData());
  memory.SetConnected(false);
  temp.SetConnected(false);
  // Names other than those exact texts are disk databases.
  TORBLocalSession lower;
  lower.FDatabaseName = u"memory";
  EXPECT_EQ(ErrorCodeOf([&] { lower.SetConnected(true); }), kErrDatabaseFileName);
}

// A stand-in for the in-memory engine's database data.
class StandInDatabaseData : public TORBDatabaseData {
 public:
  StandInDatabaseData() : TORBDatabaseData(u"TEMP", u"") {}
  TORBTableData* CreateTableData(TORBCursorInterface*) override { return nullptr; }
  int32_t GetNewObjectId() override { return 1; }
};

std::unique_ptr<TORBDatabaseData> MakeStandIn() { return std::make_unique<StandInDatabaseData>(); }

TEST(DatabaseRegistryTest, InstalledTempEngineIsOnePermanentEntry) {
  SetTempDatabaseDataFactory(&MakeStandIn);
  TORBLocalSession a, b;
  a.FDatabaseName = u"TEMP";
  b.FDatabaseName = u"TEMP";
  a.SetConnected(true);
  b.SetConnected(true);
  EXPECT_EQ(a.DatabaseData(), b.DatabaseData());
  EXPECT_EQ(a.GetSessionID(), 0);
  EXPECT_EQ(a.GetDBFileConnectionsCount(), 0);
  TORBDatabaseData* entry = a.DatabaseData();
  a.SetConnected(false);
  b.SetConnected(false);
  // Still registered after its last session left.
  b.SetConnected(true);
  EXPECT_EQ(b.DatabaseData(), entry);
  b.StartTransaction();
  b.Commit(false);
  b.SetConnected(false);
  EXPECT_EQ(RegisteredDiskCount(), 0);
}

// --- Named objects ---

TEST(SessionNamedObjectTest, SetReplacesBySameIdOrForNamelessIdsBySameName) {
  TORBLocalSession session;
  session.SetObject(std::make_unique<TORBSessionNamedObjectSequenceValue>(7, "ID", 1));
  session.SetObject(std::make_unique<TORBSessionNamedObjectSequenceValue>(8, "OTHER", 2));
  session.SetObject(std::make_unique<TORBSessionNamedObjectSequenceValue>(7, "ID", 5));
  EXPECT_EQ(session.ObjectCount(), 2);
  auto* value = dynamic_cast<TORBSessionNamedObjectSequenceValue*>(session.GetObjectByID(7));
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->Value, 5);

  session.SetObject(std::make_unique<TORBSessionNamedObject>(-1, "Seq"));
  session.SetObject(std::make_unique<TORBSessionNamedObject>(-1, "SEQ"));
  EXPECT_EQ(session.ObjectCount(), 3);
  ASSERT_NE(session.GetObjectByName("seq"), nullptr);
  EXPECT_EQ(session.GetObjectByName("seq")->Name, "SEQ");
  EXPECT_EQ(session.GetObjectByName("none"), nullptr);

  session.DeleteObject(8);
  EXPECT_EQ(session.GetObjectByID(8), nullptr);
  EXPECT_EQ(session.ObjectCount(), 2);
}

}  // namespace
}  // namespace orb
