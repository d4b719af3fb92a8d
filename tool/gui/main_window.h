#pragma once
// TTersifyMain: the interactive main window. It lists the application's tables
// that have blob columns (from the catalogue tables tqz_systables and
// tqz_systablestr), the blob columns and the key candidates of the current
// table, lets the user pick them by clicking or by typing into the search box
// above each list, shows the equivalent console command line, and runs a
// recompression pass on the selection with a running progress count.
//
// A pass, a verify and an estimate run on a thread of their own (one at a
// time), so the window keeps painting, resizing and scrolling; while one runs
// everything that would query the database (the search boxes, the command
// line, a click in a list, the buttons) is switched off, and Cancel stops the
// job between two rows. Each estimated table gets a row in a sortable table of
// estimates. Before a pass rewrites anything the window asks (server,
// database, table, column and rows), unless the user said not to ask again
// for that table.
//
// The lists, the table of estimates and the job's controls sit in splitters,
// so the window can be resized and the lists given more or less room; the
// layout keeps every caption and header whole.
//
// The three catalogue queries attach to the default database when the window
// makes them, so they run on the connection the start-up sequence made. The
// window's own vrDatabase carries design-time settings and is never connected.

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tool/pass/options.h"

class QCloseEvent;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QSplitter;
class QTableView;
class QTableWidget;
class QFrame;

namespace tersify {
class TComponent;
class TDataSet;
class TDataSource;
class TField;
class TvrDatabase;
class TvrDataset;
class Variant;
struct TDamagedValue;
}  // namespace tersify

namespace tersify::gui {

class TBackgroundJob;
class TDatasetModel;
class TJobProgress;
class TTableEstimates;
struct TPassPlan;

class TTersifyMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TTersifyMain(QWidget* parent = nullptr);
  ~TTersifyMain() override;

  // Opens the three queries and positions them on Table, Field and Key
  // (whole value, case ignored; an empty or unknown value leaves a query on
  // its first row). Errors propagate (the catalogue tables may be missing).
  void OpenCatalogue(const std::string& Table, const std::string& Field, const std::string& Key);

  // The search boxes' handlers: locate the first row that begins with the
  // box's text, case ignored; the result is ignored. ebTablesChange runs on
  // changes of ebTables and of ebCmdline.
  void ebTablesChange();
  void ebFieldsChange();
  void ebKeysChange();
  // After-scroll handler of the three queries.
  void qTablesAfterScroll(TDataSet* DataSet);
  // Only while all three queries are open: the console command line for the
  // current selection into ebCmdline.
  void UpdateCommandLine();
  // Click handler of both buttons: counts the table's rows, asks whether to
  // go on (see SetPassConfirmation), then starts one pass on the job thread
  // with the options set in the window; once it has ended the progress text
  // shows the final counts, then CR LF "DONE!" (also after an error), or
  // after a cancel CR LF "Cancelled, <n> rows kept", or after the time limit
  // CR LF "Stopped at the time limit"; after a cancel or a stop the resume
  // key shows and Continue goes on from it. Any other sender, a job still
  // running, or a no to the question does nothing.
  void bCompressClick(QObject* Sender);
  // The pass's progress display: "<processed> <state word>\r\n<skipped> skipped".
  void ShowProgress(TField* Field);
  // Asks the running job to stop between two rows; an open batch is rolled back.
  void bCancelClick();
  // After a pass that stopped at its time limit or was cancelled: runs the
  // same pass again (no question asked) after the key it gave to resume
  // with, with the options now set in the window.
  void bContinueClick();
  // The key the last pass gave to resume after, as /FROM= takes it; empty
  // when there is none (no pass yet, or the last one completed).
  const std::string& ResumeKey() const { return resume_.from; }
  // Start a verify or an estimate (every value) of the selected table and
  // field on the job thread; the result shows in the window once it is done.
  void bVerifyClick();
  void bEstimateClick();

  // True while a pass, verify or estimate runs.
  bool JobRunning() const;
  // Returns once the running job has ended and the window shows its result,
  // delivering events meanwhile; at once when none runs.
  void WaitForJob();

