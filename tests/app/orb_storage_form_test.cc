// The record keeper's window over a real data file: JBdata.ORB with table
// JB in a temporary folder, the prompts answered by a script. What the
// window stores is checked by opening the file again in a new window.

#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/form1.h"
#include "app/orb_jotbin_storage.h"
#include "components/prompts.h"
#include "engine/base/orb_exception.h"
#include "engine/base/stream.h"
#include "tests/support/disk_scratch.h"
#include "tests/support/scripted_prompts.h"
#include "tests/ui/ui_test_util.h"

namespace orb {
namespace {

using orb::test::TypeText;
using Asked = std::vector<std::string>;

struct Stored {
  std::string Info, Tab1, Tab2, Tab3;
  friend bool operator==(const Stored&, const Stored&) = default;
};

class OrbFormTest : public ::testing::Test {
 public:
  OrbFormTest() : FScope(FPrompts) {}
  ~OrbFormTest() override { CloseWindow(); }

  std::string DataFile() const { return FScratch.File("JBdata.ORB"); }

  // A new storage and window, started up.
  TForm1& OpenWindow() {
    FStorage = std::make_unique<TJotbinORBStorage>();
    FForm = std::make_unique<TForm1>(*FStorage);
    FForm->SetExecutableDir(FScratch.File(""));
    FForm->SetOnTerminate([this] { ++FTerminated; });
    FForm->SetVersionReader([] { return std::string("1.2.3.4"); });
    FForm->FormCreate();
    FForm->show();
    return *FForm;
  }
  void CloseWindow() {
    if (!FForm) return;
    FForm->Button(6)->click();
    FForm.reset();
    FStorage.reset();
  }
  TDataSet& Table() { return *FStorage->Table(); }

  // Every stored record, in the table's order, read through a new window.
  std::vector<Stored> StoredRecords() {
    CloseWindow();
    OpenWindow();
    std::vector<Stored> records;
    TDataSet& t = Table();
    for (t.First(); !t.Eof(); t.Next())
      records.push_back({t.FieldByName("info").AsString(), t.FieldByName("tab1").AsString(),
                         t.FieldByName("tab2").AsString(), t.FieldByName("tab3").AsString()});
    return records;
  }

  void NewRecord(const QString& memo, const QString& tab1, const QString& tab2 = "") {
    FForm->Button(1)->click();
    TypeText(FForm->DBMemo1(), memo);
    TypeText(FForm->DBEdit1(), tab1);
    TypeText(FForm->DBEdit2(), tab2);
    FForm->Button(2)->click();
  }

