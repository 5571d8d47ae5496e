// The record keeper's window over the in-memory dataset: start-up, the
// buttons and their messages, with the prompts answered by a script.

#include <gtest/gtest.h>

#include <QTest>
#include <fstream>

#include "app/form1.h"
#include "components/dataset.h"
#include "components/prompts.h"
#include "engine/platform/dataset_error.h"
#include "engine/platform/version.h"
#include "tests/support/disk_scratch.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/vector_dataset.h"
#include "tests/ui/ui_test_util.h"

// This test program carries a version record, so that start-up reads a
// real one from the running executable.
#include "engine/platform/file_version_embed.h"

namespace orb {
namespace {

using orb::test::TColumn;
using orb::test::TypeText;
using orb::test::TVectorDataSet;
using Asked = std::vector<std::string>;

// Storage over the in-memory dataset: a data file is "there" when the
// file exists; table JB is the dataset.
class TVectorStorage final : public TJotbinStorage {
 public:
  TVectorStorage()
      : FTable(std::vector<TColumn>{
            {"numero", ftInteger}, {"info", ftFmtMemo}, {"tab1", ftString, 20}, {"tab2", ftString, 20}, {"tab3", ftString, 20}}) {}

  TVectorDataSet& Vector() { return FTable; }
  TDataSet* Table() override { return &FTable; }
  void OpenDatabase(const std::string& file_name) override {
    if (!std::ifstream(file_name)) DatabaseError(DatabaseFileMissingMessage(file_name));
    FOpenedFile = file_name;
    FDatabaseOpen = true;
  }
  void OpenTable(const std::string& table_name) override {
    if (table_name != "JB") DatabaseError("Table '" + table_name + "' does not exist.");
    FTable.Open();
  }
  void CloseDatabase() override {
    FDatabaseOpen = false;
    if (FFailClose) DatabaseError("Database is busy");
  }

  std::string FOpenedFile;
  bool FDatabaseOpen = false;
  bool FFailClose = false;

 private:
  TVectorDataSet FTable;
};

class FormTest : public ::testing::Test {
 protected:
  FormTest() : FScope(FPrompts) { ResetRows(); }

  // Two stored records; the table closed.
  void ResetRows() {
    FStorage.Vector().Close();
    FStorage.Vector().Rows().clear();
    FStorage.Vector().AddRow({"1", "first note", "alpha", "", ""});
    FStorage.Vector().AddRow({"2", "second note", "beta", "b2", "b3"});
  }

  void CreateDataFile() { std::ofstream(FScratch.File("JBdata.ORB")) << "x"; }

  // A window over the storage, started up with the data file in place.
  std::unique_ptr<TForm1> StartForm(bool with_file = true) {
    if (with_file) CreateDataFile();
    auto form = std::make_unique<TForm1>(FStorage);
    form->SetExecutableDir(FScratch.File(""));
    form->SetOnTerminate([this] { ++FTerminated; });
    form->FormCreate();
    form->show();
    return form;
  }

  int RowCount() { return static_cast<int>(FStorage.Vector().Rows().size()); }

