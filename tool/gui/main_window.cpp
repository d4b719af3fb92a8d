#include "tool/gui/main_window.h"

#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <utility>

#include "db/database.h"
#include "db/dataset.h"
#include "db/registries.h"
#include "framework/data/data_source.h"
#include "framework/rtl/component.h"
#include "framework/rtl/exception.h"
#include "tool/gui/background_job.h"
#include "tool/gui/dataset_model.h"
#include "tool/gui/qt_text.h"
#include "tool/gui/table_estimates.h"
#include "tool/recompress.h"
#include "tool/user_interface.h"

namespace tersify::gui {
namespace {

// The caption of the application's default error box.
const char kApplicationTitle[] = "Tersify";

// The window's size when it opens, unless its content asks for more.
constexpr int kDefaultWidth = 1000;
constexpr int kDefaultHeight = 700;

constexpr TLocateOptions kPrefixSearch = loCaseInsensitive | loPartialKey;

// The catalogue queries, one SQL line each.
void SetSQL(TvrDataset& query, std::initializer_list<const char*> lines) {
  query.SQL().Clear();
  for (const char* line : lines) query.SQL().Add(line);
}

// The options every catalogue query carries in the window's design.
void SetQueryOptions(TvrDataset& query) {
  query.SetFieldNamesToUpperCase(false);
  query.SetTrimFixedChar(true);
  query.SetTrimVarChar(true);
  query.SetORACompatibility(true);
  query.SetEditable(true);
  query.SetRequestLive(false);
  query.SetCached(false);
  query.SetLocateInsert(false);
  query.SetQueryRecCount(false);
  query.SetDetailDelay(0);
  query.SetLocalMasterDetail(false);
  query.SetStrictUpdate(false);
  query.SetAddRowidToSQL(false);
  query.SetAutoCalcFields(false);
  query.SetAutoTransactOnPost(false);
}

QFrame* MakePanel(const char* name, QWidget* parent) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  return panel;
}

QVBoxLayout* Column(QWidget* parent) {
  auto* column = new QVBoxLayout(parent);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  return column;
}

QSplitter* MakeSplitter(const char* name, Qt::Orientation orientation, QWidget* parent) {
  auto* splitter = new QSplitter(orientation, parent);
  splitter->setObjectName(QString::fromLatin1(name));
  // A pane never shrinks below what its captions need.
  splitter->setChildrenCollapsible(false);
  return splitter;
}

QPushButton* MakeButton(const char* name, const char* caption, QWidget* parent) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setMinimumWidth(113);
  return button;
}

// A label that shows lines of text and keeps room for at least lines of them.
QLabel* MakeTextLabel(const char* name, int lines, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(true);
  label->setMinimumHeight(label->fontMetrics().lineSpacing() * lines + 2);
  return label;
}

}  // namespace

TTersifyMain::TTersifyMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("TersifyMain"));
  ShowConnectionInTitle();
  CreateComponents();
  CreateWidgets();
  // Room for every list and control at once, and never less than a screen of
  // 1024 x 768 shows comfortably.
  resize(sizeHint().expandedTo(QSize(kDefaultWidth, kDefaultHeight)));
}

void TTersifyMain::ShowConnectionInTitle() {
  const TvrDatabase* database = DefaultDatabase;
  if (database == nullptr) {
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    return;
  }
  setWindowTitle(ToQString(database->DatabaseName() + " on " + database->Server() + " - " + kApplicationTitle));
}

TTersifyMain::~TTersifyMain() {
  // A job still running uses the database and reports to the widgets.
  StopJob();
  // The grids' models let go of their data sources before the components go.
  delete takeCentralWidget();
  form_.reset();
}

template <class F>
void TTersifyMain::Guarded(F&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    CurrentUserInterface().ShowMessage(kApplicationTitle, e.what(), TMsgDlgType::mtError);
  }
}