  orb::testing::DiskScratch FScratch;
  orb::testing::TScriptedPrompts FPrompts;
  TORBPromptsScope FScope;
  std::unique_ptr<TJotbinORBStorage> FStorage;
  std::unique_ptr<TForm1> FForm;
  int FTerminated = 0;
};

TEST_F(OrbFormTest, RecordsAreStoredInLowerCaseAndSurviveReopening) {
  CreateJotbinDataFile(DataFile());
  TForm1& form = OpenWindow();
  EXPECT_EQ(FPrompts.Asked(), Asked{});
  EXPECT_TRUE(Table().Active());
  EXPECT_EQ(form.windowTitle().toStdString(), "Jotbin  - ver: 1.2.3.4");
  EXPECT_TRUE(Table().IsEmpty());

  NewRecord("First Note", "Alpha", "TWO");
  EXPECT_EQ(form.Label4()->text(), "Record saved.");
  EXPECT_EQ(Table().State(), dsBrowse);
  NewRecord("second", "beta");
  EXPECT_EQ(FPrompts.Asked(), Asked{});

  EXPECT_EQ(StoredRecords(), (std::vector<Stored>{{"First Note", "alpha", "two", ""}, {"second", "beta", "", ""}}));
  // Start-up shows the last record.
  Table().Last();
  EXPECT_EQ(FForm->DBEdit1()->text(), "beta");

  // Editing a stored record through the controls.
  FForm->DBEdit3()->end(false);
  TypeText(FForm->DBEdit3(), "Extra");
  FForm->Button(2)->click();
  EXPECT_EQ(StoredRecords().back(), (Stored{"second", "beta", "", "extra"}));
}

// The record-form cases, each on a file holding one record ("kept").
TEST_F(OrbFormTest, RecordFormCases) {
  struct Case {
    const char* name;
    std::function<void(OrbFormTest&, TForm1&)> act;
    Asked asked;
    std::vector<Stored> stored;
  };
  const Stored kept{"kept note", "kept", "", ""};
  const Case cases[] = {
      {"empty first keyword is refused on Save",
       [](OrbFormTest& t, TForm1& f) {
         f.Button(1)->click();
         TypeText(f.DBMemo1(), "no keyword");
         f.Button(2)->click();
         EXPECT_EQ(t.Table().State(), dsInsert);
       },
       {"message: Tab data cannot be empty!"},
       {kept}},
      {"Done while inserting discards",
       [](OrbFormTest&, TForm1& f) {
         f.Button(1)->click();
         TypeText(f.DBEdit1(), "unsaved");
       },
       {},
       {kept}},
      {"No on Delete keeps the record",
       [](OrbFormTest& t, TForm1& f) {
         t.FPrompts.QueueConfirm(TPromptAnswer::kNo);
         f.Button(5)->click();
       },
       {"confirm: Delete This Record?"},
       {kept}},
      {"Cancel on Delete keeps the record",
       [](OrbFormTest& t, TForm1& f) {
         t.FPrompts.QueueConfirm(TPromptAnswer::kCancel);
         f.Button(5)->click();
       },
       {"confirm: Delete This Record?"},
       {kept}},
      {"Yes on Delete deletes",
       [](OrbFormTest& t, TForm1& f) {
         t.FPrompts.QueueConfirm(TPromptAnswer::kYes);
         f.Button(5)->click();
       },
       {"confirm: Delete This Record?"},
       {}},
      {"Delete while inserting cancels the new record",
       [](OrbFormTest& t, TForm1& f) {
         f.Button(1)->click();
         TypeText(f.DBEdit1(), "new");
         t.FPrompts.QueueConfirm(TPromptAnswer::kYes);
         f.Button(5)->click();
         EXPECT_EQ(t.Table().State(), dsBrowse);
       },
       {"confirm: Delete This Record?"},
       {kept}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CloseWindow();
    std::filesystem::remove(DataFile());
    CreateJotbinDataFile(DataFile());
    OpenWindow();
    NewRecord("kept note", "kept");
    FPrompts.ClearAsked();
    c.act(*this, *FForm);
    EXPECT_EQ(FPrompts.Asked(), c.asked);
    const int terminated = FTerminated;
    EXPECT_EQ(StoredRecords(), c.stored);
    EXPECT_EQ(FTerminated, terminated + 1);  // Done ended the program
  }
}

TEST_F(OrbFormTest, MissingDataFileNamesItsPathAndDoneStillEnds) {
  TForm1& form = OpenWindow();
  EXPECT_EQ(FPrompts.Asked(), Asked{"error: Database file '" + DataFile() + "' does not exist"});
  EXPECT_FALSE(Table().Active());
  EXPECT_EQ(form.windowTitle(), "Jotbin");
  EXPECT_FALSE(std::filesystem::exists(DataFile()));
  form.Button(6)->click();
  EXPECT_EQ(FTerminated, 1);
  FForm.reset();
  FStorage.reset();
}

TEST_F(OrbFormTest, DataFileWithoutTableJBIsReported) {
  {
    TORBDatabase database;
    database.SetDatabaseName("Creator");
    database.SetDatabaseFileName(DataFile());
    database.CreateDatabase();
  }
  TForm1& form = OpenWindow();
  EXPECT_EQ(FPrompts.Asked(), Asked{"error: Table 'JB' does not exist. - Native error: 30396"});
  EXPECT_FALSE(Table().Active());
  form.Button(6)->click();
  EXPECT_EQ(FTerminated, 1);
}

TEST_F(OrbFormTest, DeleteOnAnEmptyTableReportsTheEmptyDataset) {
  CreateJotbinDataFile(DataFile());
  TForm1& form = OpenWindow();
  FPrompts.QueueConfirm(TPromptAnswer::kYes);
  form.Button(5)->click();
  EXPECT_EQ(FPrompts.Asked(),
            (Asked{"confirm: Delete This Record?", "error: Cannot perform this operation on an empty dataset"}));
  EXPECT_EQ(Table().State(), dsBrowse);
}

// Errors of event handlers that the framework cannot pass on (the record
// filter, the field change after a BLOB stream) reach the user as errors.
TEST_F(OrbFormTest, ErrorsOfFilterAndBlobEventsReachTheUser) {
  CreateJotbinDataFile(DataFile());
  OpenWindow();
  NewRecord("kept note", "kept");
  FPrompts.ClearAsked();
  TDataSet& t = Table();

  t.SetOnFilterRecordEvent([](TDataSet&, bool&) { DatabaseError("filter broke"); });
  t.SetFiltered(true);
  t.SetFiltered(false);
  t.SetOnFilterRecordEvent(nullptr);
  ASSERT_FALSE(FPrompts.Asked().empty());
  EXPECT_EQ(FPrompts.Asked().front(), "error: filter broke");
  FPrompts.ClearAsked();

  TField& info = t.FieldByName("info");
  info.OnChange = [](TField&) { DatabaseError("change broke"); };
  t.Edit();
  {
    std::unique_ptr<TStream> stream = t.CreateBlobStream(info, bmWrite);
    ASSERT_NE(stream, nullptr);
    stream->Write("new note", 8);
  }
  info.OnChange = nullptr;
  EXPECT_EQ(FPrompts.Asked(), Asked{"error: change broke"});
  t.Post();
  EXPECT_EQ(StoredRecords(), (std::vector<Stored>{{"new note", "kept", "", ""}}));
}

}  // namespace
}  // namespace orb