  orb::testing::DiskScratch FScratch;
  TVectorStorage FStorage;
  orb::testing::TScriptedPrompts FPrompts;
  TORBPromptsScope FScope;
  int FTerminated = 0;
};

TEST_F(FormTest, WindowHasItsComponentsAndSettings) {
  TForm1 form(FStorage);
  EXPECT_EQ(form.windowTitle(), "Jotbin");
  EXPECT_EQ(form.size(), QSize(581, 281));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  const char* captions[] = {"New", "Save", "Find", "Next", "Delete", "Done"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(form.Button(i + 1)->text(), captions[i]);
  EXPECT_EQ(form.Label1()->text(), "   Tab1 &  Find     ");
  EXPECT_EQ(form.Label2()->text(), "Tab2");
  EXPECT_EQ(form.Label3()->text(), "Tab3");
  EXPECT_EQ(form.Label4()->text(), "");
  EXPECT_EQ(form.Label4()->width(), 581 - 8);
  EXPECT_EQ(form.Label4()->font().pointSize(), 10);
  EXPECT_TRUE(form.font().bold());
  EXPECT_EQ(form.DBMemo1()->DataField(), "info");
  EXPECT_EQ(form.DBMemo1()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  TORBDBEdit* edits[] = {form.DBEdit1(), form.DBEdit2(), form.DBEdit3()};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(edits[i]->DataField(), "tab" + std::to_string(i + 1));
    EXPECT_EQ(edits[i]->CharCase(), ecLowerCase);
    EXPECT_EQ(edits[i]->DataSource(), form.DataSource1());
  }
  EXPECT_EQ(form.DataSource1()->DataSet(), FStorage.Table());
}

TEST_F(FormTest, StartUpOpensTheLastRecordAndPutsTheVersionInTheTitle) {
  auto form = StartForm();
  EXPECT_EQ(FStorage.FOpenedFile, FScratch.File("JBdata.ORB"));
  EXPECT_EQ(form->DataFilePath(), FScratch.File("JBdata.ORB"));
  EXPECT_EQ(form->DBEdit1()->text(), "beta");
  EXPECT_EQ(form->DBEdit3()->text(), "b3");
  EXPECT_EQ(form->DBMemo1()->toPlainText(), "second note");
  const std::string version = std::to_string(ORB_VERSION_MAJOR) + "." + std::to_string(ORB_VERSION_MINOR) + "." +
                              std::to_string(ORB_VERSION_PATCH) + "." + std::to_string(ORB_VERSION_BUILD);
  EXPECT_EQ(form->VersionText(), version);
  EXPECT_EQ(form->windowTitle().toStdString(), "Jotbin  - ver: " + version);
  EXPECT_EQ(FPrompts.Asked(), Asked{});
}

TEST_F(FormTest, MissingDataFileIsReportedWithItsPathAndTheWindowStays) {
  auto form = StartForm(/*with_file=*/false);
  EXPECT_EQ(FPrompts.Asked(), Asked{"error: Database file '" + FScratch.File("JBdata.ORB") + "' does not exist"});
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->windowTitle(), "Jotbin");
  EXPECT_FALSE(FStorage.Table()->Active());
  EXPECT_FALSE(form->DBEdit1()->isEnabled());
  EXPECT_EQ(form->DBEdit1()->text(), "");

  // Done still ends the program.
  form->Button(6)->click();
  EXPECT_EQ(FTerminated, 1);
  EXPECT_FALSE(form->isVisible());
}

TEST_F(FormTest, AFailedVersionReadLeavesTheTableOpenAndTheTitleBare) {
  CreateDataFile();
  TForm1 form(FStorage);
  form.SetExecutableDir(FScratch.File(""));
  form.SetVersionReader([]() -> std::string { throw Exception("System Error.  Code: 61.\nNo data available"); });
  form.FormCreate();
  EXPECT_EQ(FPrompts.Asked(), Asked{"error: System Error.  Code: 61.\nNo data available"});
  EXPECT_EQ(form.windowTitle(), "Jotbin");
  EXPECT_TRUE(FStorage.Table()->Active());
  EXPECT_EQ(form.DBEdit1()->text(), "beta");
}

// Save: what the first keyword edit shows decides.
TEST_F(FormTest, SaveCases) {
  struct Case {
    const char* name;
    bool new_record;
    bool clear_tab1;
    QString tab1_typed;
    QString tab2_typed;
    bool refused;
    TDataSetState state_after;
    int rows_after;
    std::string stored_tab1;
    std::string stored_tab2;
  };
  const Case cases[] = {
      {"new, empty first keyword", true, false, "", "two", true, dsInsert, 2, "", ""},
      {"edited, first keyword cleared", false, true, "", "", true, dsEdit, 2, "", ""},
      {"new, upper-case keywords", true, false, "HeLLo", "TWO", false, dsBrowse, 3, "hello", "two"},
      {"edited, keyword typed on", false, false, "X", "", false, dsBrowse, 2, "betax", "b2"},
      {"browsed, nothing to post", false, false, "", "", false, dsBrowse, 2, "beta", "b2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetRows();
    auto form = StartForm();
    FPrompts.ClearAsked();
    if (c.new_record) form->Button(1)->click();
    TORBDBEdit* tab1 = form->DBEdit1();
    if (c.clear_tab1) {
      tab1->selectAll();
      QTest::keyClick(tab1, Qt::Key_Backspace);
    }
    tab1->end(false);
    TypeText(tab1, c.tab1_typed);
    TypeText(form->DBEdit2(), c.tab2_typed);
    form->Button(2)->click();

    if (c.refused) {
      EXPECT_EQ(FPrompts.Asked(), Asked{"message: Tab data cannot be empty!"});
      EXPECT_EQ(form->Label4()->text(), c.new_record ? CaptionText(kSRecordCreated) : QString());
    } else {
      EXPECT_EQ(FPrompts.Asked(), Asked{});
      EXPECT_EQ(form->Label4()->text(), "Record saved.");
    }
    EXPECT_EQ(FStorage.Table()->State(), c.state_after);
    EXPECT_EQ(RowCount(), c.rows_after);
    if (!c.refused) {
      const size_t row = 1;  // a new record goes before the last one
      EXPECT_EQ(FStorage.Vector().RowText(row, 2), c.stored_tab1);
      EXPECT_EQ(FStorage.Vector().RowText(row, 3), c.stored_tab2);
    }
  }
}

TEST_F(FormTest, NewFocusesTheMemoAndSaysWhatToDo) {
  auto form = StartForm();
  form->Button(1)->click();
  EXPECT_EQ(FStorage.Table()->State(), dsInsert);
  EXPECT_EQ(form->Label4()->text(), "New record created.Fill Memo & One or more Tab, Click on Save");
  EXPECT_EQ(form->DBEdit1()->text(), "");
  EXPECT_EQ(form->focusWidget(), form->DBMemo1());
  TypeText(form->DBMemo1(), "Memo Text");
  TypeText(form->DBEdit1(), "k");
  form->Button(2)->click();
  ASSERT_EQ(RowCount(), 3);
  EXPECT_EQ(FStorage.Vector().RowText(1, 1), "Memo Text");  // the memo keeps its case
  EXPECT_EQ(FStorage.Vector().RowText(1, 2), "k");
}

TEST_F(FormTest, DeleteAsksFirstAndOnlyYesDeletes) {
  struct Case {
    TPromptAnswer answer;
    int rows_after;
  };
  for (const Case& c : {Case{TPromptAnswer::kNo, 2}, Case{TPromptAnswer::kCancel, 2}, Case{TPromptAnswer::kYes, 1}}) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    ResetRows();
    auto form = StartForm();
    FPrompts.QueueConfirm(c.answer);
    FPrompts.ClearAsked();
    form->Button(5)->click();
    EXPECT_EQ(FPrompts.Asked(), Asked{"confirm: Delete This Record?"});
    EXPECT_EQ(RowCount(), c.rows_after);
    EXPECT_EQ(FStorage.Vector().RowText(0, 2), "alpha");
    EXPECT_EQ(form->DBEdit1()->text(), c.rows_after == 2 ? "beta" : "alpha");
  }
}

TEST_F(FormTest, DeleteWhileInsertingCancelsTheNewRecord) {
  auto form = StartForm();
  form->Button(1)->click();
  TypeText(form->DBEdit1(), "new");
  FPrompts.QueueConfirm(TPromptAnswer::kYes);
  form->Button(5)->click();
  EXPECT_EQ(FStorage.Table()->State(), dsBrowse);
  EXPECT_EQ(RowCount(), 2);
  EXPECT_EQ(form->DBEdit1()->text(), "beta");
}

TEST_F(FormTest, DeleteOnAnEmptyTableReportsTheEmptyDataset) {
  FStorage.Vector().Rows().clear();
  auto form = StartForm();
  FPrompts.QueueConfirm(TPromptAnswer::kYes);
  form->Button(5)->click();
  EXPECT_EQ(FPrompts.Asked(),
            (Asked{"confirm: Delete This Record?", "error: Cannot perform this operation on an empty dataset"}));
  EXPECT_EQ(FStorage.Table()->State(), dsBrowse);
}

TEST_F(FormTest, FindAndNextDoNothing) {
  auto form = StartForm();
  form->Button(3)->click();
  form->Button(4)->click();
  EXPECT_EQ(FPrompts.Asked(), Asked{});
  EXPECT_EQ(form->DBEdit1()->text(), "beta");
  EXPECT_EQ(FStorage.Table()->State(), dsBrowse);
  EXPECT_EQ(form->Label4()->text(), "");
  EXPECT_EQ(FTerminated, 0);
}

TEST_F(FormTest, DoneWhileInsertingDiscardsAndEnds) {
  auto form = StartForm();
  form->Button(1)->click();
  TypeText(form->DBMemo1(), "unsaved");
  TypeText(form->DBEdit1(), "unsaved");
  form->Button(6)->click();
  EXPECT_EQ(FTerminated, 1);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(FStorage.Table()->Active());
  EXPECT_FALSE(FStorage.FDatabaseOpen);
  EXPECT_EQ(RowCount(), 2);
  EXPECT_EQ(FPrompts.Asked(), Asked{});
}

TEST_F(FormTest, DoneEndsTheProgramWhenClosingRaises) {
  auto form = StartForm();
  TypeText(form->DBEdit2(), "edited");  // the table is editing
  FStorage.FFailClose = true;
  form->Button(6)->click();
  EXPECT_EQ(FTerminated, 1);
  EXPECT_EQ(FPrompts.Asked(), Asked{"error: Database is busy"});
  EXPECT_FALSE(FStorage.Table()->Active());
  EXPECT_EQ(FStorage.Vector().RowText(1, 3), "b2");
}

TEST_F(FormTest, ClosingTheWindowClosesTheStorageWithoutSaving) {
  auto form = StartForm();
  TypeText(form->DBEdit1(), "x");
  form->close();
  EXPECT_FALSE(FStorage.Table()->Active());
  EXPECT_FALSE(FStorage.FDatabaseOpen);
  EXPECT_EQ(FStorage.Vector().RowText(1, 2), "beta");
  EXPECT_EQ(FPrompts.Asked(), Asked{});
}

TEST_F(FormTest, ButtonsWithoutATableReportAClosedDataset) {
  auto form = StartForm(/*with_file=*/false);
  FPrompts.ClearAsked();
  form->Button(1)->click();
  EXPECT_EQ(FPrompts.Asked(), Asked{"error: Cannot perform this operation on a closed dataset"});
  EXPECT_EQ(form->Label4()->text(), "");
}

}  // namespace
}  // namespace orb
