// The main window on a real SQLite catalogue: positioning, the search boxes,
// the grids, the command line, and passes started by the buttons.

#include <QAbstractItemModel>
#include <QAbstractSpinBox>
#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QWindow>

#include <cstdio>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "db/dataset.h"
#include "tests/gui/gui_fixture.h"
#include "tool/gui/main_window.h"
#include "tool/gui/pass_confirmation.h"
#include "tool/gui/qt_text.h"

namespace tersify::testing {
namespace {

using gui::TTersifyMain;

class MainWindowTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    window_ = std::make_unique<TTersifyMain>();
    // Every pass is agreed to; the question itself is tested in the jobs' suite.
    window_->SetPassConfirmation([this](const gui::TPassPlan& plan, bool&) {
      plans_.push_back(plan);
      return true;
    });
  }
  void TearDown() override {
    window_.reset();
    GuiTest::TearDown();
  }

  std::string Table() const { return TTersifyMain::CurrentValue(window_->qTables()); }
  std::string Field() const { return TTersifyMain::CurrentValue(window_->qFields()); }
  std::string Key() const { return TTersifyMain::CurrentValue(window_->qKeys()); }
  std::string CommandLine() const { return gui::FromQString(window_->ebCmdline()->text()); }
  std::string Expected(const std::string& table, const std::string& field, const std::string& key) const {
    // The password is never shown.
    return "/IP=sqlite /U=clerk /P=*** /DB=" + FilePath() + " /TABLE=" + table + " /FIELD=" + field +
           " /KEY=" + key;
  }
  // The row a grid shows as selected; -1 when none.
  static int GridRow(QTableView* grid) {
    const QModelIndex current = grid->selectionModel()->currentIndex();
    return current.isValid() && grid->selectionModel()->isRowSelected(current.row(), QModelIndex())
               ? current.row()
               : -1;
  }
  static std::string Cell(QTableView* grid, int row) {
    return gui::FromQString(grid->model()->index(row, 0).data().toString());
  }
  // A click on a row of a grid.
  static void Click(QTableView* grid, int row) {
    grid->selectionModel()->setCurrentIndex(grid->model()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }

  std::unique_ptr<TTersifyMain> window_;
  std::vector<gui::TPassPlan> plans_;
};

TEST_F(MainWindowTest, OpenCataloguePositionsOnTheGivenNamesIgnoringCase) {
  window_->OpenCatalogue("TQZ_Reports", "aclayout", "ACTITLE");
  EXPECT_EQ(Table(), "tqz_reports");
  EXPECT_EQ(Field(), "acLayout");
  EXPECT_EQ(Key(), "acTitle");
  EXPECT_EQ(CommandLine(), Expected("tqz_reports", "acLayout", "acTitle"));
  // The grids show the same rows.
  EXPECT_EQ(Cell(window_->grTables(), GridRow(window_->grTables())), "tqz_reports");
  EXPECT_EQ(Cell(window_->DBGrid2(), GridRow(window_->DBGrid2())), "acLayout");
  EXPECT_EQ(Cell(window_->DBGrid1(), GridRow(window_->DBGrid1())), "acTitle");
}

TEST_F(MainWindowTest, NamesNotFoundLeaveTheListsOnTheirFirstRows) {
  // Whole values only: a prefix of a name is not found.
  window_->OpenCatalogue("tqz_rep", "nothing", "nokey");
  EXPECT_EQ(Table(), "Archive");
  EXPECT_EQ(Field(), "acData");
  EXPECT_EQ(Key(), "anID");
  // A table of the catalogue without blob columns is not listed at all.
  window_->qTables().First();
  window_->OpenCatalogue("tqz_users", "", "");
  EXPECT_EQ(Table(), "Archive");
  EXPECT_EQ(CommandLine(), Expected("Archive", "acData", "anID"));
}

TEST_F(MainWindowTest, TheTableGridListsTablesWithBlobColumnsOfTypeN) {
  window_->OpenCatalogue("", "", "");
  QAbstractItemModel* model = window_->grTables()->model();
  ASSERT_EQ(model->columnCount(), 1);
  // The lists are titled for their reader; the catalogue's column name is the tip.
  EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString().toStdString(), "Table");
  EXPECT_EQ(model->headerData(0, Qt::Horizontal, Qt::ToolTipRole).toString().toStdString(), "acTableName");
  EXPECT_EQ(window_->DBGrid2()->model()->headerData(0, Qt::Horizontal).toString().toStdString(), "Blob column");
  EXPECT_EQ(window_->DBGrid1()->model()->headerData(0, Qt::Horizontal).toString().toStdString(), "Key column");
  std::vector<std::string> names;
  for (int row = 0; row < model->rowCount(); ++row) names.push_back(Cell(window_->grTables(), row));
  EXPECT_EQ(names, (std::vector<std::string>{"Archive", "TAsks", "orders", "tally", "tqz_reports"}));
  EXPECT_FALSE(model->flags(model->index(0, 0)) & Qt::ItemIsEditable);
}

