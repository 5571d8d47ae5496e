// Database components on real files and on the in-memory database:
// opening, creating, deleting and renaming, transactions, passwords and the
// repair question, and the global session lock on failing paths.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "components/orb_database.h"
#include "components/orb_session.h"
#include "components/orb_session_list.h"
#include "engine/base/error_codes.h"
#include "engine/disk/disk_database_data.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/file.h"
#include "engine/session/local_session.h"
#include "tests/support/child_process.h"
#include "tests/support/disk_scratch.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/vector_dataset.h"

namespace orb::test {
namespace {

using orb::testing::ChildProcess;
using orb::testing::DiskScratch;
using orb::testing::ErrorCodeOf;
using orb::testing::ReadAll;
using orb::testing::TScriptedPrompts;
using orb::testing::WriteAll;

constexpr int32_t kIncorrectPassword = 30445;

// Whether another thread can take the global session lock right now: a
// lock left held by a failed operation on this thread shows here.
bool SessionLockFreeForOthers() {
  bool taken = false;
  std::thread other([&] {
    taken = ORBSessions().SessionLock().TryEnter();
    if (taken) ORBSessions().SessionLock().Leave();
  });
  other.join();
  return taken;
}

class DatabaseTest : public ::testing::Test {
 protected:
  // A closed database component named `name` on `file`.
  std::unique_ptr<TORBDatabase> Component(const std::string& file, const std::string& name = "Db") {
    auto db = std::make_unique<TORBDatabase>();
    db->SetDatabaseName(name);
    db->SetDatabaseFileName(file);
    return db;
  }
  // Writes a new database file through a component.
  void CreateFile(const std::string& file, const std::string& password = "", int32_t max_connections = 8) {
    auto db = Component(file, "Creator");
    db->SetPassword(password);
    db->SetMaxConnections(max_connections);
    db->CreateDatabase();
    EXPECT_FALSE(db->Connected());
  }