void TTersifyMain::CreateComponents() {
  form_ = std::make_unique<TComponent>(nullptr);
  form_->SetName("TersifyMain");
  // In declaration order. A new query attaches itself to the default database.
  vrDatabase_ = MakeComponent<TvrDatabase>(form_.get());
  DataSource1_ = MakeComponent<TDataSource>(form_.get());
  qTables_ = MakeComponent<TvrDataset>(form_.get());
  DataSource2_ = MakeComponent<TDataSource>(form_.get());
  qFields_ = MakeComponent<TvrDataset>(form_.get());
  DataSource3_ = MakeComponent<TDataSource>(form_.get());
  qKeys_ = MakeComponent<TvrDataset>(form_.get());

  form_->BeginLoading();
  vrDatabase_->SetName("vrDatabase");
  // Design-time connection settings; the component is never connected, no
  // query refers to it, so its data-source setup (which runs on connecting)
  // never runs.
  vrDatabase_->SetDatabaseType(vrdbtMSSQL);
  vrDatabase_->SetConnectionType(ctSDAC);
  // No login is built into the program: user name and password stay empty.
  vrDatabase_->SetServer("localhost");
  vrDatabase_->SetDatabaseName("QZ");
  vrDatabase_->DatasetSettings().SetFetchAll(false);
  vrDatabase_->DatasetSettings().SetFetchCount(50);
  vrDatabase_->DatasetSettings().SetQueryRecordCount(true);
  vrDatabase_->SetAutoCommit(true);
  vrDatabase_->SetConnectionPrompt(false);
  vrDatabase_->SetUseWindowsAuthentication(false);

  DataSource1_->SetName("DataSource1");
  DataSource1_->SetDataSet(qTables_);
  DataSource2_->SetName("DataSource2");
  DataSource2_->SetDataSet(qFields_);
  DataSource3_->SetName("DataSource3");
  DataSource3_->SetDataSet(qKeys_);

  qTables_->SetName("qTables");
  SetSQL(*qTables_, {"select acTableName from tqz_systables T where acTabletype='N'",
                     "and exists(select 1 from tqz_systablestr S where T.acTablename=S.acTablename and "
                     "S.acOraDatatype='blob')"});
  qFields_->SetName("qFields");
  SetSQL(*qFields_, {"select acFieldName from tqz_systablestr where acTablename=:acTablename",
                     "and acOraDatatype='blob'"});
  qKeys_->SetName("qKeys");
  SetSQL(*qKeys_, {"select acFieldName from tqz_systablestr where acTablename=:acTablename",
                   "and acOraDatatype<>'blob'", "order by anSeqNo"});
  for (TvrDataset* detail : {qFields_, qKeys_}) {
    detail->SetMasterSource(DataSource1_);
    detail->SetMasterFields("acTableName");
  }
  for (TvrDataset* query : {qTables_, qFields_, qKeys_}) {
    SetQueryOptions(*query);
    query->AfterScroll = TDataSetNotifyEvent::Bind<&TTersifyMain::qTablesAfterScroll>(this);
  }
  form_->EndLoading();
}

QFrame* TTersifyMain::MakeSearchPanel(const char* name, const char* caption, QLineEdit*& edit,
                                      const char* edit_name, QWidget* parent) {
  QFrame* panel = MakePanel(name, parent);
  auto* row = new QHBoxLayout(panel);
  row->setContentsMargins(3, 2, 3, 2);
  auto* label = new QLabel(QString::fromLatin1(caption), panel);
  edit = new QLineEdit(panel);
  edit->setObjectName(QString::fromLatin1(edit_name));
  edit->setPlaceholderText(QStringLiteral("Search"));
  label->setBuddy(edit);
  row->addWidget(label);
  row->addWidget(edit, 1);
  return panel;
}

QTableView* TTersifyMain::MakeGrid(const char* name, TDataSource& source, const char* title,
                                   QWidget* parent) {
  auto* grid = new QTableView(parent);
  grid->setObjectName(QString::fromLatin1(name));
  auto* model = new TDatasetModel(source, grid);
  model->SetTitle(QString::fromLatin1(title));
  grid->setModel(model);
  grid->verticalHeader()->hide();  // no indicator column
  grid->horizontalHeader()->show();
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
  grid->setShowGrid(true);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  // The selected row stays marked when the grid has no focus.
  QPalette palette = grid->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  grid->setPalette(palette);

  // The grid follows the dataset, and a click moves the dataset. Moving the
  // dataset may move it again before the click is done (the search boxes pull
  // the table list back); the grid then follows the last move.
  auto syncing = std::make_shared<bool>(false);
  connect(model, &TDatasetModel::currentRowChanged, grid, [grid, model, syncing](int row) {
    const bool was = *syncing;
    *syncing = true;
    if (row < 0)
      grid->selectionModel()->clear();
    else
      grid->selectionModel()->setCurrentIndex(
          model->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    *syncing = was;
  });
  connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, grid,
          [this, model, syncing](const QModelIndex& current, const QModelIndex&) {
            // While a job runs the dataset stays where it is; the grid is put
            // back on it when the job is done.
            if (*syncing || busy_ || !current.isValid()) return;
            Guarded([&] { model->MoveTo(current.row()); });
          });
  const int row = model->CurrentRow();
  if (row >= 0) emit model->currentRowChanged(row);
  return grid;
}

