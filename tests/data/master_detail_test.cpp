#include <gtest/gtest.h>

#include "framework/data/data_source.h"
#include "tests/data/fixture.h"

namespace tersify::testing {
namespace {

// Orders of the people table, selected by the parameter "id" (and "name").
std::unique_ptr<TMemDataSet> MakeOrders() {
  auto ds = std::make_unique<TMemDataSet>();
  ds->columns = {{"order_no", ftInteger}};
  ds->rows = {{100}};
  ds->has_params = true;
  ds->params.CreateParam(ftInteger, "id", TParamType::ptInput);
  ds->params.CreateParam(ftString, "name", TParamType::ptInput);
  return ds;
}

TEST(MasterDetail, DetailTakesTheMasterRowAndIsRunAgain) {
  auto master = MakePeople();
  TDataSource source(nullptr);
  source.SetDataSet(master.get());
  auto detail = MakeOrders();
  detail->SetMasterSource(&source);
  detail->SetMasterFields("id");
  master->Open();
  EXPECT_EQ(detail->opens, 0);                     // a closed detail is not opened
  EXPECT_EQ(detail->params.ParamByName("id").AsInteger(), 1);  // but takes the value
  detail->Open();
  master->Next();
  master->Next();
  EXPECT_EQ(detail->param_values_at_open,
            (std::vector<std::string>{"id=1;name=", "id=2;name=", "id=3;name="}));
  EXPECT_TRUE(detail->Active());

  // Post, delete and refresh change the master row too.
  detail->param_values_at_open.clear();
  master->Edit();
  master->FieldByName("id")->SetAsInteger(30);
  EXPECT_TRUE(detail->param_values_at_open.empty());  // a value change alone is no new row
  master->Post();
  master->Delete();
  master->Refresh();
  EXPECT_EQ(detail->param_values_at_open,
            (std::vector<std::string>{"id=30;name=", "id=4;name=", "id=1;name="}));
}

TEST(MasterDetail, SeveralMasterFieldsSeparatedBySemicolons) {
  auto master = MakePeople();
  TDataSource source(nullptr);
  source.SetDataSet(master.get());
  auto detail = MakeOrders();
  detail->SetMasterSource(&source);
  detail->SetMasterFields("id; name");
  detail->Open();
  master->Open();
  master->Locate("name", "Bobby", 0);
  EXPECT_EQ(detail->param_values_at_open.back(), "id=3;name=Bobby");
}

TEST(MasterDetail, MissingParameterRaises) {
  auto master = MakePeople();
  TDataSource source(nullptr);
  source.SetDataSet(master.get());
  auto detail = MakeOrders();
  detail->SetMasterSource(&source);
  detail->SetMasterFields("amount");
  try {
    master->Open();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Parameter 'amount' not found");
  }
}

TEST(MasterDetail, DisabledSourceAndDestroyedPartsAreLeftAlone) {
  auto master = MakePeople();
  auto source = std::make_unique<TDataSource>(nullptr);
  source->SetDataSet(master.get());
  auto detail = MakeOrders();
  detail->SetMasterSource(source.get());
  detail->SetMasterFields("id");
  detail->Open();
  source->SetEnabled(false);
  master->Open();
  master->Next();
  EXPECT_EQ(detail->opens, 1);
  source->SetEnabled(true);
  master->Next();
  EXPECT_EQ(detail->opens, 2);
  source.reset();  // the detail forgets its master source
  EXPECT_EQ(detail->MasterSource(), nullptr);
  master->Next();
  master.reset();
  EXPECT_TRUE(detail->Active());
}

TEST(DataSourceEvents, OnDataChangeForRowsAndValues) {
  auto ds = MakePeople();
  TDataSource source(nullptr);
  source.SetDataSet(ds.get());
  std::vector<std::string> seen;
  auto changed = [&](TObject*, TField* field) { seen.push_back(field ? field->FieldName() : "row"); };
  source.OnDataChange = TDataChangeEvent::Of(changed);
  ds->Open();
  ds->Next();
  ds->Edit();
  ds->FieldByName("name")->SetAsString("n");
  ds->Post();
  EXPECT_EQ(seen, (std::vector<std::string>{"row", "row", "name", "row"}));
}

TEST(DataSourceEvents, DatasetDestroyedFirstLeavesTheSourceEmpty) {
  TDataSource source(nullptr);
  {
    auto ds = MakePeople();
    source.SetDataSet(ds.get());
  }
  EXPECT_EQ(source.DataSet(), nullptr);
}

}  // namespace
}  // namespace tersify::testing
