// The window's jobs on a real SQLite catalogue: a pass off the window's
// thread with its progress bar, Cancel, the pass's options and the command
// line, Verify and Estimate with their results, and the table of estimates.

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/dataset.h"
#include "tests/gui/gui_fixture.h"
#include "tool/pass/estimate.h"
#include "tool/console/command_line.h"
#include "tool/gui/job_progress.h"
#include "tool/gui/job_texts.h"
#include "tool/gui/pass_confirmation.h"
#include "tool/gui/main_window.h"
#include "tool/gui/pass_hold.h"
#include "tool/gui/qt_text.h"
#include "tool/gui/table_estimates.h"

namespace tersify::testing {
namespace {

using gui::TJobProgress;
using gui::TJobSnapshot;
using gui::TPassHold;
using gui::TTableEstimates;
using gui::TTersifyMain;

std::string Text(const QLabel* label) { return gui::FromQString(label->text()); }

class WindowJobsTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    window_ = std::make_unique<TTersifyMain>();
    window_->OpenCatalogue("tqz_reports", "acReportData", "acReport");
    // Passes are agreed to, except in the tests of the question itself.
    window_->SetPassConfirmation([](const gui::TPassPlan&, bool&) { return true; });
  }
  void TearDown() override {
    window_.reset();
    GuiTest::TearDown();
  }

  std::string Table() const { return TTersifyMain::CurrentValue(window_->qTables()); }
  std::string CommandLine() const { return gui::FromQString(window_->ebCmdline()->text()); }

  // The stored bytes of every row of the report column, by key.
  std::map<std::string, std::string> StoredReports() const {
    std::map<std::string, std::string> values;
    for (int i = 0; i < kReportRows; ++i) {
      const std::string key = "R" + std::to_string(100 + i);
      values[key] = RawValue(FilePath(), "select acReportData from tqz_reports where acReport='" + key + "'");
    }
    return values;
  }

  // What may query the database or start a job, on or off.
  void ExpectIdle(bool idle) const {
    for (QWidget* w : std::initializer_list<QWidget*>{
             window_->bCompress(), window_->bDecompress(), window_->bVerify(), window_->bEstimate(),
             window_->ebTables(), window_->ebFields(), window_->ebKeys(), window_->ebCmdline(),
             window_->seBatch(), window_->seThreads(), window_->seTimeout(), window_->seMinutes(),
             window_->seMaxRate()})
      EXPECT_EQ(w->isEnabled(), idle) << w->objectName().toStdString();
    EXPECT_EQ(window_->bCancel()->isEnabled(), !idle);
    EXPECT_EQ(window_->JobRunning(), !idle);
  }

  std::unique_ptr<TTersifyMain> window_;
};

TEST_F(WindowJobsTest, WhileAPassRunsTheWindowStaysUsableButQueriesNothing) {
  TPassHold hold(5);
  window_->SetBeforeWrite(hold.Hook());
  window_->show();
  window_->bCompress()->click();
  ASSERT_TRUE(hold.WaitUntilHeld([this] { return window_->JobRunning(); }));
  ExpectIdle(false);
  // The window's thread is free: it resizes, and a click on another table
  // moves neither the list nor the command line while the pass runs.
  const std::string command_line = CommandLine();
  window_->resize(900, 700);
  QApplication::processEvents();
  EXPECT_EQ(window_->size(), QSize(900, 700));
  window_->grTables()->selectionModel()->setCurrentIndex(
      window_->grTables()->model()->index(1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  EXPECT_EQ(Table(), "tqz_reports");
  EXPECT_EQ(CommandLine(), command_line);

  hold.Release();
  window_->WaitForJob();
  ExpectIdle(true);
  // The grid is back on the dataset's row.
  EXPECT_EQ(window_->grTables()->selectionModel()->currentIndex().row(), 4);
  const int rewritten = kReportRows - kShortRows - kEnvelopeRows;
  EXPECT_EQ(window_->ProgressText(), std::to_string(rewritten) + " compressed\r\n" +
                                         std::to_string(kShortRows + kEnvelopeRows) + " skipped\r\nDONE!");
  EXPECT_EQ(window_->pbJob()->maximum(), kReportRows);
  EXPECT_EQ(window_->pbJob()->value(), kReportRows);
  // Once the pass is over no time left is shown.
  const std::string rate = Text(window_->lbRate());
  EXPECT_EQ(rate.rfind("30 of 30 rows\n", 0), 0u) << rate;
  EXPECT_NE(rate.find(" MB/s"), std::string::npos) << rate;
  EXPECT_EQ(rate.find("left"), std::string::npos) << rate;
  EXPECT_TRUE(ui_->messages.empty());
}

struct CancelCase {
  const char* name;
  int batch_rows;     // 0: the window's default (every row on its own)
  int held_row;       // Cancel is pressed while the pass waits to write this row
  int rows_kept;      // rows rewritten for good
  friend void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }
};

class CancelTest : public WindowJobsTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTest, CancelStopsThePassBetweenRowsAndTheWindowGoesOn) {
  const CancelCase& c = GetParam();
  const std::map<std::string, std::string> before = StoredReports();
  window_->seBatch()->setValue(c.batch_rows);
  TPassHold hold(c.held_row);
  window_->SetBeforeWrite(hold.Hook());
  window_->bCompress()->click();
  ASSERT_TRUE(hold.WaitUntilHeld([this] { return window_->JobRunning(); }));
  window_->bCancel()->click();
  hold.Release();
  window_->WaitForJob();