void TTersifyMain::CreateWidgets() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("ClientArea"));
  auto* client = Column(central);

  // The lists' side: the tables beside the blob and key columns, the table of
  // estimates below them; the job's controls on the right.
  spMain_ = MakeSplitter("spMain", Qt::Horizontal, central);
  spEstimates_ = MakeSplitter("spEstimates", Qt::Vertical, spMain_);
  spLists_ = MakeSplitter("spLists", Qt::Horizontal, spEstimates_);

  // Left column: the table search and list.
  QFrame* panel2 = MakePanel("Panel2", spLists_);
  auto* left = Column(panel2);
  QFrame* panel3 = MakeSearchPanel("Panel3", "Tables", ebTables_, "ebTables", panel2);
  grTables_ = MakeGrid("grTables", *DataSource1_, "Table", panel2);
  left->addWidget(panel3);
  left->addWidget(grTables_, 1);

  // Middle column: blob columns above, key candidates below.
  QFrame* panel1 = MakePanel("Panel1", spLists_);
  auto* middle = Column(panel1);
  spFields_ = MakeSplitter("spFields", Qt::Vertical, panel1);
  auto* fields = new QWidget(spFields_);
  auto* fields_column = Column(fields);
  QFrame* panel5 = MakeSearchPanel("Panel5", "Fields", ebFields_, "ebFields", fields);
  DBGrid2_ = MakeGrid("DBGrid2", *DataSource2_, "Blob column", fields);
  fields_column->addWidget(panel5);
  fields_column->addWidget(DBGrid2_, 1);
  auto* keys = new QWidget(spFields_);
  auto* keys_column = Column(keys);
  QFrame* panel4 = MakeSearchPanel("Panel4", "Key Field", ebKeys_, "ebKeys", keys);
  DBGrid1_ = MakeGrid("DBGrid1", *DataSource3_, "Key column", keys);
  keys_column->addWidget(panel4);
  keys_column->addWidget(DBGrid1_, 1);
  middle->addWidget(spFields_);

  spEstimates_->addWidget(CreateEstimates(spEstimates_));
  spEstimates_->setStretchFactor(0, 3);
  spEstimates_->setStretchFactor(1, 1);
  spMain_->addWidget(CreateJobWidgets(spMain_));
  spMain_->setStretchFactor(0, 1);
  spMain_->setStretchFactor(1, 0);
  client->addWidget(spMain_, 1);

  // Bottom bar: the command line.
  QFrame* panel6 = MakePanel("Panel6", central);
  auto* bar = new QHBoxLayout(panel6);
  bar->setContentsMargins(3, 3, 3, 3);
  auto* caption = new QLabel(QStringLiteral("Command line params"), panel6);
  ebCmdline_ = new QLineEdit(panel6);
  ebCmdline_->setObjectName(QStringLiteral("ebCmdline"));
  caption->setBuddy(ebCmdline_);
  bar->addWidget(caption);
  bar->addWidget(ebCmdline_, 1);
  client->addWidget(panel6);

  setCentralWidget(central);

  // Tab order: the buttons, the middle column, the left column, the bottom bar,
  // then the job's controls below the progress count and the estimates.
  QWidget* order[] = {bCompress_, bDecompress_, ebFields_,  DBGrid2_,   ebKeys_,    DBGrid1_,
                      ebTables_,  grTables_,    ebCmdline_, bCancel_,   bContinue_, seBatch_,
                      seThreads_, seTimeout_,   seMinutes_, seMaxRate_, bVerify_,   bEstimate_,
                      grDamaged_, grEstimates_};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  connect(ebTables_, &QLineEdit::textChanged, this, [this] { Guarded([this] { ebTablesChange(); }); });
  connect(ebCmdline_, &QLineEdit::textChanged, this, [this] { Guarded([this] { ebTablesChange(); }); });
  connect(ebFields_, &QLineEdit::textChanged, this, [this] { Guarded([this] { ebFieldsChange(); }); });
  connect(ebKeys_, &QLineEdit::textChanged, this, [this] { Guarded([this] { ebKeysChange(); }); });
  connect(bCompress_, &QPushButton::clicked, this,
          [this] { Guarded([this] { bCompressClick(bCompress_); }); });
  connect(bDecompress_, &QPushButton::clicked, this,
          [this] { Guarded([this] { bCompressClick(bDecompress_); }); });
  connect(bCancel_, &QPushButton::clicked, this, [this] { bCancelClick(); });
  connect(bContinue_, &QPushButton::clicked, this, [this] { Guarded([this] { bContinueClick(); }); });
  connect(bVerify_, &QPushButton::clicked, this, [this] { Guarded([this] { bVerifyClick(); }); });
  connect(bEstimate_, &QPushButton::clicked, this, [this] { Guarded([this] { bEstimateClick(); }); });
  for (QSpinBox* box : {seBatch_, seThreads_, seTimeout_, seMinutes_})
    connect(box, &QSpinBox::valueChanged, this, [this] { Guarded([this] { UpdateCommandLine(); }); });
}

