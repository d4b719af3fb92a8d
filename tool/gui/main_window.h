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
// estimates.
//
// The three catalogue queries attach to the default database when the window
// makes them, so they run on the connection the start-up sequence made. The
// window's own vrDatabase carries design-time settings and is never connected.

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tool/pass/options.h"

class QCloseEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
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
  // Click handler of both buttons: starts one pass on the job thread with the
  // options set in the window; once it has ended the progress text shows the
  // final counts, then CR LF "DONE!" (also after an error or a cancel). Any
  // other sender, or a job still running, does nothing.
  void bCompressClick(QObject* Sender);
  // The pass's progress display: "<processed> <state word>\r\n<skipped> skipped".
  void ShowProgress(TField* Field);
  // Asks the running job to stop between two rows; an open batch is rolled back.
  void bCancelClick();
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
  QLabel* lbResult() const { return lbResult_; }
  QTableWidget* grDamaged() const { return grDamaged_; }
  QTableView* grEstimates() const { return grEstimates_; }
  TTableEstimates& Estimates() const { return *estimates_; }
  // The progress label's text as the system made it (its line breaks are CR LF).
  const std::string& ProgressText() const { return progress_text_; }

 protected:
  // Closing while a job runs cancels it and waits for it to stop.
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateComponents();
  void CreateWidgets();
  void CreateJobWidgets(QWidget* central);
  // Switches off (busy) or on again what would query the database or start
  // another job; the grids keep scrolling, and follow their datasets again after.
  void SetBusy(bool busy);
  // A fresh progress record for the job about to start, shown as it changes
  // (with the pass's running count when running_count).
  std::shared_ptr<TJobProgress> StartProgress(bool running_count);
  void ShowJobProgress(const TJobProgress& progress, const std::string& ending);
  void ShowDamaged(const std::vector<TDamagedValue>& values);
  // Starts a verify or an estimate: work runs on the job thread and returns
  // whether it was cancelled; show runs on the window's thread when work ended
  // without an error (an error goes to a message box).
  void StartCheck(const std::string& caption, std::function<bool(TJobProgress& progress)> work,
                  std::function<void(bool cancelled)> show);
  void StopJob();
  // The grid of one data source, kept on the dataset's current row both ways.
  QTableView* MakeGrid(const char* name, TDataSource& source, QWidget* parent);
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
  QLabel* lbResult_ = nullptr;
  QTableWidget* grDamaged_ = nullptr;
  QTableView* grEstimates_ = nullptr;
  TTableEstimates* estimates_ = nullptr;
  TBackgroundJob* job_ = nullptr;
  std::shared_ptr<TJobProgress> progress_;
  std::function<void(const Variant& key)> before_write_;
  bool busy_ = false;

  int32_t FProcessed = 0;
  int32_t FSkipped = 0;
  std::string FStateWord;
};

}  // namespace tersify::gui