  ExpectIdle(true);
  EXPECT_TRUE(ui_->messages.empty());
  const std::map<std::string, std::string> after = StoredReports();
  int changed = 0;
  for (const auto& [key, value] : before) changed += after.at(key) != value;
  EXPECT_EQ(changed, c.rows_kept);
  // The count says what was kept, once: no DONE!, no time left.
  const std::string text = window_->ProgressText();
  EXPECT_EQ(text.rfind(std::to_string(c.rows_kept) + " compressed\r\n", 0), 0u) << text;
  const std::string ending = "\r\nCancelled, " + std::to_string(c.rows_kept) + " rows kept";
  ASSERT_GE(text.size(), ending.size());
  EXPECT_EQ(text.substr(text.size() - ending.size()), ending);
  EXPECT_EQ(text.find("DONE!"), std::string::npos) << text;
  const std::string rate = Text(window_->lbRate());
  EXPECT_EQ(rate.find("left"), std::string::npos) << rate;
  EXPECT_EQ(rate.find("Cancelled"), std::string::npos) << rate;

  const int rewritten = kReportRows - kShortRows - kEnvelopeRows;
  window_->SetBeforeWrite(nullptr);
  // The window shows where the pass got to (the rows left alone before a
  // rolled-back batch count as handled), and Continue goes on from there with
  // the rows not yet rewritten, each once.
  const std::string resume = window_->ResumeKey();
  if (resume.empty()) {
    // Not even a row left alone before the first write: a new pass starts afresh.
    EXPECT_EQ(c.rows_kept, 0);
    EXPECT_FALSE(window_->bContinue()->isEnabled());
    window_->bCompress()->click();
  } else {
    EXPECT_TRUE(window_->bContinue()->isEnabled());
    EXPECT_NE(Text(window_->lbResume()).find(resume), std::string::npos) << Text(window_->lbResume());
    for (const auto& [key, value] : after)
      if (before.at(key) != value) {
        EXPECT_LE(key, resume) << "rewritten by the first pass";
      }
    window_->bContinue()->click();
  }
  window_->WaitForJob();
  const std::string text_after = window_->ProgressText();
  EXPECT_EQ(text_after.rfind(std::to_string(rewritten - c.rows_kept) + " compressed\r\n", 0), 0u) << text_after;
  EXPECT_EQ(text_after.substr(text_after.size() - 7), "\r\nDONE!");
  int rewritten_now = 0;
  for (const auto& [key, value] : StoredReports()) rewritten_now += before.at(key) != value;
  EXPECT_EQ(rewritten_now, rewritten);
  EXPECT_EQ(window_->ResumeKey(), "");
  EXPECT_FALSE(window_->bContinue()->isEnabled());
}

