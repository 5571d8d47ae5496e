// Session components and the session list: the default session, named
// sessions sharing a database file, databases opened on a dataset's behalf,
// handles and session names.

#include <gtest/gtest.h>

#include <memory>

#include "components/orb_database.h"
#include "components/orb_session.h"
#include "components/orb_session_list.h"
#include "components/orb_table.h"
#include "engine/session/local_session.h"
#include "tests/support/disk_scratch.h"
#include "tests/support/vector_dataset.h"

namespace orb::test {
namespace {

using orb::testing::DiskScratch;
using orb::testing::ErrorCodeOf;

TORBLocalSession* Local(const TORBDatabase& db) { return dynamic_cast<TORBLocalSession*>(db.Handle()); }

TEST(SessionListTest, DefaultSessionAndLookups) {
  TORBSessionList& list = ORBSessions();
  TORBSession* def = ORBDefaultSession();
  ASSERT_NE(def, nullptr);
  EXPECT_TRUE(def->IsDefault());
  EXPECT_EQ(def->SessionName(), "Default");
  EXPECT_EQ(list.FindSession(""), def);
  EXPECT_EQ(list.FindSession("DEFAULT"), def);
  EXPECT_EQ(list.FindSession("Nobody"), nullptr);
  EXPECT_EQ(ErrorCodeOf([&] { list.GetSessionByName("Nobody"); }), 20002);

  TORBSession named;
  named.SetSessionName("Reports");
  EXPECT_EQ(list.GetSessionByName("reports"), &named);
  EXPECT_FALSE(named.IsDefault());
  const std::vector<std::string> names = list.GetSessionNames();
  EXPECT_EQ(names.front(), "Default");
  EXPECT_EQ(names.back(), "Reports");
  EXPECT_EQ(DbError([&] {
              TORBSession twin;
              twin.SetSessionName("REPORTS");
            }),
            "Duplicate session name 'REPORTS'");

  named.Open();
  EXPECT_TRUE(def->Active());  // the default session is activated first
  EXPECT_EQ(list.CurrentSession(), &named);
  EXPECT_EQ(ORBGetCurrentSession(), named.Handle());
  EXPECT_NE(named.Handle(), def->Handle());
  EXPECT_EQ(DbError([&] { named.SetSessionName("Other"); }),
            "Cannot perform this operation on an active session");
  list.SetCurrentSession(def);
  EXPECT_EQ(list.CurrentSession(), def);
  named.Close();
  EXPECT_EQ(named.Handle(), nullptr);

  TORBSession* opened = list.OpenSession("Batch");
  EXPECT_TRUE(opened->Active());
  EXPECT_EQ(list.OpenSession("batch"), opened);
  delete opened;
  EXPECT_EQ(list.FindSession("Batch"), nullptr);

  TORBSession unnamed;
  EXPECT_EQ(DbError([&] { unnamed.Open(); }), "Session name missing");

  // Deactivating the default session finalises the engine-wide handle.
  def->MakeCurrent();
  def->Close();
  EXPECT_EQ(ORBEngineHandle(), nullptr);
  EXPECT_EQ(ErrorCodeOf([] { ORBGetCurrentSession(); }), 20007);
  EXPECT_EQ(list.CurrentSession(), nullptr);
  def->Open();
  EXPECT_EQ(ORBGetCurrentSession(), def->Handle());
}

TEST(SessionTest, AcquiredHandleIsLeftToItsOwner) {
  TORBSession session;
  session.SetSessionName("Lender");
  session.Open();
  TORBLocalSession engine_session;
  engine_session.FDatabaseName = u"MEMORY";
  engine_session.FSessionComponentManager = session.Handle();
  engine_session.SetConnected(true);
  {
    TORBDatabase db(&session);
    db.SetDatabaseName("Borrower");
    db.SetHandle(&engine_session);
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(db.Handle(), &engine_session);
    db.StartTransaction();
    EXPECT_TRUE(engine_session.GetInTransaction());
    db.Rollback();
    db.Close();
  }
  EXPECT_TRUE(engine_session.GetConnected());
}

TEST(SessionTest, TwoSessionsOnOneFile) {
  DiskScratch dir;
  const std::string file = dir.File("shared.orb");
  TORBSession second;
  second.SetSessionName("Second");
  std::vector<std::pair<TORBDBNotifyKind, std::string>> events;
  second.OnDBNotify = [&](TORBDBNotifyKind kind, TORBDatabase& db) { events.emplace_back(kind, db.DatabaseName()); };

  TORBDatabase a;  // default session
  a.SetDatabaseName("A");
  a.SetDatabaseFileName(file);
  a.CreateDatabase();
  a.Open();

  TORBDatabase b(&second);
  b.SetDatabaseName("B");
  b.SetDatabaseFileName(file);
  b.Open();
  EXPECT_EQ(b.Session(), &second);
  EXPECT_EQ(b.SessionName(), "Second");
  // Single-user: one database data serves both, and both are session 0.
  EXPECT_EQ(Local(a)->DatabaseData(), Local(b)->DatabaseData());
  EXPECT_EQ(b.Handle()->GetSessionID(), 0);
  EXPECT_EQ(b.Handle()->FSessionComponentManager, second.Handle());
  EXPECT_NE(a.Handle()->FSessionComponentManager, second.Handle());

  // A transaction belongs to its own connection.
  a.StartTransaction();
  EXPECT_FALSE(b.InTransaction());
  a.Rollback();

  // A handle of another session is refused.
  TORBDatabase c(&second);
  c.SetDatabaseName("C");
  EXPECT_EQ(DbError([&] { c.SetHandle(a.Handle()); }), std::string(kSHandleOtherSession));
  EXPECT_FALSE(c.Connected());

  // Deactivating the session closes its databases.
  second.Close();
  EXPECT_FALSE(b.Connected());
  EXPECT_TRUE(a.Connected());
  EXPECT_EQ(events, (std::vector<std::pair<TORBDBNotifyKind, std::string>>{
                        {dbAdd, ""}, {dbOpen, "B"}, {dbAdd, ""}, {dbClose, "B"}}));

  // A database moves to the session it names.
  TORBDatabase d;
  d.SetDatabaseName("D");
  d.SetDatabaseFileName(file);
  d.SetSessionName("second");
  EXPECT_EQ(d.Session(), &second);
  d.Open();
  EXPECT_TRUE(second.Active());
  EXPECT_EQ(second.FindDatabase("d"), &d);
}

TEST(SessionTest, DestroyedSessionHandsItsDatabasesToTheDefaultSession) {
  auto form = std::make_unique<TComponent>();
  auto* session = new TORBSession(form.get());
  session->SetSessionName("Short");
  auto* owned = new TORBDatabase(session);
  owned->SetDatabaseName("MEMORY");
  TORBDatabase outside;
  outside.SetDatabaseName("Outside");
  outside.SetSessionName("Short");
  EXPECT_EQ(outside.Session(), session);
  owned->Open();
  delete session;  // takes the database it owns along
  EXPECT_EQ(outside.Session(), ORBDefaultSession());
  EXPECT_EQ(ORBDefaultSession()->FindDatabase("Outside"), &outside);
  EXPECT_EQ(form->ComponentCount(), 0);
}

TEST(SessionTest, OpenDatabaseMakesATemporaryDatabaseWhenNoneHasTheName) {
  TORBSession session;
  session.SetSessionName("Temps");
  session.SetKeepConnections(false);
  TORBDatabase* db = session.OpenDatabase("MEMORY");
  ASSERT_NE(db, nullptr);
  EXPECT_TRUE(db->Temporary());
  EXPECT_TRUE(db->Connected());
  EXPECT_TRUE(db->SilentMode());
  EXPECT_EQ(db->ReferenceCount(), 1);
  EXPECT_EQ(session.OpenDatabase("memory"), db);
  EXPECT_EQ(db->ReferenceCount(), 2);
  session.CloseDatabase(db);
  EXPECT_EQ(session.FindDatabase("MEMORY"), db);
  session.CloseDatabase(db);  // the last user: destroyed
  EXPECT_EQ(session.FindDatabase("MEMORY"), nullptr);
  EXPECT_EQ(session.DatabaseCount(), 0);

  // One that cannot be opened is not left behind.
  EXPECT_NE(ErrorCodeOf([&] { session.OpenDatabase("NoFile"); }), 0);
  EXPECT_EQ(session.DatabaseCount(), 0);

  // With KeepConnections the temporary database stays until dropped.
  session.SetKeepConnections(true);
  db = session.OpenDatabase("MEMORY");
  session.CloseDatabase(db);
  EXPECT_TRUE(db->Connected());
  session.DropConnections();
  EXPECT_EQ(session.DatabaseCount(), 0);

  std::vector<std::string> tables{"stale"};
  session.GetTableNames("MEMORY", tables);
  EXPECT_TRUE(tables.empty());
}

// Closing a database explicitly closes its datasets, whose release of the
// database must neither destroy the temporary component under its own
// Close nor close an ordinary one a second time.
TEST(SessionTest, ExplicitCloseWithKeepConnectionsOff) {
  TORBSession session;
  session.SetSessionName("Closers");
  session.SetKeepConnections(false);
  int closes = 0;
  session.OnDBNotify = [&](TORBDBNotifyKind kind, TORBDatabase&) { closes += kind == dbClose ? 1 : 0; };
  TORBTable maker;
  maker.SetDatabaseName("MEMORY");
  maker.SetTableName("CLOSERS");
  maker.FieldDefs().Add("N", ftInteger);
  maker.CreateTable();

  for (const bool temporary : {true, false}) {
    SCOPED_TRACE(temporary ? "temporary" : "ordinary");
    closes = 0;
    std::unique_ptr<TORBDatabase> owned;
    if (!temporary) {
      owned = std::make_unique<TORBDatabase>(&session);
      owned->SetDatabaseName("MEMORY");
      owned->SetKeepConnection(false);
    }
    TORBTable first;
    TORBTable second;
    for (TORBTable* t : {&first, &second}) {
      t->SetSessionName("Closers");
      t->SetDatabaseName("MEMORY");
      t->SetTableName("CLOSERS");
      t->Open();
    }
    TORBDatabase* db = first.Database();
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->Temporary(), temporary);
    EXPECT_EQ(second.Database(), db);
    db->Close();
    // The component the caller closed is still there, closed.
    ASSERT_EQ(session.FindDatabase("MEMORY"), db);
    EXPECT_FALSE(db->Connected());
    EXPECT_FALSE(first.Active());
    EXPECT_FALSE(second.Active());
    EXPECT_EQ(db->DataSetCount(), 0);
    EXPECT_EQ(db->ReferenceCount(), 0);
    EXPECT_EQ(closes, 1);
    if (temporary) {
      session.DropConnections();
      EXPECT_EQ(session.FindDatabase("MEMORY"), nullptr);
    }
  }
  maker.DeleteTable();
}

TEST(SessionTest, SharedHandleEndsWithItsOwner) {
  TORBSession session;
  session.SetSessionName("Sharing");
  TORBDatabase a(&session);
  TORBDatabase b(&session);
  a.SetHandleShared(true);
  b.SetHandleShared(true);
  a.SetDatabaseName("MEMORY");
  b.SetDatabaseName("MEMORY");  // allowed: both share handles
  a.Open();
  b.Open();
  EXPECT_EQ(a.Handle(), b.Handle());
  a.Close();  // b let go of it first
  EXPECT_FALSE(b.Connected());
  b.Open();
  EXPECT_TRUE(b.Connected());
  EXPECT_FALSE(a.Connected());
}

TEST(SessionTest, AutoSessionNames) {
  TComponent form;
  form.SetName("Form1");
  auto* session = new TORBSession(&form);
  session->SetName("Session");
  auto* db = new TORBDatabase(&form);
  db->SetDatabaseName("MEMORY");
  session->SetAutoSessionName(true);
  const std::string name = session->SessionName();
  EXPECT_EQ(name.rfind("Session_", 0), 0u) << name;
  EXPECT_EQ(db->SessionName(), name);
  EXPECT_EQ(db->Session(), session);
  EXPECT_EQ(DbError([&] { session->SetSessionName("Manual"); }),
            "Cannot modify SessionName while AutoSessionName is enabled");
  EXPECT_EQ(DbError([&] { new TORBSession(&form); }),
            "Cannot add a session to the form or data-module while session '" + name +
                "' has AutoSessionName enabled");
  session->SetName("Renamed");
  EXPECT_EQ(session->SessionName().rfind("Renamed_", 0), 0u);
  EXPECT_EQ(db->SessionName(), session->SessionName());
  session->SetAutoSessionName(false);

  auto* other = new TORBSession(&form);
  (void)other;
  EXPECT_EQ(DbError([&] { session->SetAutoSessionName(true); }),
            "Cannot enable AutoSessionName property with more than one session on a form or data-module");
}

}  // namespace
}  // namespace orb::test