  DiskScratch FDir;
};

TEST_F(DatabaseTest, CreatesOpensAndClosesADiskDatabase) {
  const std::string file = FDir.File("a.orb");
  auto db = Component(file);
  EXPECT_FALSE(db->Exists());
  EXPECT_EQ(DbError([&] { db->Open(); }), "Database file '" + file + "' does not exist");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(db->Connected());

  db->SetMaxConnections(8);
  db->CreateDatabase();
  EXPECT_TRUE(db->Exists());
  EXPECT_FALSE(db->Connected());

  // The file's own settings replace the component's on open.
  db->SetMaxConnections(20);
  db->SetPageSize(8192);
  db->Open();
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(db->MaxConnections(), 8);
  EXPECT_EQ(db->PageSize(), 4096);
  EXPECT_FALSE(db->ReadOnly());
  EXPECT_EQ(db->Handle()->GetSessionID(), 0);
  EXPECT_EQ(db->GetDBFileConnectionsCount(), 8);
  EXPECT_EQ(DbError([&] { db->CreateDatabase(); }), std::string(kSDatabaseOpen));
  EXPECT_EQ(DbError([&] { db->SetDatabaseName("Other"); }), std::string(kSDatabaseOpen));

  // Another component cannot write a new file over the open database.
  auto again = Component(file, "Again");
  EXPECT_EQ(ErrorCodeOf([&] { again->CreateDatabase(); }), 20092);
  EXPECT_TRUE(SessionLockFreeForOthers());

  db->Close();
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(db->Handle(), nullptr);
  db->Open();  // the file is opened again
  EXPECT_TRUE(db->Connected());
}

TEST_F(DatabaseTest, MisuseIsReportedAsDatabaseErrors) {
  TORBDatabase db;
  EXPECT_EQ(DbError([&] { db.Open(); }), std::string(kSDatabaseNameMissing));
  EXPECT_EQ(DbError([&] { db.CreateDatabase(); }), std::string(kSDatabaseNameMissing));
  db.SetDatabaseName("Unnamed");
  EXPECT_EQ(DbError([&] { db.StartTransaction(); }), std::string(kSDatabaseClosed));
  EXPECT_EQ(DbError([&] { db.Commit(); }), std::string(kSDatabaseClosed));
  EXPECT_EQ(DbError([&] { db.FlushBuffers(); }), std::string(kSDatabaseClosed));
  db.SetSessionName("NoSuchSession");
  EXPECT_EQ(ErrorCodeOf([&] { db.Open(); }), 20002);
  EXPECT_FALSE(db.Connected());

  TORBDatabase first;
  first.SetDatabaseName("Twin");
  TORBDatabase second;
  EXPECT_EQ(DbError([&] { second.SetDatabaseName("TWIN"); }), "Duplicate database name 'TWIN'");
}

TEST_F(DatabaseTest, TransactionsOnDiskAndInMemory) {
  const std::string file = FDir.File("t.orb");
  CreateFile(file);
  for (const bool in_memory : {false, true}) {
    SCOPED_TRACE(in_memory ? "MEMORY" : "disk");
    auto db = in_memory ? Component("", "MEMORY") : Component(file);
    db->Open();
    EXPECT_FALSE(db->InTransaction());
    EXPECT_EQ(ErrorCodeOf([&] { db->Commit(); }), 20229);
    EXPECT_EQ(ErrorCodeOf([&] { db->Rollback(); }), 20229);
    db->StartTransaction();
    EXPECT_TRUE(db->InTransaction());
    EXPECT_EQ(DbError([&] { db->StartTransaction(); }), std::string(kSInTransaction));
    db->Commit(true);
    EXPECT_FALSE(db->InTransaction());
    db->StartTransaction();
    db->Rollback();
    EXPECT_FALSE(db->InTransaction());
    db->StartTransaction();
    db->Close();  // an open transaction ends with the connection
    EXPECT_FALSE(db->InTransaction());
    db->Open();
    EXPECT_FALSE(db->InTransaction());
    db->FlushBuffers();
  }
}

TEST_F(DatabaseTest, TablesListAndTableExists) {
  const std::string file = FDir.File("tables.orb");
  CreateFile(file);
  auto db = Component(file);
  std::vector<std::string> tables{"stale"};
  db->GetTablesList(tables);  // opens for the purpose and closes again
  EXPECT_TRUE(tables.empty());
  EXPECT_FALSE(db->Connected());

  EXPECT_FALSE(db->TableExists("Notes"));  // opens and stays open
  ASSERT_TRUE(db->Connected());
  TORBDiskDatabaseData* data = dynamic_cast<TORBLocalSession*>(db->Handle())->DiskDatabaseData();
  data->AddTable(data->GetNewObjectId(), u"Notes", 3, 3, 3);
  EXPECT_TRUE(db->TableExists("NOTES"));
  db->GetTablesList(tables);
  EXPECT_EQ(tables, std::vector<std::string>{"Notes"});

  // A database that cannot be opened gives an empty list and no error.
  auto missing = Component(FDir.File("missing.orb"), "Missing");
  tables = {"stale"};
  missing->GetTablesList(tables);
  EXPECT_TRUE(tables.empty());
  EXPECT_TRUE(SessionLockFreeForOthers());
}

TEST_F(DatabaseTest, DeleteAndRenameWorkOnAClosedDatabaseAndFailLoudly) {
  const std::string file = FDir.File("old.orb");
  const std::string renamed = FDir.File("new.orb");
  CreateFile(file);
  auto db = Component(file);

  db->RenameDatabase(renamed);
  EXPECT_EQ(db->DatabaseFileName(), renamed);
  EXPECT_FALSE(std::filesystem::exists(file));
  db->Open();  // the renamed file is a working database
  EXPECT_EQ(DbError([&] { db->DeleteDatabase(); }), std::string(kSDatabaseOpen));
  EXPECT_EQ(DbError([&] { db->RenameDatabase(file); }), std::string(kSDatabaseOpen));
  db->Close();

  // A rename never replaces a file, and a missing file is reported.
  CreateFile(file);
  EXPECT_EQ(ErrorCodeOf([&] { db->RenameDatabase(file); }), kErrRenameDatabaseFile);
  EXPECT_EQ(db->DatabaseFileName(), renamed);
  EXPECT_TRUE(std::filesystem::exists(renamed));

  db->DeleteDatabase();
  EXPECT_FALSE(std::filesystem::exists(renamed));
  EXPECT_EQ(ErrorCodeOf([&] { db->DeleteDatabase(); }), kErrDeleteDatabaseFile);
  EXPECT_EQ(ErrorCodeOf([&] { db->RenameDatabase(FDir.File("x.orb")); }), kErrRenameDatabaseFile);
}

TEST_F(DatabaseTest, DeleteAndRenameAreRefusedWhileTheDatabaseIsOpenElsewhere) {
  const std::string file = FDir.File("held.orb");
  const std::string renamed = FDir.File("moved.orb");
  CreateFile(file);
  const std::vector<uint8_t> bytes = ReadAll(file);

  // Another component of this process.
  {
    auto holder = Component(file, "Holder");
    holder->Open();
    auto db = Component(file);
    EXPECT_EQ(ErrorCodeOf([&] { db->DeleteDatabase(); }), kErrDeleteDatabaseFile);
    EXPECT_EQ(ErrorCodeOf([&] { db->RenameDatabase(renamed); }), kErrRenameDatabaseFile);
    EXPECT_EQ(db->DatabaseFileName(), file);
  }

  // Another process, in each of its modes.
  for (const char* mode : {"single", "multi", "exclusive"}) {
    SCOPED_TRACE(mode);
    ChildProcess child("orb_session_child", {file, mode});
    const std::vector<std::string> lines = child.ReadUntilReady();
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines[0].rfind("connected", 0), 0u) << lines[0];
    auto db = Component(file);
    if (std::string(mode) == "exclusive") {
      EXPECT_NE(ErrorCodeOf([&] { db->Open(); }), 0);
      EXPECT_FALSE(db->Connected());
      EXPECT_TRUE(SessionLockFreeForOthers());
    }
    EXPECT_EQ(ErrorCodeOf([&] { db->DeleteDatabase(); }), kErrDeleteDatabaseFile);
    EXPECT_EQ(ErrorCodeOf([&] { db->RenameDatabase(renamed); }), kErrRenameDatabaseFile);
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(renamed));
    EXPECT_EQ(child.Release(), 0);
  }
  EXPECT_EQ(ReadAll(file).size(), bytes.size());