// The row the pass waits at is written: the pass looks for a cancel request
// before each row, not between building a row and writing it.
INSTANTIATE_TEST_SUITE_P(Batches, CancelTest,
                         ::testing::Values(CancelCase{"RowByRowKeepsTheRowsWritten", 0, 4, 4},
                                           CancelCase{"AnOpenBatchIsRolledBack", 100, 4, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowJobsTest, ClosingTheWindowDuringAPassCancelsIt) {
  const std::map<std::string, std::string> before = StoredReports();
  window_->seBatch()->setValue(100);
  TPassHold hold(3);
  window_->SetBeforeWrite(hold.Hook());
  window_->show();
  window_->bCompress()->click();
  ASSERT_TRUE(hold.WaitUntilHeld([this] { return window_->JobRunning(); }));
  // The pass goes on once the close has asked it to stop.
  QTimer::singleShot(0, [&hold] { hold.Release(); });
  window_->close();
  EXPECT_FALSE(window_->JobRunning());
  EXPECT_EQ(StoredReports(), before);
}

// The question before a pass, as the window asks it: its box, found while it
// waits for an answer, and answered by clicking one of its buttons.
struct Question {
  bool asked = false;
  std::string title, text;
  std::map<std::string, std::string> stored;  // the column while the box was up
  bool job_running = false;
};

// Answers the next question with the button named answer ("bRunPass", or
// empty for Cancel), ticking "Do not ask again" first when dont_ask_again.
void AnswerNextQuestion(Question& question, const std::function<std::map<std::string, std::string>()>& stored,
                        std::function<bool()> running, const char* answer, bool dont_ask_again) {
  QTimer::singleShot(0, [&question, stored, running, answer, dont_ask_again] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || box->objectName() != QStringLiteral("ConfirmPass")) return;
    question.asked = true;
    question.title = gui::FromQString(box->windowTitle());
    question.text = gui::FromQString(box->text());
    question.stored = stored();
    question.job_running = running();
    if (dont_ask_again) box->checkBox()->setChecked(true);
    if (*answer)
      box->findChild<QPushButton*>(QString::fromLatin1(answer))->click();
    else
      box->button(QMessageBox::Cancel)->click();
  });
}

class PassQuestionTest : public WindowJobsTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    WindowJobsTest::SetUp();
    window_->SetPassConfirmation(nullptr);  // the window's own box
    window_->show();
  }
  QPushButton* Button() const {
    return std::string(GetParam()) == "Compress" ? window_->bCompress() : window_->bDecompress();
  }
  std::function<std::map<std::string, std::string>()> Stored() {
    return [this] { return StoredReports(); };
  }
  std::function<bool()> Running() {
    return [this] { return window_->JobRunning(); };
  }
};

