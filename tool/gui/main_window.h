#pragma once
// TTersifyMain: the interactive main window. It lists the application's tables
// that have blob columns (from the catalogue tables tqz_systables and
// tqz_systablestr), the blob columns and the key candidates of the current
// table, lets the user pick them by clicking or by typing into the search box
// above each list, shows the equivalent console command line, and runs a
// recompression pass on the selection with a running progress count.
//
// The three catalogue queries attach to the default database when the window
// makes them, so they run on the connection the start-up sequence made. The
// window's own vrDatabase carries design-time settings and is never connected.

#include <QMainWindow>
#include <cstdint>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QFrame;

namespace tersify {
class TComponent;
class TDataSet;
class TDataSource;
class TField;
class TvrDatabase;
class TvrDataset;
}  // namespace tersify

namespace tersify::gui {

class TDatasetModel;

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
  // Click handler of both buttons: runs one pass, then appends CR LF "DONE!"
  // to the progress text. Any other sender does nothing.
  void bCompressClick(QObject* Sender);
  // The pass's progress callback: "<processed> <state word>\r\n<skipped> skipped".
  void ShowProgress(TField* Field);

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
  // The progress label's text as the system made it (its line breaks are CR LF).
  const std::string& ProgressText() const { return progress_text_; }

 private:
  void CreateComponents();
  void CreateWidgets();
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

  int32_t FProcessed = 0;
  int32_t FSkipped = 0;
  std::string FStateWord;
};

}  // namespace tersify::gui
