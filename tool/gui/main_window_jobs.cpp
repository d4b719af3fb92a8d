// The window's jobs: a pass, a verify or an estimate of the selected table and
// field on the job thread, their progress and results, and Cancel.

#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <algorithm>
#include <chrono>
#include <cctype>
#include <csignal>
#include <exception>
#include <limits>

#include "db/database.h"
#include "db/dataset.h"
#include "db/registries.h"
#include "framework/rtl/exception.h"
#include "tool/console/command_line.h"
#include "tool/pass/estimate.h"
#include "tool/gui/background_job.h"
#include "tool/gui/dataset_model.h"
#include "tool/gui/job_progress.h"
#include "tool/gui/job_texts.h"
#include "tool/gui/pass_confirmation.h"
#include "tool/identifier_check.h"
#include "tool/gui/main_window.h"
#include "tool/gui/qt_text.h"
#include "tool/gui/table_estimates.h"
#include "tool/pass/cancel.h"
#include "tool/pass/target.h"
#include "tool/recompress.h"
#include "tool/user_interface.h"
#include "tool/pass/verify.h"

namespace tersify::gui {
namespace {

// The cancel request of the Cancel button: the first number that is no
// signal's, so that the pass does not take it for one.
constexpr int kCancelButtonRequest = NSIG;

// An estimate from the window reads every value.
constexpr double kWindowSamplePercent = 100.0;

// The rows of table on the default database (a safe SQL name).
int64_t CountRows(const std::string& table) {
  // A new dataset attaches to the default database.
  TvrDataset query(nullptr);
  // SQL Server's count(*) is an int, which overflows past 2^31 - 1 rows.
  const bool sqlite = PassConnection().GetProvider().Name() == "sqlite";
  query.SQL().Add(std::string(sqlite ? "select count(*) from " : "select COUNT_BIG(*) from ") + table);
  query.Open();
  return query.IsEmpty() ? 0 : query.Fields(0)->AsLargeInt();
}

int ProgressBarValue(int64_t value) {
  return static_cast<int>(std::min<int64_t>(value, std::numeric_limits<int>::max()));
}

}  // namespace

bool TTersifyMain::JobRunning() const { return job_->Running(); }

void TTersifyMain::WaitForJob() { job_->Wait(); }

TRecompressOptions TTersifyMain::PassOptions() const {
  TRecompressOptions options;
  // A pass from the window waits for a statement as long as one from the
  // command line, so that the command line box means the same pass.
  options.timeout_seconds = kDefaultTimeoutSeconds;
  if (seBatch_->value() != seBatch_->minimum()) options.batch_rows = seBatch_->value();
  if (seThreads_->value() != seThreads_->minimum()) options.threads = seThreads_->value();
  if (seTimeout_->value() != seTimeout_->minimum()) options.timeout_seconds = seTimeout_->value();
  if (seMinutes_->value() != seMinutes_->minimum())
    options.stop_at = std::chrono::steady_clock::now() + std::chrono::minutes(seMinutes_->value());
  options.max_rate_mb_per_s = seMaxRate_->value();
  options.before_write = before_write_;
  return options;
}

void TTersifyMain::SetBusy(bool busy) {
  busy_ = busy;
  for (QWidget* w : std::initializer_list<QWidget*>{bCompress_, bDecompress_, bVerify_, bEstimate_,
                                                    ebTables_, ebFields_, ebKeys_, ebCmdline_,
                                                    seBatch_, seThreads_, seTimeout_, seMinutes_,
                                                    seMaxRate_})
    w->setEnabled(!busy);
  bCancel_->setEnabled(busy);
  bContinue_->setEnabled(!busy && !resume_.from.empty());
  for (QTableView* grid : {grTables_, DBGrid2_, DBGrid1_}) {
    // The grids keep scrolling; a click selects nothing while the job runs.
    grid->setSelectionMode(busy ? QAbstractItemView::NoSelection : QAbstractItemView::SingleSelection);
    if (!busy) {
      auto* model = static_cast<TDatasetModel*>(grid->model());
      emit model->currentRowChanged(model->CurrentRow());
    }
  }
}

std::shared_ptr<TJobProgress> TTersifyMain::StartProgress(bool running_count) {
  auto progress = std::make_shared<TJobProgress>(this, [this, running_count](TJobProgress& changed) {
    // A change that arrives after its job has ended is dropped.
    if (&changed != progress_.get()) return;
    ShowJobProgress(changed, false);
    if (running_count && changed.RowsCounted()) {
      const TJobSnapshot snapshot = changed.Snapshot();
      FProcessed = snapshot.processed;
      FSkipped = snapshot.skipped;
      ShowProgress(nullptr);
    }
  });
  progress_ = progress;
  pbJob_->setRange(0, 0);
  pbJob_->setValue(0);
  lbRate_->setText(QStringLiteral("Starting"));
  return progress;
}

void TTersifyMain::ShowJobProgress(const TJobProgress& progress, bool ended, const std::string& note) {
  const TJobSnapshot snapshot = progress.Snapshot();
  // A job that has ended leaves no time left behind.
  if (snapshot.rows_total > 0 || ended) {
    pbJob_->setRange(0, std::max(ProgressBarValue(snapshot.rows_total), 1));
    pbJob_->setValue(ProgressBarValue(std::min(snapshot.rows_done, snapshot.rows_total)));
  }
  std::string text = TJobProgress::RateText(snapshot, !ended);
  if (!note.empty()) text += "\r\n" + note;
  lbRate_->setText(ToDisplayText(text));
}

bool TTersifyMain::ConfirmPass(int32_t command, const std::string& table, const std::string& field,
                               const std::string& key) {
  auto lower = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
  };
  if (unasked_tables_.count(lower(table))) return true;
  TPassPlan plan;
  plan.command = command;
  TvrDatabase* database = DefaultDatabase;
  if (database != nullptr) {
    plan.server = database->Server();
    plan.database = database->DatabaseName();
  }
  plan.table = table;
  plan.field = field;
  plan.key = key;
  // A name that is not safe is refused here as the pass would refuse it.
  CheckSqlName("table", table);
  plan.rows = CountRows(table);
  bool dont_ask_again = false;
  const bool yes = confirm_ ? confirm_(plan, dont_ask_again) : AskToRunPass(this, plan, dont_ask_again);
  if (yes && dont_ask_again) unasked_tables_.insert(lower(table));
  return yes;
}