  // The options of the next pass from the window's boxes; a box left on
  // "default" keeps the command line's default.
  TRecompressOptions PassOptions() const;
  // The question before a pass: true to run it; setting dont_ask_again skips
  // the question for the plan's table from then on. The window's own asks in
  // a modal box (AskToRunPass).
  using TPassConfirmation = std::function<bool(const TPassPlan& plan, bool& dont_ask_again)>;
  void SetPassConfirmation(TPassConfirmation confirm) { confirm_ = std::move(confirm); }
  // Called on the job thread before each row of a pass is written, with its
  // key (tests and the screenshot tool hold a pass in its middle with it).
  void SetBeforeWrite(std::function<void(const Variant& key)> hook) { before_write_ = std::move(hook); }

  // The first column of the query's current row as a string; empty when the
  // query is closed or has no rows.
  static std::string CurrentValue(TDataSet& query);

  // The components and widgets, by their names.
  TvrDatabase& vrDatabase() const { return *vrDatabase_; }
  TDataSource& DataSource1() const { return *DataSource1_; }
  TDataSource& DataSource2() const { return *DataSource2_; }
  TDataSource& DataSource3() const { return *DataSource3_; }
  TvrDataset& qTables() const { return *qTables_; }
  TvrDataset& qFields() const { return *qFields_; }
  TvrDataset& qKeys() const { return *qKeys_; }
  QPushButton* bCompress() const { return bCompress_; }
  QPushButton* bDecompress() const { return bDecompress_; }
  QLineEdit* ebTables() const { return ebTables_; }
  QLineEdit* ebFields() const { return ebFields_; }
  QLineEdit* ebKeys() const { return ebKeys_; }
  QLineEdit* ebCmdline() const { return ebCmdline_; }
  QTableView* grTables() const { return grTables_; }
  QTableView* DBGrid1() const { return DBGrid1_; }
  QTableView* DBGrid2() const { return DBGrid2_; }
  QLabel* lbProgress() const { return lbProgress_; }
  QPushButton* bCancel() const { return bCancel_; }
  QPushButton* bVerify() const { return bVerify_; }
  QPushButton* bEstimate() const { return bEstimate_; }
  QProgressBar* pbJob() const { return pbJob_; }
  QLabel* lbRate() const { return lbRate_; }
  QSpinBox* seBatch() const { return seBatch_; }
  QSpinBox* seThreads() const { return seThreads_; }
  QSpinBox* seTimeout() const { return seTimeout_; }
  QSpinBox* seMinutes() const { return seMinutes_; }
  QDoubleSpinBox* seMaxRate() const { return seMaxRate_; }
  QLabel* lbResume() const { return lbResume_; }
  QPushButton* bContinue() const { return bContinue_; }
  QLabel* lbResult() const { return lbResult_; }
  QTableWidget* grDamaged() const { return grDamaged_; }
  QTableView* grEstimates() const { return grEstimates_; }
  TTableEstimates& Estimates() const { return *estimates_; }
  // Between the lists' side and the job's controls, between the table list
  // and the blob and key columns, between the blob columns and the key
  // columns, and between the lists and the table of estimates.
  QSplitter* spMain() const { return spMain_; }
  QSplitter* spLists() const { return spLists_; }
  QSplitter* spFields() const { return spFields_; }
  QSplitter* spEstimates() const { return spEstimates_; }
  // The progress label's text as the system made it (its line breaks are CR LF).
  const std::string& ProgressText() const { return progress_text_; }