QWidget* TTersifyMain::CreateEstimates(QWidget* parent) {
  // The tables estimated so far, sortable by each figure.
  auto* pane = new QWidget(parent);
  auto* column = Column(pane);
  auto* caption = new QLabel(QStringLiteral("Estimates (click a header to sort)"), pane);
  caption->setContentsMargins(3, 2, 3, 2);
  estimates_ = new TTableEstimates(this);
  grEstimates_ = new QTableView(pane);
  grEstimates_->setObjectName(QStringLiteral("grEstimates"));
  grEstimates_->setModel(estimates_);
  grEstimates_->verticalHeader()->hide();
  grEstimates_->verticalHeader()->setDefaultSectionSize(grEstimates_->fontMetrics().height() + 6);
  QHeaderView* header = grEstimates_->horizontalHeader();
  // The figures' columns are as wide as their headers; the names get the rest,
  // and the user may widen any of them.
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(false);
  header->setSectionResizeMode(TTableEstimates::kTable, QHeaderView::Stretch);
  grEstimates_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grEstimates_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grEstimates_->setSortingEnabled(true);
  grEstimates_->sortByColumn(TTableEstimates::kSavingMB, Qt::DescendingOrder);
  int figures = 0;
  for (int section = TTableEstimates::kStoredMB; section < TTableEstimates::kColumnCount; ++section) {
    const int width = header->sectionSizeHint(section) + header->fontMetrics().averageCharWidth();
    header->resizeSection(section, width);
    header->setMinimumSectionSize(std::min(header->minimumSectionSize(), width));
    figures += width;
  }
  // Room for the figures and a table name of a fair length.
  grEstimates_->setMinimumWidth(figures + header->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 24 +
                                2 * grEstimates_->frameWidth());
  grEstimates_->setMinimumHeight(header->sizeHint().height() + 3 * grEstimates_->verticalHeader()->defaultSectionSize());
  column->addWidget(caption);
  column->addWidget(grEstimates_, 1);
  return pane;
}