void TTersifyMain::bCompressClick(QObject* Sender) {
  if (JobRunning()) return;
  int32_t command;
  if (Sender == bCompress_)
    command = 1;
  else if (Sender == bDecompress_)
    command = 2;
  else
    return;
  const std::string table = CurrentValue(*qTables_);
  const std::string field = CurrentValue(*qFields_);
  const std::string key = CurrentValue(*qKeys_);
  // Nothing is rewritten before the user has seen where and how much.
  try {
    if (!ConfirmPass(command, table, field, key)) return;
  } catch (const std::exception& e) {
    // The table cannot be counted, so the pass could not read it either.
    ReportPassError(true, e.what());
    return;
  }
  RunPass(command, table, field, key, std::string());
}

void TTersifyMain::bContinueClick() {
  if (JobRunning() || resume_.from.empty()) return;
  const TResume resume = resume_;
  RunPass(resume.command, resume.table, resume.field, resume.key, resume.from);
}

void TTersifyMain::ShowResume(const std::string& from) {
  resume_.from = from;
  lbResume_->setText(from.empty() ? QString() : ToDisplayText("Resume after key " + from));
  bContinue_->setEnabled(!busy_ && !from.empty());
}

void TTersifyMain::RunPass(int32_t command, const std::string& table, const std::string& field,
                           const std::string& key, const std::string& from) {
  FProcessed = 0;
  FSkipped = 0;
  FStateWord = command == 1 ? "compressed" : "uncompressed";
  TRecompressOptions options = PassOptions();
  if (!from.empty()) options.from_key = from;
  resume_ = TResume{command, table, field, key, std::string()};
  ShowResume(std::string());
  std::shared_ptr<TJobProgress> progress = StartProgress(true);
  auto report = std::make_shared<TRecompressReport>();
  ResetPassCancel();
  SetBusy(true);
  job_->Start(
      [=] {
        // Interactive: an error is shown in a message box, which the user
        // interface puts up on the window's thread.
        RecompressTable(true, command, table, field, key, progress->ProgressEvent(), progress->processed,
                        progress->skipped, progress.get(), options, report.get());
      },
      [this, progress, report, from] {
        // The final counts (a batch rolled back leaves them lower than the
        // last row's), unless the pass ended before its first row.
        FProcessed = progress->processed;
        FSkipped = progress->skipped;
        if (progress->RowsCounted()) ShowProgress(nullptr);
        // A cancelled pass says what it kept, and only that.
        if (report->end == TPassEnd::Cancelled)
          SetProgressText(progress_text_ + Format("\r\nCancelled, %d rows kept", FProcessed));
        else if (report->end == TPassEnd::Stopped)
          SetProgressText(progress_text_ + "\r\nStopped at the time limit");
        else
          SetProgressText(progress_text_ + "\r\nDONE!");
        // A stopped or cancelled pass can go on after the last key it committed.
        if (report->end == TPassEnd::Stopped || report->end == TPassEnd::Cancelled) {
          if (!report->resume_key.IsNull()) ShowResume(KeyText(report->resume_key));
          else if (!from.empty()) ShowResume(from);
        }
        ShowJobProgress(*progress, true, report->end == TPassEnd::Failed ? "Failed" : "");
        progress_.reset();
        SetBusy(false);
      });
}

