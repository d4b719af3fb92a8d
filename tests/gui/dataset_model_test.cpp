// The grid model over a dataset: every row without moving the current one,
// blob columns as placeholders, following moves and re-opens, moving on a click.

#include <QSignalSpy>

#include <memory>
#include <string>

#include "db/dataset.h"
#include "framework/data/data_source.h"
#include "tests/gui/gui_fixture.h"
#include "tool/gui/dataset_model.h"

namespace tersify::testing {
namespace {

class DatasetModelTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    query_ = std::make_unique<TvrDataset>(nullptr);
    source_ = std::make_unique<TDataSource>(nullptr);
    source_->SetDataSet(query_.get());
    query_->SetSQLText("select acReport, acTitle, acReportData from tqz_reports");
  }
  void TearDown() override {
    source_.reset();
    query_.reset();
    GuiTest::TearDown();
  }
  std::string Text(const gui::TDatasetModel& model, int row, int column) const {
    return model.index(row, column).data().toString().toStdString();
  }

  std::unique_ptr<TvrDataset> query_;
  std::unique_ptr<TDataSource> source_;
};

TEST_F(DatasetModelTest, ShowsEveryRowWithoutMovingTheDataset) {
  gui::TDatasetModel model(*source_);
  EXPECT_EQ(model.rowCount(), 0);  // closed
  EXPECT_EQ(model.CurrentRow(), -1);
  query_->Open();
  query_->MoveBy(3);
  ASSERT_EQ(model.rowCount(), kReportRows);
  ASSERT_EQ(model.columnCount(), 3);
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString().toStdString(), "acTitle");
  EXPECT_EQ(Text(model, 0, 0), "R100");
  EXPECT_EQ(Text(model, kReportRows - 1, 1), "Report " + std::to_string(kReportRows - 1));
  EXPECT_EQ(Text(model, 5, 2), "(BLOB)");  // never read for the grid
  EXPECT_EQ(query_->RecNo(), 4);
  EXPECT_EQ(model.CurrentRow(), 3);
}

TEST_F(DatasetModelTest, FollowsMovesAndReopens) {
  gui::TDatasetModel model(*source_);
  QSignalSpy moved(&model, &gui::TDatasetModel::currentRowChanged);
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
  query_->Open();
  EXPECT_EQ(reset.count(), 1);
  ASSERT_TRUE(query_->Locate("acReport", Variant("R107"), loCaseInsensitive));
  ASSERT_FALSE(moved.isEmpty());
  EXPECT_EQ(moved.takeLast().at(0).toInt(), 7);

  // Other rows, other columns: the model starts again.
  query_->SetSQLText("select acReport from tqz_reports where acReport >= 'R120'");
  query_->Open();
  EXPECT_EQ(reset.count(), 2);
  EXPECT_EQ(model.columnCount(), 1);
  EXPECT_EQ(model.rowCount(), kReportRows - 20);
  EXPECT_EQ(Text(model, 0, 0), "R120");
  EXPECT_EQ(moved.takeLast().at(0).toInt(), 0);
}

TEST_F(DatasetModelTest, MoveToMakesTheRowCurrentWithScrollEvents) {
  gui::TDatasetModel model(*source_);
  query_->Open();
  int scrolls = 0;
  auto count = [&](TDataSet*) { ++scrolls; };
  query_->AfterScroll = TDataSetNotifyEvent::Of(count);
  model.MoveTo(9);
  EXPECT_EQ(query_->RecNo(), 10);
  EXPECT_EQ(scrolls, 1);
  model.MoveTo(kReportRows + 5);  // no such row: nothing moves
  EXPECT_EQ(query_->RecNo(), 10);
  EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
}

TEST_F(DatasetModelTest, ReleasesTheSourceWhenDestroyed) {
  {
    gui::TDatasetModel model(*source_);
    EXPECT_TRUE(source_->OnDataChange.Assigned());
  }
  EXPECT_FALSE(source_->OnDataChange.Assigned());
  query_->Open();  // notifies nothing that is gone
  EXPECT_TRUE(query_->Active());
}

}  // namespace
}  // namespace tersify::testing