TEST_P(PassQuestionTest, TheQuestionNamesWhatIsRewrittenBeforeAnyRowChangesAndNoWritesNothing) {
  const std::map<std::string, std::string> before = StoredReports();
  Question question;
  AnswerNextQuestion(question, Stored(), Running(), "", false);
  Button()->click();
  ASSERT_TRUE(question.asked) << "no question before the pass";
  EXPECT_FALSE(question.job_running);
  EXPECT_EQ(question.stored, before) << "a row changed before the answer";
  EXPECT_EQ(question.title, std::string(GetParam()) + " tqz_reports.acReportData");
  for (const std::string& part : {std::string(GetParam()) + " column acReportData of table tqz_reports?",
                                  std::string("Server: sqlite"), "Database: " + FilePath(),
                                  std::string("Table: tqz_reports (30 rows)"), std::string("Column: acReportData")})
    EXPECT_NE(question.text.find(part), std::string::npos) << part << " in\n" << question.text;
  // No: nothing runs, nothing is written, the count stays empty.
  window_->WaitForJob();
  EXPECT_FALSE(window_->JobRunning());
  EXPECT_EQ(StoredReports(), before);
  EXPECT_EQ(window_->ProgressText(), "");
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_P(PassQuestionTest, YesRunsThePassAndDoNotAskAgainHoldsForThatTableOnly) {
  const std::map<std::string, std::string> before = StoredReports();
  Question first;
  AnswerNextQuestion(first, Stored(), Running(), "bRunPass", true);
  Button()->click();
  ASSERT_TRUE(first.asked);
  EXPECT_EQ(first.stored, before);
  window_->WaitForJob();
  const std::map<std::string, std::string> after = StoredReports();
  EXPECT_NE(after, before) << "the pass did not run";
  EXPECT_NE(window_->ProgressText().find("DONE!"), std::string::npos) << window_->ProgressText();

  // The same table again, either way: no question.
  for (QPushButton* button : {window_->bCompress(), window_->bDecompress()}) {
    Question again;
    AnswerNextQuestion(again, Stored(), Running(), "", false);
    button->click();
    window_->WaitForJob();
    QApplication::processEvents();  // the answer's timer, had no box come up
    EXPECT_FALSE(again.asked) << button->objectName().toStdString();
  }
  // Another table is asked about.
  window_->ebTables()->setText("ord");
  ASSERT_EQ(Table(), "orders");
  Question other;
  AnswerNextQuestion(other, Stored(), Running(), "", false);
  Button()->click();
  EXPECT_TRUE(other.asked);
  EXPECT_NE(other.text.find("Table: orders (3 rows)"), std::string::npos) << other.text;
}

INSTANTIATE_TEST_SUITE_P(Buttons, PassQuestionTest, ::testing::Values("Compress", "Decompress"),
                         [](const auto& info) { return std::string(info.param); });

TEST(PassQuestionText, SaysOneRowAndHowTheValuesEnd) {
  gui::TPassPlan plan;
  plan.command = 2;
  plan.server = "db01,1433";
  plan.database = "APP";
  plan.table = "dbo.tqz_reports";
  plan.field = "acReportData";
  plan.rows = 1;
  EXPECT_EQ(gui::ConfirmationText(plan),
            "Decompress column acReportData of table dbo.tqz_reports?\r\n\r\nServer: db01,1433\r\n"
            "Database: APP\r\nTable: dbo.tqz_reports (1 row)\r\nColumn: acReportData\r\n\r\n"
            "Each value that is not stored plainly yet is rewritten in place.");
}

TEST_F(WindowJobsTest, TheCommandLineAndThePassFollowTheOptionsSetInTheWindow) {
  const std::string plain = CommandLine();
  window_->seBatch()->setValue(50);
  EXPECT_EQ(CommandLine(), plain + " /BATCH=50");
  window_->seThreads()->setValue(2);
  window_->seTimeout()->setValue(0);  // waits for ever: set, unlike "default"
  EXPECT_EQ(CommandLine(), plain + " /BATCH=50 /THREADS=2 /TIMEOUT=0");
  TRecompressOptions options = window_->PassOptions();
  EXPECT_EQ(options.batch_rows, 50);
  EXPECT_EQ(options.threads, 2);
  EXPECT_EQ(options.timeout_seconds, 0);
  EXPECT_FALSE(options.stop_at.has_value());
  EXPECT_EQ(options.max_rate_mb_per_s, 0);

  // The time limit counts from the pass's start; the rate limit goes as it is.
  window_->seMinutes()->setValue(45);
  window_->seMaxRate()->setValue(12.5);
  EXPECT_EQ(CommandLine(), plain + " /BATCH=50 /THREADS=2 /TIMEOUT=0 /MINUTES=45");
  const auto before = std::chrono::steady_clock::now();
  options = window_->PassOptions();
  ASSERT_TRUE(options.stop_at.has_value());
  EXPECT_GE(*options.stop_at, before + std::chrono::minutes(45));
  EXPECT_LE(*options.stop_at, std::chrono::steady_clock::now() + std::chrono::minutes(45));
  EXPECT_EQ(options.max_rate_mb_per_s, 12.5);
  EXPECT_EQ(window_->seMinutes()->text().toStdString(), "45");
  window_->seMinutes()->setValue(0);
  window_->seMaxRate()->setValue(0);
  EXPECT_EQ(window_->seMinutes()->text().toStdString(), "none");
  EXPECT_EQ(window_->seMaxRate()->text().toStdString(), "none");

  for (QSpinBox* box : {window_->seBatch(), window_->seThreads(), window_->seTimeout()}) {
    box->setValue(box->minimum());
    EXPECT_EQ(box->text().toStdString(), "default");
  }
  EXPECT_EQ(CommandLine(), plain);
  // What the command line without the switches gives.
  options = window_->PassOptions();
  ToolSettings settings;
  TRecompressOptions console;
  std::string error;
  ASSERT_TRUE(PassOptionsFrom(settings, console, error)) << error;
  EXPECT_EQ(options.batch_rows, console.batch_rows);
  EXPECT_EQ(options.threads, console.threads);
  EXPECT_EQ(options.timeout_seconds, console.timeout_seconds);
  EXPECT_EQ(window_->seThreads()->maximum(), kMostPassThreads);
}

TEST_F(WindowJobsTest, VerifyShowsTheCountsAndTheDamagedKeysAndChangesNothing) {
  // R103 is an envelope whose stream ends early.
  std::string damaged = AsEnvelope(ReportText(3, 300 + 37 * 3));
  damaged.resize(damaged.size() - 8);
  database_->ExecSQL("update tqz_reports set acReportData=" + HexLiteral(damaged) + " where acReport='R103'");
  const std::map<std::string, std::string> before = StoredReports();

  window_->bVerify()->click();
  EXPECT_EQ(window_->bCancel()->isEnabled(), window_->JobRunning());
  window_->WaitForJob();
  ExpectIdle(true);
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_EQ(Text(window_->lbResult()), "Verified 30 records: " + std::to_string(kEnvelopeRows - 1) +
                                           " compressed, " + std::to_string(kReportRows - kEnvelopeRows) +
                                           " plain, 1 damaged");
  ASSERT_EQ(window_->grDamaged()->rowCount(), 1);
  EXPECT_EQ(window_->grDamaged()->item(0, 0)->text().toStdString(), "R103");
  EXPECT_FALSE(window_->grDamaged()->item(0, 1)->text().isEmpty());
  EXPECT_EQ(window_->pbJob()->value(), kReportRows);
  EXPECT_EQ(StoredReports(), before);
  // Nothing of the pass's running count changes.
  EXPECT_EQ(window_->ProgressText(), "");

  // Once the damaged value is mended, a new verify clears the list.
  database_->ExecSQL("update tqz_reports set acReportData=" + HexLiteral(AsEnvelope("x")) +
                     " where acReport='R103'");
  window_->bVerify()->click();
  window_->WaitForJob();
  EXPECT_EQ(window_->grDamaged()->rowCount(), 0);
}

TEST_F(WindowJobsTest, EstimateShowsItsFiguresAndFillsTheTableOfEstimates) {
  const std::map<std::string, std::string> before = StoredReports();
  window_->bEstimate()->click();
  window_->WaitForJob();
  ExpectIdle(true);
  EXPECT_TRUE(ui_->messages.empty());
  const std::string summary = Text(window_->lbResult());
  EXPECT_EQ(summary.rfind("Estimate of 30 records:\n", 0), 0u) << summary;
  EXPECT_NE(summary.find("a compress pass takes "), std::string::npos) << summary;
  EXPECT_EQ(summary.find("minutes"), std::string::npos) << summary;
  EXPECT_EQ(StoredReports(), before);

  // The row's figures are those of an estimate of the same column.
  TEstimateResult direct;
  EstimateTable("tqz_reports", "acReportData", "acReport", TRecompressOptions(), 100, direct);
  ASSERT_GT(direct.stored_bytes, direct.bytes_after);
  TTableEstimates& estimates = window_->Estimates();
  const int row = estimates.RowOf("tqz_reports");
  ASSERT_GE(row, 0);
  auto figure = [&](int column) { return estimates.item(row, column)->data(TTableEstimates::kSortRole).toDouble(); };
  constexpr double MB = 1024.0 * 1024.0;
  EXPECT_DOUBLE_EQ(figure(TTableEstimates::kStoredMB), static_cast<double>(direct.stored_bytes) / MB);
  EXPECT_DOUBLE_EQ(figure(TTableEstimates::kSavingMB),
                   static_cast<double>(direct.stored_bytes - direct.bytes_after) / MB);
  EXPECT_DOUBLE_EQ(figure(TTableEstimates::kCompressedShare),
                   100.0 * static_cast<double>(direct.compressed_bytes) / static_cast<double>(direct.stored_bytes));

  // A second table gets its own row; the view sorts them by any column.
  window_->ebTables()->setText("ord");
  window_->bEstimate()->click();
  window_->WaitForJob();
  EXPECT_EQ(estimates.rowCount(), 2);
  EXPECT_TRUE(window_->grEstimates()->isSortingEnabled());
  window_->grEstimates()->sortByColumn(TTableEstimates::kStoredMB, Qt::AscendingOrder);
  EXPECT_EQ(estimates.item(0, TTableEstimates::kTable)->text().toStdString(), "orders.acScan");
  window_->grEstimates()->sortByColumn(TTableEstimates::kStoredMB, Qt::DescendingOrder);
  EXPECT_EQ(estimates.item(0, TTableEstimates::kTable)->text().toStdString(), "tqz_reports.acReportData");
}

TEST_F(WindowJobsTest, AVerifyOrEstimateErrorIsShownAndTheWindowGoesOn) {
  // "Archive" is listed by the catalogue, but there is no such table.
  window_->ebTables()->setText("arch");
  ASSERT_EQ(Table(), "Archive");
  for (QPushButton* button : {window_->bVerify(), window_->bEstimate()}) {
    ui_->messages.clear();
    button->click();
    window_->WaitForJob();
    ASSERT_EQ(ui_->messages.size(), 1u) << button->objectName().toStdString();
    EXPECT_EQ(ui_->messages[0].caption, "Error");
    EXPECT_EQ(ui_->messages[0].kind, TMsgDlgType::mtError);
    EXPECT_NE(ui_->messages[0].text.find("Archive"), std::string::npos) << ui_->messages[0].text;
    ExpectIdle(true);
    EXPECT_NE(Text(window_->lbRate()).find("Failed"), std::string::npos);
  }
  EXPECT_EQ(window_->Estimates().rowCount(), 0);
}

struct RateCase {
  const char* name;
  TJobSnapshot snapshot;
  bool running;
  const char* text;
  friend void PrintTo(const RateCase& c, std::ostream* os) { *os << c.name; }
};

class RateTextTest : public ::testing::TestWithParam<RateCase> {};

TEST_P(RateTextTest, RowsOfTotalMegabytesPerSecondAndTimeLeft) {
  EXPECT_EQ(TJobProgress::RateText(GetParam().snapshot, GetParam().running), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RateTextTest,
    ::testing::Values(
        RateCase{"NothingDoneYet", {0, 0, 300, 0, 0, 2.0}, true, "0 of 300 rows, 0 %\r\n0.0 MB/s"},
        RateCase{"HalfwayAtTheRowsRate", {0, 0, 300, 150, 30 << 20, 10.0}, true,
                 "150 of 300 rows, 50 %\r\n3.0 MB/s, about 10 s left"},
        RateCase{"MinutesLeft", {0, 0, 10000, 100, 1 << 20, 4.0}, true,
                 "100 of 10000 rows, 1 %\r\n0.2 MB/s, about 6 min 36 s left"},
        RateCase{"AllDone", {0, 0, 30, 30, 3 << 19, 0.5}, true, "30 of 30 rows, 100 %\r\n3.0 MB/s, less than 1 s left"},
        RateCase{"NoRowsKnownYet", {0, 0, 0, 0, 0, 0.0}, true, "0 of 0 rows\r\n0.0 MB/s"},
        RateCase{"EndedShowsNoTimeLeft", {0, 0, 300, 120, 30 << 20, 10.0}, false, "120 of 300 rows\r\n3.0 MB/s"}),
    [](const auto& info) { return std::string(info.param.name); });

struct DurationCase {
  const char* name;
  double seconds;
  const char* text;
  friend void PrintTo(const DurationCase& c, std::ostream* os) { *os << c.name; }
};

class DurationTextTest : public ::testing::TestWithParam<DurationCase> {};

TEST_P(DurationTextTest, MinutesAndSecondsForAReaderInAHurry) {
  EXPECT_EQ(gui::DurationText(GetParam().seconds), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DurationTextTest,
    ::testing::Values(DurationCase{"Nothing", 0.0, "less than 1 s"}, DurationCase{"UnderHalfASecond", 0.49, "less than 1 s"},
                      DurationCase{"Negative", -3.0, "less than 1 s"}, DurationCase{"OneSecond", 0.5, "about 1 s"},
                      DurationCase{"Seconds", 40.2, "about 40 s"}, DurationCase{"RoundsUpToAMinute", 59.6, "about 1 min"},
                      DurationCase{"MinutesAndSeconds", 190.0, "about 3 min 10 s"},
                      DurationCase{"TenMinutesInWholeMinutes", 605.0, "about 10 min"},
                      DurationCase{"NearlyAnHour", 3569.0, "about 59 min"}, DurationCase{"AnHour", 3590.0, "about 1 h"},
                      DurationCase{"HoursAndMinutes", 2 * 3600.0 + 5 * 60 + 10, "about 2 h 5 min"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EstimateTextTest, SaysTheSizesInMegabytesAndTheTimeInSeconds) {
  TEstimateResult r;
  r.records = 300;
  r.stored_bytes = 16 << 20;
  r.bytes_after = 4 << 20;
  r.pass_seconds = 190;
  EXPECT_EQ(gui::EstimateText(r),
            "Estimate of 300 records:\r\n16.00 MB stored now,\r\nabout 4.00 MB after compression,\r\n"
            "saving 12.00 MB (75 %);\r\na compress pass takes about 3 min 10 s");
  r.records = 1;
  r.stored_bytes = 0;
  r.bytes_after = 0;
  r.pass_seconds = 0.01;
  EXPECT_EQ(gui::EstimateText(r),
            "Estimate of 1 record:\r\n0.00 MB stored now,\r\nabout 0.00 MB after compression,\r\n"
            "saving 0.00 MB (0 %);\r\na compress pass takes less than 1 s");
}

TEST(TableEstimatesTest, OneRowPerTableSortedByTheFiguresAsNumbers) {
  TestApplication();
  TTableEstimates estimates;
  auto result = [](int64_t stored, int64_t after, int64_t compressed) {
    TEstimateResult r;
    r.stored_bytes = stored;
    r.bytes_after = after;
    r.compressed_bytes = compressed;
    return r;
  };
  constexpr int64_t MB = 1 << 20;
  estimates.Set("tqz_reports", "acReportData", result(20 * MB, 10 * MB, 5 * MB));  // saves 10
  estimates.Set("tally", "acBody", result(12 * MB, 2 * MB + MB / 2, 0));         // saves 9.5
  estimates.Set("orders", "acScan", result(MB, MB, MB));                          // saves 0
  // A second estimate of a table replaces its row (case ignored).
  estimates.Set("TALLY", "acAttachment", result(40 * MB, 38 * MB, 30 * MB));       // saves 2
  ASSERT_EQ(estimates.rowCount(), 3);
  EXPECT_EQ(estimates.RowOf("tally"), 1);
  EXPECT_EQ(estimates.RowOf("Archive"), -1);
  auto cell = [&](int row, int column) { return estimates.item(row, column)->text().toStdString(); };
  EXPECT_EQ(cell(1, TTableEstimates::kTable), "TALLY.acAttachment");
  EXPECT_EQ(cell(1, TTableEstimates::kStoredMB), "40.0");
  EXPECT_EQ(cell(1, TTableEstimates::kCompressedShare), "75");
  EXPECT_EQ(cell(1, TTableEstimates::kSavingMB), "2.0");
  EXPECT_EQ(cell(0, TTableEstimates::kCompressedShare), "25");
  // The units are in the headers.
  EXPECT_EQ(estimates.headerData(TTableEstimates::kStoredMB, Qt::Horizontal).toString().toStdString(), "Stored MB");
  EXPECT_EQ(estimates.headerData(TTableEstimates::kCompressedShare, Qt::Horizontal).toString().toStdString(),
            "Compressed now %");
  EXPECT_EQ(estimates.headerData(TTableEstimates::kSavingMB, Qt::Horizontal).toString().toStdString(),
            "Would save MB");

  // 10.0 before 2.0 and 0.0: numbers, not texts.
  estimates.sort(TTableEstimates::kSavingMB, Qt::DescendingOrder);
  EXPECT_EQ(cell(0, TTableEstimates::kTable), "tqz_reports.acReportData");
  EXPECT_EQ(cell(1, TTableEstimates::kTable), "TALLY.acAttachment");
  EXPECT_EQ(cell(2, TTableEstimates::kTable), "orders.acScan");
  estimates.sort(TTableEstimates::kStoredMB, Qt::AscendingOrder);
  EXPECT_EQ(cell(0, TTableEstimates::kTable), "orders.acScan");
  EXPECT_EQ(cell(2, TTableEstimates::kTable), "TALLY.acAttachment");
  // A table with nothing stored has no share rather than a division by zero.
  estimates.Set("empty", "acData", result(0, 0, 0));
  EXPECT_EQ(cell(estimates.RowOf("empty"), TTableEstimates::kCompressedShare), "0");
}

}  // namespace
}  // namespace tersify::testing