TEST_F(MainWindowTest, TypingIntoTheTablesBoxMovesTheListsAndTheCommandLineFollows) {
  window_->OpenCatalogue("tqz_reports", "acReportData", "acReport");
  window_->ebTables()->setText("t");
  window_->ebTables()->setText("ta");  // "TAsks": any letter case
  EXPECT_EQ(Table(), "TAsks");
  EXPECT_EQ(Field(), "acNote");
  EXPECT_EQ(Key(), "anTask");  // ordered by anSeqNo
  EXPECT_EQ(CommandLine(), Expected("TAsks", "acNote", "anTask"));
  EXPECT_EQ(GridRow(window_->grTables()), 1);
  EXPECT_EQ(Cell(window_->DBGrid2(), 0), "acNote");
  EXPECT_EQ(window_->DBGrid2()->model()->rowCount(), 1);

  window_->ebTables()->setText("tal");
  EXPECT_EQ(Table(), "tally");
  EXPECT_EQ(Field(), "acBody");
  EXPECT_EQ(CommandLine(), Expected("tally", "acBody", "anTally"));
  EXPECT_EQ(window_->DBGrid2()->model()->rowCount(), 2);
}

TEST_F(MainWindowTest, FieldAndKeyBoxesSearchTheirOwnLists) {
  window_->OpenCatalogue("tqz_reports", "acReportData", "acReport");
  window_->ebFields()->setText("ACL");
  EXPECT_EQ(Field(), "acLayout");
  window_->ebKeys()->setText("act");
  EXPECT_EQ(Key(), "acTitle");
  EXPECT_EQ(Table(), "tqz_reports");
  EXPECT_EQ(CommandLine(), Expected("tqz_reports", "acLayout", "acTitle"));
  // A text no row begins with moves nothing.
  window_->ebKeys()->setText("actx");
  EXPECT_EQ(Key(), "acTitle");
}

TEST_F(MainWindowTest, ClearingABoxMovesNothing) {
  window_->OpenCatalogue("", "", "");
  window_->ebTables()->setText("tal");
  window_->ebFields()->setText("acA");
  ASSERT_EQ(Table(), "tally");
  ASSERT_EQ(Field(), "acAttachment");
  const std::string before = CommandLine();
  window_->ebFields()->clear();
  window_->ebTables()->clear();
  EXPECT_EQ(Table(), "tally");
  EXPECT_EQ(Field(), "acAttachment");
  EXPECT_EQ(CommandLine(), before);
}

TEST_F(MainWindowTest, ClickingATableMovesTheListsWhileTheTablesBoxIsEmpty) {
  window_->OpenCatalogue("", "", "");
  Click(window_->grTables(), 4);
  EXPECT_EQ(Table(), "tqz_reports");
  EXPECT_EQ(Field(), "acReportData");
  EXPECT_EQ(Key(), "acReport");
  EXPECT_EQ(CommandLine(), Expected("tqz_reports", "acReportData", "acReport"));
  Click(window_->DBGrid2(), 1);
  EXPECT_EQ(Field(), "acLayout");
  EXPECT_EQ(CommandLine(), Expected("tqz_reports", "acLayout", "acReport"));
}

TEST_F(MainWindowTest, WithTextInTheTablesBoxACommandLineChangePullsTheListBack) {
  // Every change of the command line repeats the table search, so a click on
  // another table is undone while the box holds text.
  window_->OpenCatalogue("", "", "");
  window_->ebTables()->setText("ta");
  ASSERT_EQ(Table(), "TAsks");
  Click(window_->grTables(), 4);
  EXPECT_EQ(Table(), "TAsks");
  EXPECT_EQ(Field(), "acNote");
  EXPECT_EQ(Key(), "anTask");
  EXPECT_EQ(GridRow(window_->grTables()), 1);
  EXPECT_EQ(CommandLine(), Expected("TAsks", "acNote", "anTask"));
}

