// What data links hear, in which order; controls disabled; field links of
// controls; master links; and the refusal of circular links.

#include <gtest/gtest.h>

#include "tests/support/vector_dataset.h"

namespace orb::test {
namespace {

// Writes each notification as a word, with the field's name or the scroll
// distance.
class TRecordingLink : public TDataLink {
 public:
  std::vector<std::string> Log;

 protected:
  void ActiveChanged() override { Log.push_back(Active() ? "active" : "inactive"); }
  void EditingChanged() override { Log.push_back(Editing() ? "editing" : "not-editing"); }
  void DataSetChanged() override { Log.push_back("changed"); }
  void DataSetScrolled(int distance) override { Log.push_back("scrolled " + std::to_string(distance)); }
  void RecordChanged(TField* field) override { Log.push_back("record " + (field ? field->FieldName() : "-")); }
  void UpdateData() override { Log.push_back("update"); }
  void CheckBrowseMode() override { Log.push_back("check"); }
};

using Log = std::vector<std::string>;

class DataLinkTest : public ::testing::Test {
 protected:
  DataLinkTest() : FData(MakeNumbered(5)) {
    FSource.SetDataSet(FData.get());
    FLink.SetDataSource(&FSource);
  }
  // The words logged by `fn`.
  Log During(const std::function<void()>& fn) {
    FLink.Log.clear();
    fn();
    return FLink.Log;
  }

