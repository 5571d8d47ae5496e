// Owned components, names, loading and design state.

#include <gtest/gtest.h>

#include "tests/support/vector_dataset.h"

namespace orb::test {
namespace {

class TProbe : public TComponent {
 public:
  TProbe(TComponent* owner, std::vector<std::string>& log) : TComponent(owner), FLog(log) {}
  ~TProbe() override { FLog.push_back("destroyed " + Name()); }

 protected:
  void Loaded() override { FLog.push_back("loaded " + Name()); }
  void Notification(TComponent* component, TOperation operation) override {
    if (component != this) FLog.push_back(Name() + (operation == opInsert ? " saw insert" : " saw remove"));
  }

 private:
  std::vector<std::string>& FLog;
};

TEST(ComponentTest, OwnerDestroysWhatItOwnsLastFirst) {
  std::vector<std::string> log;
  auto* form = new TComponent;
  auto* a = new TProbe(form, log);
  a->SetName("a");
  auto* b = new TProbe(form, log);
  b->SetName("B");
  EXPECT_EQ(form->ComponentCount(), 2);
  EXPECT_EQ(form->FindComponent("b"), b);
  EXPECT_EQ(DbError([&] { a->SetName("b"); }), "A component named b already exists");
  form->BeginLoading();
  EXPECT_TRUE(a->ComponentState() & csLoading);
  form->EndLoading();
  form->SetDesigning(true);
  EXPECT_TRUE(b->Designing());
  delete form;
  EXPECT_EQ(log, (std::vector<std::string>{"a saw insert", "loaded a", "loaded B", "destroyed B", "destroyed a"}));
}

TEST(ComponentTest, OwnedOpenDatasetIsClosedWhenItsOwnerGoes) {
  auto* form = new TComponent;
  auto* data_set = new TVectorDataSet({{"NUM", ftInteger}}, form);
  data_set->AddRow({"1"});
  TDataSource source;
  source.SetDataSet(data_set);
  int closes = 0;
  data_set->AfterClose = [&](TDataSet&) { ++closes; };
  data_set->Open();
  data_set->Edit();
  delete form;  // closes without events and detaches the source
  EXPECT_EQ(closes, 0);
  EXPECT_EQ(source.DataSet(), nullptr);
  EXPECT_EQ(source.State(), dsInactive);

  auto* alone = new TVectorDataSet({{"NUM", ftInteger}});
  alone->Open();
  delete alone;  // no owner: nothing else to tell
}

}  // namespace
}  // namespace orb::test