TEST_F(MainWindowTest, TheCommandLineHidesAPasswordAndShowsThatThereIsNone) {
  window_->OpenCatalogue("tqz_reports", "acReportData", "acReport");
  EXPECT_EQ(CommandLine().find("s3cret"), std::string::npos) << CommandLine();
  EXPECT_NE(CommandLine().find(" /P=*** "), std::string::npos) << CommandLine();
  // Without a password there is nothing to hide: "***" would be taken for one.
  database_->SetPassword("");
  window_->UpdateCommandLine();
  EXPECT_NE(CommandLine().find(" /U=clerk /P= /DB="), std::string::npos) << CommandLine();
}

TEST_F(MainWindowTest, EmptyKeyListEndsTheCommandLineWithAnEmptyKey) {
  window_->OpenCatalogue("orders", "acScan", "");
  EXPECT_EQ(Key(), "");
  EXPECT_EQ(window_->DBGrid1()->model()->rowCount(), 0);
  EXPECT_EQ(CommandLine(), Expected("orders", "acScan", ""));
  const std::string text = CommandLine();
  EXPECT_EQ(text.substr(text.size() - 5), "/KEY=");
}

TEST_F(MainWindowTest, EmptyKeyListRunsThePassOverAllColumns) {
  window_->OpenCatalogue("orders", "acScan", "");
  window_->bCompress()->click();
  window_->WaitForJob();
  // The rows were found and rewritten through "select * from orders".
  EXPECT_EQ(window_->ProgressText(), "3 compressed\r\n0 skipped\r\nDONE!");
  EXPECT_TRUE(ui_->messages.empty());
  const std::string plain = ReportText(2, 500);
  EXPECT_EQ(RawValue(FilePath(), "select acScan from orders where anOrder=2"), AsEnvelope(plain));
}

// Records the label's text each time it is painted.
class PaintRecorder : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      texts.push_back(static_cast<QLabel*>(watched)->text().toStdString());
    return false;
  }
  std::vector<std::string> texts;
};

TEST_F(MainWindowTest, CompressThenDecompressCountRowsAndEndWithDone) {
  window_->OpenCatalogue("tqz_reports", "acReportData", "acReport");
  window_->show();
  for (int i = 0; i < 100 && !window_->windowHandle()->isExposed(); ++i) QApplication::processEvents();
  ASSERT_TRUE(window_->windowHandle()->isExposed());
  PaintRecorder painted;
  window_->lbProgress()->installEventFilter(&painted);

  window_->bCompress()->click();
  window_->WaitForJob();
  const int rewritten = kReportRows - kShortRows - kEnvelopeRows;
  EXPECT_EQ(window_->ProgressText(), std::to_string(rewritten) + " compressed\r\n" +
                                         std::to_string(kShortRows + kEnvelopeRows) +
                                         " skipped\r\nDONE!");
  EXPECT_EQ(window_->lbProgress()->text().toStdString(),
            std::to_string(rewritten) + " compressed\n" + std::to_string(kShortRows + kEnvelopeRows) +
                " skipped\nDONE!");
  EXPECT_TRUE(ui_->messages.empty());
  // The count was painted while the pass ran; the pass runs on its own
  // thread, so the window shows the latest count whenever it gets to it:
  // counts that never go back, ending on the final one.
  std::vector<std::pair<int, int>> counts;
  for (const std::string& text : painted.texts) {
    if (text.find("DONE") != std::string::npos) continue;
    int processed = -1, skipped = -1;
    ASSERT_EQ(std::sscanf(text.c_str(), "%d compressed\n%d skipped", &processed, &skipped), 2) << text;
    counts.emplace_back(processed, skipped);
  }
  ASSERT_FALSE(counts.empty());
  for (size_t i = 1; i < counts.size(); ++i) {
    EXPECT_GE(counts[i].first, counts[i - 1].first);
    EXPECT_GE(counts[i].second, counts[i - 1].second);
  }
  EXPECT_EQ(counts.back(), std::make_pair(rewritten, kShortRows + kEnvelopeRows));
  const int sample = kShortRows + kEnvelopeRows + 5;
  EXPECT_EQ(RawValue(FilePath(), "select acReportData from tqz_reports where acReport='R" +
                                     std::to_string(100 + sample) + "'"),
            AsEnvelope(ReportText(sample, 300 + 37 * sample)));

  window_->bDecompress()->click();
  window_->WaitForJob();
  EXPECT_EQ(window_->ProgressText(), std::to_string(kReportRows - kShortRows) +
                                         " uncompressed\r\n" + std::to_string(kShortRows) +
                                         " skipped\r\nDONE!");
  for (int i : {0, kShortRows, kShortRows + kEnvelopeRows, kReportRows - 1}) {
    const std::string plain = i < kShortRows ? ReportText(i, 100) : ReportText(i, 300 + 37 * i);
    EXPECT_EQ(RawValue(FilePath(), "select acReportData from tqz_reports where acReport='R" +
                                       std::to_string(100 + i) + "'"),
              plain)
        << "row " << i;
  }
  window_->lbProgress()->removeEventFilter(&painted);
}