QWidget* TTersifyMain::CreateJobWidgets(QWidget* parent) {
  // The right side: Compress and Decompress, the pass's count, the job's
  // progress and Cancel, the pass's options, Verify and Estimate and their
  // results.
  auto* pane = new QWidget(parent);
  pane->setObjectName(QStringLiteral("JobPane"));
  auto* column = new QVBoxLayout(pane);
  column->setContentsMargins(8, 6, 8, 6);

  auto* rewrite = new QHBoxLayout;
  bCompress_ = MakeButton("bCompress", "Compress", pane);
  bDecompress_ = MakeButton("bDecompress", "Decompress", pane);
  rewrite->addWidget(bCompress_);
  rewrite->addWidget(bDecompress_);
  column->addLayout(rewrite);
  lbProgress_ = MakeTextLabel("lbProgress", 3, pane);
  column->addWidget(lbProgress_);

  // The bar carries no text of its own: the rows and the time left are
  // written beside it, where the fill never covers them.
  pbJob_ = new QProgressBar(pane);
  pbJob_->setObjectName(QStringLiteral("pbJob"));
  pbJob_->setRange(0, 1);
  pbJob_->setValue(0);
  pbJob_->setTextVisible(false);
  pbJob_->setMaximumHeight(pbJob_->fontMetrics().height());
  column->addWidget(pbJob_);
  lbRate_ = MakeTextLabel("lbRate", 3, pane);
  column->addWidget(lbRate_);
  auto* stop = new QHBoxLayout;
  bCancel_ = MakeButton("bCancel", "Cancel", pane);
  bCancel_->setEnabled(false);
  bContinue_ = MakeButton("bContinue", "Continue", pane);
  bContinue_->setEnabled(false);
  bContinue_->setToolTip(QStringLiteral("Run the pass again after the key it stopped at"));
  stop->addWidget(bCancel_);
  stop->addWidget(bContinue_);
  stop->addStretch(1);
  column->addLayout(stop);
  lbResume_ = MakeTextLabel("lbResume", 2, pane);
  lbResume_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  column->addWidget(lbResume_);

  // A box at its lowest value leaves the option at its default and out of the
  // command line.
  struct OptionBox {
    QSpinBox*& box;
    const char* name;
    const char* caption;
    int lowest, highest;
    const char* tip;
  };
  const OptionBox boxes[] = {
      {seBatch_, "seBatch", "Batch rows", 0, 1000000, "Rows written per transaction"},
      {seThreads_, "seThreads", "Threads", 0, kMostPassThreads, "Threads that compress"},
      {seTimeout_, "seTimeout", "Timeout (s)", -1, 86400, "Seconds a statement may run; 0 waits"},
      {seMinutes_, "seMinutes", "Time limit (min)", 0, 7 * 24 * 60,
       "Minutes after which the pass stops between two rows and commits"},
  };
  auto* options = new QFormLayout;
  options->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  for (const OptionBox& option : boxes) {
    option.box = new QSpinBox(pane);
    option.box->setObjectName(QString::fromLatin1(option.name));
    option.box->setRange(option.lowest, option.highest);
    option.box->setSpecialValueText(QStringLiteral("default"));
    option.box->setValue(option.lowest);
    option.box->setToolTip(QString::fromLatin1(option.tip));
    option.box->setMinimumWidth(100);
    options->addRow(QString::fromLatin1(option.caption), option.box);
  }
  seMinutes_->setSpecialValueText(QStringLiteral("none"));
  seMaxRate_ = new QDoubleSpinBox(pane);
  seMaxRate_->setObjectName(QStringLiteral("seMaxRate"));
  seMaxRate_->setRange(0, 100000);
  seMaxRate_->setDecimals(1);
  seMaxRate_->setSingleStep(1);
  seMaxRate_->setSpecialValueText(QStringLiteral("none"));
  seMaxRate_->setValue(0);
  seMaxRate_->setToolTip(QStringLiteral("Megabytes of stored values read per second at most"));
  seMaxRate_->setMinimumWidth(100);
  options->addRow(QStringLiteral("Rate limit (MB/s)"), seMaxRate_);
  column->addSpacing(6);
  column->addLayout(options);
  column->addSpacing(6);

  auto* checks = new QHBoxLayout;
  bVerify_ = MakeButton("bVerify", "Verify", pane);
  bEstimate_ = MakeButton("bEstimate", "Estimate", pane);
  checks->addWidget(bVerify_);
  checks->addWidget(bEstimate_);
  column->addLayout(checks);
  lbResult_ = MakeTextLabel("lbResult", 5, pane);
  lbResult_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  column->addWidget(lbResult_);

  grDamaged_ = new QTableWidget(0, 2, pane);
  grDamaged_->setObjectName(QStringLiteral("grDamaged"));
  grDamaged_->setHorizontalHeaderLabels({QStringLiteral("Damaged key"), QStringLiteral("Reason")});
  grDamaged_->verticalHeader()->hide();
  grDamaged_->verticalHeader()->setDefaultSectionSize(grDamaged_->fontMetrics().height() + 6);
  // Both columns can be resized; the reason takes what is left, so an empty
  // list never scrolls sideways.
  QHeaderView* damaged_header = grDamaged_->horizontalHeader();
  damaged_header->setSectionResizeMode(QHeaderView::Interactive);
  damaged_header->setStretchLastSection(true);
  damaged_header->resizeSection(0, damaged_header->sectionSizeHint(0) + damaged_header->fontMetrics().averageCharWidth() * 4);
  grDamaged_->setMinimumHeight(damaged_header->sizeHint().height() + 3 * grDamaged_->verticalHeader()->defaultSectionSize());
  grDamaged_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grDamaged_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grDamaged_->setWordWrap(false);
  column->addWidget(grDamaged_, 1);

  // Wide enough for the two buttons side by side and the longest line of an
  // estimate.
  pane->setMinimumWidth(std::max(pane->sizeHint().width(), pane->fontMetrics().horizontalAdvance(
                                                               QStringLiteral("about 999.99 MB after compression ")) +
                                                               16));
  job_ = new TBackgroundJob(this);
  return pane;
}