 protected:
  // Closing while a job runs cancels it and waits for it to stop.
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateComponents();
  void CreateWidgets();
  QWidget* CreateJobWidgets(QWidget* parent);
  QWidget* CreateEstimates(QWidget* parent);
  // "<database> on <server> - Tersify", from the default database.
  void ShowConnectionInTitle();
  // The pass the buttons would start, with the table's row count; false when
  // the user says no.
  bool ConfirmPass(int32_t command, const std::string& table, const std::string& field,
                   const std::string& key);
  // Starts the pass on the job thread, after the key from when it is not empty.
  void RunPass(int32_t command, const std::string& table, const std::string& field, const std::string& key,
               const std::string& from);
  // Shows the resume key and lets Continue run, or hides them (from empty).
  void ShowResume(const std::string& from);
  // Switches off (busy) or on again what would query the database or start
  // another job; the grids keep scrolling, and follow their datasets again after.
  void SetBusy(bool busy);
  // A fresh progress record for the job about to start, shown as it changes
  // (with the pass's running count when running_count).
  std::shared_ptr<TJobProgress> StartProgress(bool running_count);
  // The bar and the rows beside it; once the job has ended without the time
  // left, and with note (such as "Failed") on a line of its own.
  void ShowJobProgress(const TJobProgress& progress, bool ended, const std::string& note = std::string());
  void ShowDamaged(const std::vector<TDamagedValue>& values);
  // Starts a verify or an estimate: work runs on the job thread and returns
  // whether it was cancelled; show runs on the window's thread when work ended
  // without an error (an error goes to a message box).
  void StartCheck(const std::string& caption, std::function<bool(TJobProgress& progress)> work,
                  std::function<void(bool cancelled)> show);
  void StopJob();
  // The grid of one data source under title, kept on the dataset's current
  // row both ways.
  QTableView* MakeGrid(const char* name, TDataSource& source, const char* title, QWidget* parent);
  QFrame* MakeSearchPanel(const char* name, const char* caption, QLineEdit*& edit,
                          const char* edit_name, QWidget* parent);
  void SetProgressText(const std::string& text);
  // Runs a handler of the window; an error goes to the application's default
  // handling (a message box) and the window stays open.
  template <class F>
  void Guarded(F&& handler);

  // Owner of the window's components (destroyed with the window).
  std::unique_ptr<TComponent> form_;
  TvrDatabase* vrDatabase_ = nullptr;
  TDataSource* DataSource1_ = nullptr;
  TvrDataset* qTables_ = nullptr;
  TDataSource* DataSource2_ = nullptr;
  TvrDataset* qFields_ = nullptr;
  TDataSource* DataSource3_ = nullptr;
  TvrDataset* qKeys_ = nullptr;

  QPushButton* bCompress_ = nullptr;
  QPushButton* bDecompress_ = nullptr;
  QTableView* DBGrid1_ = nullptr;
  QTableView* DBGrid2_ = nullptr;
  QTableView* grTables_ = nullptr;
  QLineEdit* ebTables_ = nullptr;
  QLineEdit* ebFields_ = nullptr;
  QLineEdit* ebCmdline_ = nullptr;
  QLineEdit* ebKeys_ = nullptr;
  QLabel* lbProgress_ = nullptr;
  std::string progress_text_;

  QPushButton* bCancel_ = nullptr;
  QPushButton* bVerify_ = nullptr;
  QPushButton* bEstimate_ = nullptr;
  QProgressBar* pbJob_ = nullptr;
  QLabel* lbRate_ = nullptr;
  QSpinBox* seBatch_ = nullptr;
  QSpinBox* seThreads_ = nullptr;
  QSpinBox* seTimeout_ = nullptr;
  QSpinBox* seMinutes_ = nullptr;
  QDoubleSpinBox* seMaxRate_ = nullptr;
  QLabel* lbResume_ = nullptr;
  QPushButton* bContinue_ = nullptr;
  // The pass Continue runs again, and the key it starts after.
  struct TResume {
    int32_t command = 0;
    std::string table, field, key, from;
  } resume_;
  QLabel* lbResult_ = nullptr;
  QTableWidget* grDamaged_ = nullptr;
  QTableView* grEstimates_ = nullptr;
  TTableEstimates* estimates_ = nullptr;
  QSplitter* spMain_ = nullptr;
  QSplitter* spLists_ = nullptr;
  QSplitter* spFields_ = nullptr;
  QSplitter* spEstimates_ = nullptr;
  TPassConfirmation confirm_;
  // Tables, in lower case, the user asked not to be asked about again.
  std::set<std::string> unasked_tables_;
  TBackgroundJob* job_ = nullptr;
  std::shared_ptr<TJobProgress> progress_;
  std::function<void(const Variant& key)> before_write_;
  bool busy_ = false;

  int32_t FProcessed = 0;
  int32_t FSkipped = 0;
  std::string FStateWord;
};

}  // namespace tersify::gui