void TTersifyMain::ShowProgress(TField* /*Field*/) {
  SetProgressText(Format("%d %s\r\n%d skipped", FProcessed, FStateWord.c_str(), FSkipped));
  lbProgress_->repaint();
}

void TTersifyMain::bCancelClick() {
  if (JobRunning()) RequestPassCancel(kCancelButtonRequest);
}

void TTersifyMain::bVerifyClick() {
  if (JobRunning()) return;
  const std::string table = CurrentValue(*qTables_);
  const std::string field = CurrentValue(*qFields_);
  const std::string key = CurrentValue(*qKeys_);
  const TRecompressOptions options = PassOptions();
  auto result = std::make_shared<TVerifyResult>();
  StartCheck(
      "Verifying " + table + "." + field,
      [=](TJobProgress& progress) {
        VerifyTable(table, field, key, options, *result, {}, &progress);
        return result->cancelled;
      },
      [this, result](bool cancelled) {
        std::string text = VerifySummary(*result);
        if (cancelled) text += " (cancelled)";
        lbResult_->setText(ToDisplayText(text));
        ShowDamaged(result->damaged_values);
      });
}

void TTersifyMain::ShowDamaged(const std::vector<TDamagedValue>& values) {
  grDamaged_->setRowCount(static_cast<int>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) {
    const int row = static_cast<int>(i);
    grDamaged_->setItem(row, 0, new QTableWidgetItem(ToQString(values[i].key)));
    auto* reason = new QTableWidgetItem(ToQString(values[i].reason));
    reason->setToolTip(reason->text());
    grDamaged_->setItem(row, 1, reason);
  }
}

void TTersifyMain::bEstimateClick() {
  if (JobRunning()) return;
  const std::string table = CurrentValue(*qTables_);
  const std::string field = CurrentValue(*qFields_);
  const std::string key = CurrentValue(*qKeys_);
  const TRecompressOptions options = PassOptions();
  auto result = std::make_shared<TEstimateResult>();
  StartCheck(
      "Estimating " + table + "." + field,
      [=](TJobProgress& progress) {
        EstimateTable(table, field, key, options, kWindowSamplePercent, *result, &progress);
        return result->cancelled;
      },
      [this, table, field, result](bool cancelled) {
        if (cancelled) {
          lbResult_->setText(QStringLiteral("Estimate cancelled"));
          return;
        }
        lbResult_->setText(ToDisplayText(EstimateText(*result)));
        estimates_->Set(table, field, *result);
      });
}

void TTersifyMain::StartCheck(const std::string& caption,
                              std::function<bool(TJobProgress& progress)> work,
                              std::function<void(bool cancelled)> show) {
  std::shared_ptr<TJobProgress> progress = StartProgress(false);
  auto error = std::make_shared<std::string>();
  auto cancelled = std::make_shared<bool>(false);
  lbResult_->setText(ToQString(caption));
  ShowDamaged({});
  ResetPassCancel();
  SetBusy(true);
  job_->Start(
      [progress, error, cancelled, work = std::move(work)] {
        try {
          *cancelled = work(*progress);
        } catch (const std::exception& e) {
          *error = e.what();
        }
      },
      [this, progress, error, cancelled, show = std::move(show)] {
        // The result's own text says whether it was cancelled.
        ShowJobProgress(*progress, true, error->empty() ? "" : "Failed");
        progress_.reset();
        SetBusy(false);
        if (!error->empty()) {
          lbResult_->clear();
          CurrentUserInterface().ShowMessage("Error", *error, TMsgDlgType::mtError);
          return;
        }
        show(*cancelled);
      });
}

void TTersifyMain::StopJob() {
  if (job_ == nullptr || !job_->Running()) return;
  RequestPassCancel(kCancelButtonRequest);
  job_->Wait();
}

void TTersifyMain::closeEvent(QCloseEvent* event) {
  StopJob();
  QMainWindow::closeEvent(event);
}

}  // namespace tersify::gui