  // Once the other process has let go, both work.
  auto db = Component(file);
  db->RenameDatabase(renamed);
  db->DeleteDatabase();
  EXPECT_FALSE(std::filesystem::exists(renamed));
}

TEST_F(DatabaseTest, MultiUserExclusiveAndReadOnlySettings) {
  const std::string file = FDir.File("modes.orb");
  CreateFile(file);

  // Multi-user: each session name is a connection with a slot of its own.
  TORBSession first;
  first.SetSessionName("First");
  TORBSession second;
  second.SetSessionName("Second");
  TORBDatabase a(&first);
  TORBDatabase b(&second);
  for (TORBDatabase* db : {&a, &b}) {
    db->SetDatabaseName("Db");
    db->SetDatabaseFileName(file);
    db->SetMultiUser(true);
    db->Open();
  }
  EXPECT_NE(a.Handle()->GetSessionID(), b.Handle()->GetSessionID());
  EXPECT_EQ(a.GetDBFileConnectionsCount(), 2);
  a.Close();
  b.Close();

  // Exclusive: another process cannot connect while it is open.
  auto exclusive = Component(file);
  exclusive->SetExclusive(true);
  exclusive->Open();
  {
    ChildProcess child("orb_session_child", {file, "single"});
    const std::vector<std::string> lines = child.ReadUntilReady();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("error", 0), 0u) << lines[0];
    EXPECT_EQ(child.Release(), 0);
  }
  exclusive->Close();

  auto read_only = Component(file, "ReadOnly");
  read_only->SetReadOnly(true);
  read_only->Open();
  EXPECT_TRUE(read_only->ReadOnly());
  read_only->Close();
  read_only->SetReadOnly(false);
  read_only->Open();
  EXPECT_FALSE(read_only->ReadOnly());
}