TEST_F(MainWindowTest, APassErrorIsShownAndTheLabelStillGetsDone) {
  // The catalogue lists a blob column that the table does not have: the
  // table can be counted, the pass fails before its first row.
  database_->ExecSQL("insert into tqz_systablestr values ('orders','acMissing','blob',2)");
  window_->OpenCatalogue("tqz_reports", "acReportData", "acReport");
  window_->bCompress()->click();
  window_->WaitForJob();
  const std::string first = window_->ProgressText();
  window_->OpenCatalogue("orders", "acMissing", "");
  ASSERT_EQ(Field(), "acMissing");
  window_->bDecompress()->click();
  window_->WaitForJob();
  ASSERT_EQ(ui_->messages.size(), 1u);
  EXPECT_EQ(ui_->messages[0].caption, "Error");
  EXPECT_EQ(ui_->messages[0].kind, TMsgDlgType::mtError);
  EXPECT_NE(ui_->messages[0].text.find("acMissing"), std::string::npos) << ui_->messages[0].text;
  // The error came before the first row: "DONE!" follows the previous text.
  EXPECT_EQ(window_->ProgressText(), first + "\r\nDONE!");
}

TEST_F(MainWindowTest, ATableThatCannotBeCountedIsReportedAndNoPassStarts) {
  // "Archive" is listed by the catalogue, but there is no such table; an
  // empty list gives an empty name.
  for (const char* search : {"arch", ""}) {
    SCOPED_TRACE(search);
    ui_->messages.clear();
    if (*search) {
      window_->OpenCatalogue("tqz_reports", "acReportData", "acReport");
      window_->ebTables()->setText(search);
      ASSERT_EQ(Table(), "Archive");
    } else {
      window_->qTables().Close();
      window_->qTables().SQL().Clear();
      window_->qTables().SQL().Add("select acTableName from tqz_systables where 1=0");
      window_->OpenCatalogue("tqz_reports", "acReportData", "acReport");
      ASSERT_EQ(Table(), "");
      EXPECT_EQ(CommandLine(), Expected("", "", ""));
    }
    window_->bCompress()->click();
    EXPECT_FALSE(window_->JobRunning());
    ASSERT_EQ(ui_->messages.size(), 1u);
    EXPECT_EQ(ui_->messages[0].caption, "Error");
    EXPECT_EQ(ui_->messages[0].kind, TMsgDlgType::mtError);
    if (*search) {
      EXPECT_NE(ui_->messages[0].text.find("Archive"), std::string::npos) << ui_->messages[0].text;
    }
    // No question was asked and no pass counted anything.
    EXPECT_TRUE(plans_.empty());
    EXPECT_EQ(window_->ProgressText(), "");
  }
}

TEST_F(MainWindowTest, AnotherSenderRunsNoPass) {
  window_->OpenCatalogue("tqz_reports", "acReportData", "acReport");
  const std::string before = RawValue(FilePath(), "select acReportData from tqz_reports where acReport='R120'");
  window_->bCompressClick(window_->ebCmdline());
  EXPECT_EQ(window_->ProgressText(), "");
  EXPECT_EQ(RawValue(FilePath(), "select acReportData from tqz_reports where acReport='R120'"), before);
}

TEST_F(MainWindowTest, AHandlerErrorIsShownByTheApplicationAndTheWindowGoesOn) {
  window_->OpenCatalogue("tqz_reports", "acReportData", "acReport");
  window_->qFields().Close();
  window_->ebFields()->setText("acL");
  ASSERT_EQ(ui_->messages.size(), 1u);
  EXPECT_EQ(ui_->messages[0].caption, "Tersify");
  EXPECT_EQ(ui_->messages[0].kind, TMsgDlgType::mtError);
  // The other boxes still work.
  window_->ebKeys()->setText("acT");
  EXPECT_EQ(Key(), "acTitle");
}

TEST_F(MainWindowTest, OpenCatalogueFailsWithoutTheCatalogueTables) {
  database_->ExecSQL("drop table tqz_systablestr");
  EXPECT_ANY_THROW(window_->OpenCatalogue("tqz_reports", "acReportData", "acReport"));
}