  std::unique_ptr<TVectorDataSet> FData;
  TDataSource FSource;
  TRecordingLink FLink;
};

TEST_F(DataLinkTest, NotificationsOfEachOperation) {
  struct Step {
    const char* name;
    std::function<void(TVectorDataSet&)> act;
    Log expected;
  };
  const std::vector<Step> steps = {
      {"open", [](TVectorDataSet& ds) { ds.Open(); }, {"active"}},
      {"next", [](TVectorDataSet& ds) { ds.Next(); }, {"check", "scrolled -1"}},
      {"edit", [](TVectorDataSet& ds) { ds.Edit(); }, {"check", "editing", "record -"}},
      {"set field", [](TVectorDataSet& ds) { ds.FieldByName("NAME").SetAsString("x"); }, {"record NAME"}},
      {"post", [](TVectorDataSet& ds) { ds.Post(); }, {"update", "check", "not-editing", "changed"}},
      {"insert", [](TVectorDataSet& ds) { ds.Insert(); }, {"check", "editing", "changed"}},
      {"cancel", [](TVectorDataSet& ds) { ds.Cancel(); }, {"check", "not-editing", "changed"}},
      {"delete", [](TVectorDataSet& ds) { ds.Delete(); }, {"check", "changed"}},
      {"last", [](TVectorDataSet& ds) { ds.Last(); }, {"check", "changed"}},
      {"refresh", [](TVectorDataSet& ds) { ds.Refresh(); }, {"check", "changed"}},
      {"close", [](TVectorDataSet& ds) { ds.Close(); }, {"inactive"}},
  };
  for (const Step& step : steps) EXPECT_EQ(During([&] { step.act(*FData); }), step.expected) << step.name;
}

TEST_F(DataLinkTest, DisabledControlsHearOneChangeAtTheEnd) {
  FData->Open();
  const Log log = During([&] {
    FData->DisableControls();
    FData->DisableControls();
    FData->Next();
    FData->Edit();
    FData->FieldByName("NAME").SetAsString("y");
    FData->Post();
    FData->EnableControls();
    EXPECT_TRUE(FLink.Log.empty());
    FData->EnableControls();
  });
  EXPECT_EQ(log, (Log{"changed"}));
  EXPECT_EQ(FData->RowText(1, 1), "y");
  // A state left different from the one at DisableControls is announced.
  const Log edited = During([&] {
    FData->DisableControls();
    FData->Edit();
    FData->EnableControls();
  });
  EXPECT_EQ(edited, (Log{"editing", "changed"}));
}

TEST_F(DataLinkTest, SourceStateAndEvents) {
  std::vector<TDataSetState> states;
  int data_changes = 0;
  FSource.OnStateChange = [&](TDataSource& source) { states.push_back(source.State()); };
  FSource.OnDataChange = [&](TDataSource&, TField*) { ++data_changes; };
  FData->Open();
  FSource.Edit();  // AutoEdit
  EXPECT_EQ(FData->State(), dsEdit);
  FData->Cancel();
  FSource.SetAutoEdit(false);
  FSource.Edit();
  EXPECT_EQ(FData->State(), dsBrowse);
  FSource.SetEnabled(false);
  EXPECT_EQ(During([&] { FData->Next(); }), Log{});
  FSource.SetEnabled(true);
  FData->Close();
  EXPECT_EQ(states, (std::vector<TDataSetState>{dsBrowse, dsEdit, dsBrowse, dsInactive, dsBrowse, dsInactive}));
  EXPECT_GT(data_changes, 0);
}

TEST_F(DataLinkTest, FieldLinkWritesThePendingTextOnPost) {
  TFieldDataLink edit;
  std::string shown;
  std::string typed;
  edit.SetFieldName("NAME");
  edit.OnDataChange = [&](TFieldDataLink& link) { shown = link.Field() ? link.Field()->AsString() : "<none>"; };
  edit.OnUpdateData = [&](TFieldDataLink& link) { link.Field()->SetAsString(typed); };
  edit.SetDataSource(&FSource);
  EXPECT_EQ(edit.Field(), nullptr);
  FData->Open();
  ASSERT_NE(edit.Field(), nullptr);
  EXPECT_EQ(shown, "r1");
  FData->Next();
  EXPECT_EQ(shown, "r2");

  // Typing: the link puts the dataset into edit state, then Post asks it
  // for the text.
  ASSERT_TRUE(edit.Edit());
  typed = "typed";
  edit.Modify();
  FData->Post();
  EXPECT_EQ(FData->RowText(1, 1), "typed");
  EXPECT_EQ(shown, "typed");
  EXPECT_FALSE(edit.Modified());

  FData->SetReadOnly(true);
  EXPECT_FALSE(edit.CanModify());
  FData->Close();
  EXPECT_EQ(edit.Field(), nullptr);
}

TEST(CircularLinkTest, SourcesThatLeadBackAreRefused) {
  auto a = MakeNumbered(1), b = MakeNumbered(1), c = MakeNumbered(1);
  TDataSource source_a, source_b, source_c;
  source_a.SetDataSet(a.get());
  source_b.SetDataSet(b.get());
  source_c.SetDataSet(c.get());
  b->SetMasterSource(&source_a);  // a -> b
  c->SetMasterSource(&source_b);  // b -> c
  const std::string circular(kSCircularDataLink);
  EXPECT_EQ(DbError([&] { a->SetMasterSource(&source_c); }), circular);
  EXPECT_EQ(DbError([&] { a->SetMasterSource(&source_a); }), circular);
  EXPECT_EQ(a->GetDataSource(), nullptr);
  // The same loop closed from the source's side.
  TDataSource loose;
  a->SetMasterSource(&loose);
  EXPECT_EQ(DbError([&] { loose.SetDataSet(c.get()); }), circular);
  EXPECT_EQ(loose.DataSet(), nullptr);
  EXPECT_NO_THROW(loose.SetDataSet(MakeNumbered(0).get()));
  loose.SetDataSet(nullptr);
}

TEST(MasterLinkTest, DetailHearsMasterKeyChanges) {
  auto master = MakeNumbered(3);
  auto detail = MakeNumbered(1);
  TDataSource source;
  source.SetDataSet(master.get());
  TMasterDataLink link(detail.get());
  std::vector<int> keys;
  int disabled = 0;
  link.OnMasterChange = [&](TMasterDataLink& l) { keys.push_back(l.Fields().front()->AsInteger()); };
  link.OnMasterDisable = [&](TMasterDataLink&) { ++disabled; };
  link.SetFieldNames("NUM");
  link.SetDataSource(&source);
  detail->Open();
  master->Open();
  master->Next();
  master->Edit();
  master->FieldByName("NAME").SetAsString("n");  // not a key field: nothing
  master->FieldByName("NUM").SetAsInteger(20);
  master->Cancel();
  master->Close();
  // open, scroll, edit (the record is announced again), key field set,
  // cancel (the buffers re-read).
  EXPECT_EQ(keys, (std::vector<int>{1, 2, 2, 20, 2}));
  EXPECT_EQ(disabled, 1);
}

}  // namespace
}  // namespace orb::test