void TTersifyMain::OpenCatalogue(const std::string& Table, const std::string& Field,
                                 const std::string& Key) {
  qTables_->Open();
  if (!Table.empty()) qTables_->Locate("acTableName", Variant(Table), loCaseInsensitive);
  qFields_->Open();
  if (!Field.empty()) qFields_->Locate("acFieldName", Variant(Field), loCaseInsensitive);
  qKeys_->Open();
  if (!Key.empty()) qKeys_->Locate("acFieldname", Variant(Key), loCaseInsensitive);
  // An empty query has no row to scroll to, so when the last one opened is
  // empty no after-scroll handler has seen all three open: show the command
  // line all the same (it ends in "/KEY=" then).
  UpdateCommandLine();
}

void TTersifyMain::ebTablesChange() {
  qTables_->Locate("acTableName", Variant(FromQString(ebTables_->text())), kPrefixSearch);
}

void TTersifyMain::ebFieldsChange() {
  qFields_->Locate("acFieldName", Variant(FromQString(ebFields_->text())), kPrefixSearch);
}

void TTersifyMain::ebKeysChange() {
  qKeys_->Locate("acFieldName", Variant(FromQString(ebKeys_->text())), kPrefixSearch);
}

void TTersifyMain::qTablesAfterScroll(TDataSet* /*DataSet*/) { UpdateCommandLine(); }

std::string TTersifyMain::CurrentValue(TDataSet& query) {
  if (!query.Active() || query.IsEmpty() || query.FieldCount() == 0) return std::string();
  return query.Fields(0)->AsString();
}

void TTersifyMain::UpdateCommandLine() {
  if (!qTables_->Active() || !qFields_->Active() || !qKeys_->Active()) return;
  const TvrDatabase* database = DefaultDatabase;
  const std::string none;
  std::string text =
      Format("/IP=%s /U=%s /P=%s /DB=%s /TABLE=%s /FIELD=%s /KEY=%s",
             (database ? database->Server() : none).c_str(),
             (database ? database->Username() : none).c_str(),
             // The password stays off the screen; pasted, the line needs it put back.
             (database && !database->Password().empty() ? "***" : ""),
             (database ? database->DatabaseName() : none).c_str(), CurrentValue(*qTables_).c_str(),
             CurrentValue(*qFields_).c_str(), CurrentValue(*qKeys_).c_str());
  // The pass's options that are set in the window, as the console takes them.
  if (seBatch_->value() != seBatch_->minimum()) text += Format(" /BATCH=%d", seBatch_->value());
  if (seThreads_->value() != seThreads_->minimum()) text += Format(" /THREADS=%d", seThreads_->value());
  if (seTimeout_->value() != seTimeout_->minimum()) text += Format(" /TIMEOUT=%d", seTimeout_->value());
  if (seMinutes_->value() != seMinutes_->minimum()) text += Format(" /MINUTES=%d", seMinutes_->value());
  ebCmdline_->setText(ToQString(text));
}

void TTersifyMain::SetProgressText(const std::string& text) {
  progress_text_ = text;
  lbProgress_->setText(ToDisplayText(text));
}

}  // namespace tersify::gui