TEST_F(DatabaseTest, PasswordPromptAnswersDecideAndAreBounded) {
  const std::string file = FDir.File("secret.orb");
  CreateFile(file, "right");

  struct Case {
    const char* name;
    std::vector<std::optional<std::string>> answers;
    bool opens;
  };
  const Case cases[] = {
      {"right at once", {"right"}, true},
      {"right after a wrong one", {"wrong", "right"}, true},
      {"cancelled", {std::nullopt}, false},
      {"wrong every time", {"a", "b", "c"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TScriptedPrompts prompts;
    TORBPromptsScope scope(prompts);
    for (const auto& answer : c.answers) prompts.QueuePassword(answer);
    auto db = Component(file);
    db->SetPassword("nothing like it");
    if (c.opens) {
      db->Open();
      EXPECT_TRUE(db->Connected());
      EXPECT_EQ(db->Password(), "right");
    } else {
      EXPECT_EQ(ErrorCodeOf([&] { db->Open(); }), kIncorrectPassword);
      EXPECT_FALSE(db->Connected());
    }
    EXPECT_EQ(prompts.Asked().size(), c.answers.size());
    EXPECT_TRUE(SessionLockFreeForOthers());
  }
}

TEST_F(DatabaseTest, PasswordEventAndSilentMode) {
  const std::string file = FDir.File("secret.orb");
  CreateFile(file, "right");
  TScriptedPrompts prompts;  // nothing may be asked here
  TORBPromptsScope scope(prompts);

  auto silent = Component(file);
  silent->SetSilentMode(true);
  EXPECT_EQ(ErrorCodeOf([&] { silent->Open(); }), kIncorrectPassword);

  // An event that keeps answering a wrong password is asked a bounded
  // number of times.
  auto stubborn = Component(file, "Stubborn");
  int asked = 0;
  stubborn->OnPassword = [&](TORBDatabase& db, bool& try_again) {
    ++asked;
    db.SetPassword("wrong");
    try_again = asked < 100;  // keeps a missing bound from hanging the test
  };
  EXPECT_EQ(ErrorCodeOf([&] { stubborn->Open(); }), kIncorrectPassword);
  EXPECT_EQ(asked, TORBDatabase::kMaxPasswordPrompts);

  auto helpful = Component(file, "Helpful");
  helpful->OnPassword = [](TORBDatabase& db, bool& try_again) {
    db.SetPassword("right");
    try_again = true;
  };
  helpful->Open();
  EXPECT_TRUE(helpful->Connected());
  EXPECT_TRUE(SessionLockFreeForOthers());
}

TEST_F(DatabaseTest, FileNotClosedProperlyOffersRepair) {
  const std::string file = FDir.File("crashed.orb");
  CreateFile(file);
  std::vector<uint8_t> bytes = ReadAll(file);
  bytes[42] = 1;  // WriteChangesState: a commit was interrupted
  WriteAll(file, bytes);

  TScriptedPrompts prompts;
  TORBPromptsScope scope(prompts);
  auto db = Component(file);

  prompts.QueueConfirm(TPromptAnswer::kNo);
  db->Open();
  EXPECT_TRUE(db->Connected());
  db->Close();

  // Repairing is not available yet: a clear error, nothing left open.
  prompts.QueueConfirm(TPromptAnswer::kYes);
  EXPECT_EQ(ErrorCodeOf([&] { db->Open(); }), kErrMaintenanceUnavailable);
  EXPECT_FALSE(db->Connected());
  EXPECT_TRUE(SessionLockFreeForOthers());
  EXPECT_EQ(prompts.Asked(), (std::vector<std::string>{"confirm: " + std::string(kSNeedRepair),
                                                        "confirm: " + std::string(kSNeedRepair)}));

  bool asked = false;
  db->OnNeedRepair = [&](TORBDatabase&, bool& repair) {
    asked = true;
    repair = false;
  };
  db->Open();
  EXPECT_TRUE(asked);
  db->Close();

  // Silent mode opens without asking.
  db->OnNeedRepair = nullptr;
  db->SetSilentMode(true);
  db->Open();
  EXPECT_TRUE(db->Connected());
  db->Close();

  // A file of an older format is announced for conversion, not asked about.
  bytes[42] = 2;
  StoreF64LE(&bytes[18], 2.5);  // Version
  WriteAll(file, bytes);
  db->SetSilentMode(false);
  prompts.ClearAsked();
  EXPECT_EQ(ErrorCodeOf([&] { db->Open(); }), kErrMaintenanceUnavailable);
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(prompts.Asked(), std::vector<std::string>{"information: " + std::string(kSOldFormat)});
}

TEST_F(DatabaseTest, FailedOpenReleasesTheSessionLockForOtherThreads) {
  auto missing = Component(FDir.File("none.orb"));
  EXPECT_FALSE(DbError([&] { missing->Open(); }).empty());
  ASSERT_TRUE(SessionLockFreeForOthers());

  const std::string garbage = FDir.File("garbage.orb");
  WriteAll(garbage, std::vector<uint8_t>(4096, 0x5A));
  auto bad = Component(garbage, "Bad");
  EXPECT_NE(ErrorCodeOf([&] { bad->Open(); }), 0);
  EXPECT_FALSE(bad->Connected());
  ASSERT_TRUE(SessionLockFreeForOthers());

  TORBSession unnamed;  // cannot become active
  EXPECT_EQ(DbError([&] { unnamed.LockSession(); }), "Session name missing");
  ASSERT_TRUE(SessionLockFreeForOthers());

  // Another thread works with the session list and its own session.
  bool opened = false;
  std::thread other([&] {
    TORBSession session;
    session.SetSessionName("Worker");
    TORBDatabase db(&session);
    db.SetDatabaseName("MEMORY");
    db.Open();
    opened = db.Connected();
  });
  other.join();
  EXPECT_TRUE(opened);
  EXPECT_EQ(ORBSessions().FindSession("Worker"), nullptr);
}

TEST_F(DatabaseTest, ThreadsWithSessionsOfTheirOwnShareOneFile) {
  const std::string file = FDir.File("threads.orb");
  CreateFile(file);
  constexpr int kThreads = 2;
  constexpr int kRounds = 25;
  int failures = 0;
  std::mutex failures_lock;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      TORBSession session;
      session.SetSessionName("Thread" + std::to_string(t));
      TORBDatabase db(&session);
      db.SetDatabaseName("Db");
      db.SetDatabaseFileName(file);
      for (int round = 0; round < kRounds; ++round) {
        try {
          db.Open();
          db.StartTransaction();
          db.Commit();
          db.Close();
        } catch (const std::exception& e) {
          std::lock_guard<std::mutex> guard(failures_lock);
          ++failures;
          ADD_FAILURE() << e.what();
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(SessionLockFreeForOthers());
}

TEST_F(DatabaseTest, DatabaseLeftOpenAtExitIsClosedCleanly) {
  const std::string file = FDir.File("exit.orb");
  CreateFile(file);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        auto* db = new TORBDatabase(ORBDefaultSession());  // the session destroys it at exit
        db->SetDatabaseName("Left");
        db->SetDatabaseFileName(file);
        db->Open();
        db->StartTransaction();
        std::exit(db->Connected() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadAll(file)[42], 2);  // consistent: no repair offered
  TScriptedPrompts prompts;
  TORBPromptsScope scope(prompts);
  auto db = Component(file);
  db->Open();
  EXPECT_TRUE(prompts.Asked().empty());
}

TEST_F(DatabaseTest, StoredAndDesignTimeConnections) {
  // Connected as read from a stored form takes effect when loading ends.
  TComponent form;
  auto* db = new TORBDatabase(&form);
  db->SetDatabaseName("MEMORY");
  form.BeginLoading();
  db->SetConnected(true);
  EXPECT_FALSE(db->Connected());
  form.EndLoading();
  EXPECT_TRUE(db->Connected());

  // In a design environment a failed open is shown, not raised.
  TScriptedPrompts prompts;
  TORBPromptsScope scope(prompts);
  const std::string file = FDir.File("absent.orb");
  auto designed = Component(file, "Designed");
  designed->SetDesigning(true);
  designed->Open();
  EXPECT_FALSE(designed->Connected());
  EXPECT_EQ(prompts.Asked(), std::vector<std::string>{"error: Database file '" + file + "' does not exist"});
}

TEST_F(DatabaseTest, MaintenanceOperationsAreNotAvailableYet) {
  auto db = Component(FDir.File("m.orb"));
  std::string log;
  EXPECT_EQ(ErrorCodeOf([&] { db->CompactDatabase(); }), kErrMaintenanceUnavailable);
  EXPECT_EQ(ErrorCodeOf([&] { db->RepairDatabase(FDir.File("r.orb"), log); }), kErrMaintenanceUnavailable);
  EXPECT_EQ(ErrorCodeOf([&] { db->ChangePassword("x"); }), kErrMaintenanceUnavailable);
  EXPECT_EQ(ErrorCodeOf([&] { db->TruncateDatabase(); }), kErrMaintenanceUnavailable);
}

TEST_F(DatabaseTest, CloseClosesAttachedDatasetsQueriesFirst) {
  class TSqlDataSet : public TVectorDataSet {
   public:
    using TVectorDataSet::TVectorDataSet;
    bool PSIsSQLBased() const override { return true; }
  };
  std::vector<std::string> order;
  TVectorDataSet table1({{"N", ftInteger}});
  TSqlDataSet query({{"N", ftInteger}});
  TVectorDataSet table2({{"N", ftInteger}});
  table1.AfterClose = [&](TDataSet&) { order.push_back("table1"); };
  query.AfterClose = [&](TDataSet&) { order.push_back("query"); };
  table2.AfterClose = [&](TDataSet&) { order.push_back("table2"); };

  auto db = Component("", "MEMORY");
  db->Open();
  for (TDataSet* d : std::vector<TDataSet*>{&table1, &query, &table2}) {
    d->Open();
    db->AttachDataSet(d);
  }
  EXPECT_EQ(db->DataSetCount(), 3);
  db->Close();
  EXPECT_EQ(order, (std::vector<std::string>{"query", "table2", "table1"}));
  EXPECT_EQ(db->DataSetCount(), 0);
}

}  // namespace
}  // namespace orb::test