TEST_F(MainWindowTest, LayoutAndTabOrder) {
  window_->OpenCatalogue("", "", "");
  window_->show();
  EXPECT_EQ(window_->objectName().toStdString(), "TersifyMain");
  // The title names the database and the server.
  EXPECT_EQ(window_->windowTitle().toStdString(), FilePath() + " on sqlite - Tersify");
  // It opens at least 1000 x 700 and can be made smaller or larger.
  EXPECT_GE(window_->width(), 1000);
  EXPECT_GE(window_->height(), 700);
  EXPECT_LT(window_->minimumWidth(), 1000);
  EXPECT_GT(window_->maximumWidth(), 2000);
  EXPECT_EQ(window_->bCompress()->text().toStdString(), "Compress");
  EXPECT_EQ(window_->bDecompress()->text().toStdString(), "Decompress");
  // Splitters between the lists, none of whose panes can be squeezed away.
  const std::pair<QSplitter*, std::vector<QWidget*>> splitters[] = {
      {window_->spMain(), {window_->grTables(), window_->bCompress()}},
      {window_->spLists(), {window_->grTables(), window_->DBGrid2()}},
      {window_->spFields(), {window_->DBGrid2(), window_->DBGrid1()}},
      {window_->spEstimates(), {window_->grTables(), window_->grEstimates()}},
  };
  for (const auto& [splitter, panes] : splitters) {
    ASSERT_NE(splitter, nullptr);
    EXPECT_FALSE(splitter->childrenCollapsible()) << splitter->objectName().toStdString();
    ASSERT_EQ(panes.size(), 2u);
    // The two widgets lie in different panes of the splitter.
    auto pane_of = [splitter](QWidget* w) {
      for (int i = 0; i < splitter->count(); ++i)
        if (splitter->widget(i)->isAncestorOf(w)) return i;
      return -1;
    };
    EXPECT_GE(pane_of(panes[0]), 0) << splitter->objectName().toStdString();
    EXPECT_GE(pane_of(panes[1]), 0) << splitter->objectName().toStdString();
    EXPECT_NE(pane_of(panes[0]), pane_of(panes[1])) << splitter->objectName().toStdString();
  }
  // The key list sits directly below its search box.
  EXPECT_EQ(window_->ebKeys()->parentWidget()->geometry().bottom() + 1, window_->DBGrid1()->y());
  for (QTableView* grid : {window_->grTables(), window_->DBGrid1(), window_->DBGrid2()}) {
    EXPECT_FALSE(grid->verticalHeader()->isVisible());
    EXPECT_TRUE(grid->horizontalHeader()->isVisible());
    EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
  }

  std::vector<std::string> order;
  QWidget* start = window_->bCompress();
  QWidget* w = start;
  do {
    // A spin box's own edit line takes its focus: the box counts once.
    const bool inside_spin_box = qobject_cast<QAbstractSpinBox*>(w->parentWidget()) != nullptr;
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled() && !inside_spin_box)
      order.push_back(w->objectName().toStdString());
    w = w->nextInFocusChain();
  } while (w != start && order.size() < 40);
  // Cancel is off while no job runs.
  EXPECT_EQ(order, (std::vector<std::string>{"bCompress", "bDecompress", "ebFields", "DBGrid2", "ebKeys",
                                             "DBGrid1", "ebTables", "grTables", "ebCmdline", "seBatch",
                                             "seThreads", "seTimeout", "seMinutes", "seMaxRate", "bVerify",
                                             "bEstimate", "grDamaged",
                                             "grEstimates"}));
}

TEST_F(MainWindowTest, TheWindowsOwnDatabaseIsNeverConnectedAndNoQueryUsesIt) {
  window_->OpenCatalogue("tqz_reports", "acReportData", "acReport");
  EXPECT_FALSE(window_->vrDatabase().Connected());
  EXPECT_EQ(window_->qTables().Database(), database_.get());
  EXPECT_EQ(window_->qFields().Database(), database_.get());
  EXPECT_EQ(window_->qKeys().Database(), database_.get());
}

// The window's design-time database names a server and a database but holds
// no login: no user name or password is built into the program.
TEST_F(MainWindowTest, TheWindowsOwnDatabaseCarriesNoCredentials) {
  EXPECT_EQ(window_->vrDatabase().Username(), "");
  EXPECT_EQ(window_->vrDatabase().Password(), "");
  EXPECT_EQ(window_->vrDatabase().Server(), "localhost");
  EXPECT_EQ(window_->vrDatabase().DatabaseName(), "QZ");
}

}  // namespace
}  // namespace tersify::testing
