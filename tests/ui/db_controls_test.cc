// The data-aware line edit and memo over the in-memory dataset: what they
// show, how typing reaches the dataset, and when they refuse it.

#include <gtest/gtest.h>

#include <QTest>

#include "components/dataset.h"
#include "components/prompts.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/vector_dataset.h"
#include "tests/ui/ui_test_util.h"
#include "ui/db_edit.h"
#include "ui/db_memo.h"

namespace orb {
namespace {

using orb::test::TColumn;
using orb::test::TypeText;
using orb::test::TVectorDataSet;

class DBControlsTest : public ::testing::Test {
 protected:
  DBControlsTest()
      : FDataSet(std::vector<TColumn>{{"NUM", ftInteger}, {"NAME", ftString, 10}, {"NOTE", ftMemo}}),
        FScope(FPrompts) {
    FDataSet.AddRow({"1", "Ann", "first note"});
    FDataSet.AddRow({"2", "bob", "second note"});
    FSource.SetDataSet(&FDataSet);
    FEdit.SetDataSource(&FSource);
    FEdit.SetDataField("NAME");
    FMemo.SetDataSource(&FSource);
    FMemo.SetDataField("NOTE");
  }

  TVectorDataSet FDataSet;
  TDataSource FSource;
  orb::testing::TScriptedPrompts FPrompts;
  TORBPromptsScope FScope;
  TORBDBEdit FEdit;
  TORBDBMemo FMemo;
};

TEST_F(DBControlsTest, ClosedDatasetLeavesControlsEmptyAndDisabled) {
  EXPECT_EQ(FEdit.text(), "");
  EXPECT_FALSE(FEdit.isEnabled());
  EXPECT_EQ(FMemo.toPlainText(), "");
  EXPECT_FALSE(FMemo.isEnabled());

  FDataSet.Open();
  EXPECT_TRUE(FEdit.isEnabled());
  EXPECT_EQ(FEdit.text(), "Ann");
  EXPECT_EQ(FMemo.toPlainText(), "first note");

  FDataSet.Close();
  EXPECT_EQ(FEdit.text(), "");
  EXPECT_FALSE(FEdit.isEnabled());
  EXPECT_EQ(FMemo.toPlainText(), "");
  EXPECT_FALSE(FMemo.isEnabled());
}

TEST_F(DBControlsTest, ShowTheRecordOfEveryMove) {
  FDataSet.Open();
  FDataSet.Last();
  EXPECT_EQ(FEdit.text(), "bob");
  EXPECT_EQ(FMemo.toPlainText(), "second note");
  FDataSet.First();
  EXPECT_EQ(FEdit.text(), "Ann");
  EXPECT_EQ(FEdit.maxLength(), 10);  // the string field's size
}

TEST_F(DBControlsTest, TypingIntoABrowsedRecordEditsItAndPostWritesTheText) {
  FDataSet.Open();
  FEdit.setCursorPosition(3);
  TypeText(&FEdit, "ie");
  EXPECT_EQ(FDataSet.State(), dsEdit);
  EXPECT_EQ(FEdit.text(), "Annie");  // kept through the change of state
  FMemo.moveCursor(QTextCursor::End);
  TypeText(&FMemo, "!");
  EXPECT_EQ(FMemo.toPlainText(), "first note!");

  FDataSet.Post();
  EXPECT_EQ(FDataSet.State(), dsBrowse);
  EXPECT_EQ(FDataSet.RowText(0, 1), "Annie");
  EXPECT_EQ(FDataSet.RowText(0, 2), "first note!");
  EXPECT_TRUE(FPrompts.Asked().empty());
}

TEST_F(DBControlsTest, TypedTextStaysOutOfTheFieldUntilTheDatasetAsks) {
  FDataSet.Open();
  FEdit.setCursorPosition(3);
  TypeText(&FEdit, "x");
  EXPECT_EQ(FDataSet.FieldByName("NAME").AsString(), "Ann");
  FDataSet.UpdateRecord();
  EXPECT_EQ(FDataSet.FieldByName("NAME").AsString(), "Annx");
}

TEST_F(DBControlsTest, CancelAndEscapeShowTheStoredValueAgain) {
  FDataSet.Open();
  TypeText(&FEdit, "zz");
  FDataSet.Cancel();
  EXPECT_EQ(FEdit.text(), "Ann");

  TypeText(&FEdit, "zz");
  QTest::keyClick(&FEdit, Qt::Key_Escape);
  EXPECT_EQ(FEdit.text(), "Ann");
  FDataSet.Post();
  EXPECT_EQ(FDataSet.RowText(0, 1), "Ann");
}

TEST_F(DBControlsTest, ReadOnlyDatasetOrControlRefusesTyping) {
  FDataSet.SetReadOnly(true);
  FDataSet.Open();
  EXPECT_TRUE(FEdit.isReadOnly());
  EXPECT_TRUE(FMemo.isReadOnly());
  TypeText(&FEdit, "x");
  EXPECT_EQ(FEdit.text(), "Ann");
  EXPECT_EQ(FDataSet.State(), dsBrowse);

  FDataSet.Close();
  FDataSet.SetReadOnly(false);
  FDataSet.Open();
  EXPECT_FALSE(FEdit.isReadOnly());
  FEdit.SetReadOnly(true);
  EXPECT_TRUE(FEdit.isReadOnly());
}

TEST_F(DBControlsTest, LowerCaseEntryConvertsBeforeTheField) {
  FEdit.SetCharCase(ecLowerCase);
  FDataSet.Open();
  FDataSet.Last();
  FEdit.clear();  // not typed: no edit state yet
  TypeText(&FEdit, QString::fromUtf8("XÄy"));
  EXPECT_EQ(FEdit.text(), QString::fromUtf8("xäy"));
  FDataSet.Post();
  EXPECT_EQ(FDataSet.RowText(1, 1), "x\xE4y");  // Windows-1252 in the field
}

TEST_F(DBControlsTest, AnEditRefusedByTheDatasetIsReportedAndUndone) {
  FDataSet.BeforeEdit = [](TDataSet&) { DatabaseError("Record is locked"); };
  FDataSet.Open();
  FEdit.setCursorPosition(3);
  TypeText(&FEdit, "x");
  EXPECT_EQ(FDataSet.State(), dsBrowse);
  EXPECT_EQ(FEdit.text(), "Ann");
  ASSERT_FALSE(FPrompts.Asked().empty());
  EXPECT_EQ(FPrompts.Asked()[0], "error: Record is locked");
}

TEST_F(DBControlsTest, TypingIntoAnEmptyDatasetInsertsARecord) {
  FDataSet.Rows().clear();
  FDataSet.Open();
  TypeText(&FEdit, "new");
  EXPECT_EQ(FDataSet.State(), dsInsert);
  FDataSet.Post();
  ASSERT_EQ(FDataSet.Rows().size(), 1u);
  EXPECT_EQ(FDataSet.RowText(0, 1), "new");
}

}  // namespace
}  // namespace orb
