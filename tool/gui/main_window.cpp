#include "tool/gui/main_window.h"

#include <QFont>
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
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
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

// A label on a panel: its caption, left-aligned.
QLabel* PanelCaption(const char* caption, int width, QWidget* panel) {
  auto* label = new QLabel(QString::fromLatin1(caption), panel);
  label->setGeometry(3, 0, width, panel->height());
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

QFrame* MakePanel(const char* name, QWidget* parent) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  return panel;
}

}  // namespace

TTersifyMain::TTersifyMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("TersifyMain"));
  setWindowTitle(QStringLiteral("TersifyMain"));
  // Tahoma 8 point; where it is missing a narrow face keeps the captions
  // inside the room the layout gives them.
  QFont font(QStringLiteral("Tahoma"), 8);
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"),
                    QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial")});
  setFont(font);
  CreateComponents();
  CreateWidgets();
  resize(726, 606);
  move(271, 196);
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
  panel->setFixedHeight(24);
  PanelCaption(caption, 45, panel);
  edit = new QLineEdit(panel);
  edit->setObjectName(QString::fromLatin1(edit_name));
  edit->setGeometry(48, 2, 145, 20);
  return panel;
}

QTableView* TTersifyMain::MakeGrid(const char* name, TDataSource& source, QWidget* parent) {
  auto* grid = new QTableView(parent);
  grid->setObjectName(QString::fromLatin1(name));
  auto* model = new TDatasetModel(source, grid);
  grid->setModel(model);
  grid->verticalHeader()->hide();  // no indicator column
  grid->horizontalHeader()->show();
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 4);
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
  auto* client = new QVBoxLayout(central);
  client->setContentsMargins(0, 0, 0, 0);
  client->setSpacing(0);

  auto* top = new QWidget(central);
  auto* columns = new QHBoxLayout(top);
  columns->setContentsMargins(0, 0, 0, 0);
  columns->setSpacing(0);

  // Left column: the table search and list.
  QFrame* panel2 = MakePanel("Panel2", top);
  panel2->setFixedWidth(271);
  auto* left = new QVBoxLayout(panel2);
  left->setContentsMargins(0, 0, 0, 0);
  left->setSpacing(0);
  QFrame* panel3 = MakeSearchPanel("Panel3", "Tables", ebTables_, "ebTables", panel2);
  grTables_ = MakeGrid("grTables", *DataSource1_, panel2);
  // The tables estimated so far, sortable by each figure.
  estimates_ = new TTableEstimates(this);
  grEstimates_ = new QTableView(panel2);
  grEstimates_->setObjectName(QStringLiteral("grEstimates"));
  grEstimates_->setModel(estimates_);
  grEstimates_->verticalHeader()->hide();
  grEstimates_->verticalHeader()->setDefaultSectionSize(grEstimates_->fontMetrics().height() + 4);
  // The figures get a narrow column each, the names the rest.
  grEstimates_->horizontalHeader()->setSectionResizeMode(TTableEstimates::kTable, QHeaderView::Stretch);
  for (auto [column, width] : {std::pair{TTableEstimates::kStoredMB, 56},
                               std::pair{TTableEstimates::kCompressedShare, 46},
                               std::pair{TTableEstimates::kSavingMB, 62}}) {
    grEstimates_->horizontalHeader()->setSectionResizeMode(column, QHeaderView::Fixed);
    grEstimates_->setColumnWidth(column, width);
  }
  grEstimates_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grEstimates_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grEstimates_->setSortingEnabled(true);
  grEstimates_->sortByColumn(TTableEstimates::kSavingMB, Qt::DescendingOrder);
  grEstimates_->setFixedHeight(130);
  left->addWidget(panel3);
  left->addWidget(grTables_, 1);
  left->addWidget(grEstimates_);

  // Middle column: blob fields above, key candidates at the bottom.
  QFrame* panel1 = MakePanel("Panel1", top);
  panel1->setFixedWidth(273);
  auto* middle = new QVBoxLayout(panel1);
  middle->setContentsMargins(0, 0, 0, 0);
  middle->setSpacing(0);
  QFrame* panel5 = MakeSearchPanel("Panel5", "Fields", ebFields_, "ebFields", panel1);
  DBGrid2_ = MakeGrid("DBGrid2", *DataSource2_, panel1);
  QFrame* panel4 = MakeSearchPanel("Panel4", "Key Field", ebKeys_, "ebKeys", panel1);
  DBGrid1_ = MakeGrid("DBGrid1", *DataSource3_, panel1);
  DBGrid1_->setFixedHeight(249);
  middle->addWidget(panel5);
  middle->addWidget(DBGrid2_, 1);
  middle->addWidget(panel4);
  middle->addWidget(DBGrid1_);

  columns->addWidget(panel2);
  columns->addWidget(panel1);
  columns->addStretch(1);
  client->addWidget(top, 1);

  // Bottom bar: the command line.
  QFrame* panel6 = MakePanel("Panel6", central);
  panel6->setFixedHeight(28);
  PanelCaption("Command line params", 111, panel6);
  ebCmdline_ = new QLineEdit(panel6);
  ebCmdline_->setObjectName(QStringLiteral("ebCmdline"));
  ebCmdline_->setGeometry(114, 3, 599, 21);
  client->addWidget(panel6);

  // Right area: the two buttons and the progress label, at fixed places.
  bCompress_ = new QPushButton(QStringLiteral("Compress"), central);
  bCompress_->setObjectName(QStringLiteral("bCompress"));
  bCompress_->setGeometry(576, 8, 113, 25);
  bDecompress_ = new QPushButton(QStringLiteral("Decompress"), central);
  bDecompress_->setObjectName(QStringLiteral("bDecompress"));
  bDecompress_->setGeometry(576, 39, 113, 25);
  lbProgress_ = new QLabel(central);
  lbProgress_->setObjectName(QStringLiteral("lbProgress"));
  lbProgress_->setGeometry(550, 80, 168, 81);
  lbProgress_->setFixedSize(168, 81);
  lbProgress_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lbProgress_->setWordWrap(true);
  for (QWidget* w : {static_cast<QWidget*>(bCompress_), static_cast<QWidget*>(bDecompress_),
                     static_cast<QWidget*>(lbProgress_)})
    w->raise();
  CreateJobWidgets(central);

  setCentralWidget(central);

  // Tab order: the buttons, the middle column, the left column, the bottom bar,
  // then the job's controls below the progress count and the estimates.
  QWidget* order[] = {bCompress_, bDecompress_, ebFields_,  DBGrid2_,   ebKeys_,    DBGrid1_,
                      ebTables_,  grTables_,    ebCmdline_, bCancel_,   seBatch_,   seThreads_,
                      seTimeout_, bVerify_,     bEstimate_, grDamaged_, grEstimates_};
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
  connect(bVerify_, &QPushButton::clicked, this, [this] { Guarded([this] { bVerifyClick(); }); });
  connect(bEstimate_, &QPushButton::clicked, this, [this] { Guarded([this] { bEstimateClick(); }); });
  for (QSpinBox* box : {seBatch_, seThreads_, seTimeout_})
    connect(box, &QSpinBox::valueChanged, this, [this] { Guarded([this] { UpdateCommandLine(); }); });
}

void TTersifyMain::CreateJobWidgets(QWidget* central) {
  // Below the progress count: the job's progress, Cancel, the pass's options,
  // Verify and Estimate and their results.
  pbJob_ = new QProgressBar(central);
  pbJob_->setObjectName(QStringLiteral("pbJob"));
  pbJob_->setGeometry(550, 166, 168, 18);
  pbJob_->setRange(0, 1);
  pbJob_->setValue(0);
  pbJob_->setFormat(QStringLiteral("%v of %m"));
  lbRate_ = new QLabel(central);
  lbRate_->setObjectName(QStringLiteral("lbRate"));
  lbRate_->setGeometry(550, 186, 168, 44);
  lbRate_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lbRate_->setWordWrap(true);
  bCancel_ = new QPushButton(QStringLiteral("Cancel"), central);
  bCancel_->setObjectName(QStringLiteral("bCancel"));
  bCancel_->setGeometry(576, 232, 113, 25);
  bCancel_->setEnabled(false);

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
  };
  int top = 264;
  for (const OptionBox& option : boxes) {
    auto* caption = new QLabel(QString::fromLatin1(option.caption), central);
    caption->setGeometry(550, top, 80, 21);
    option.box = new QSpinBox(central);
    option.box->setObjectName(QString::fromLatin1(option.name));
    option.box->setGeometry(632, top, 86, 21);
    option.box->setRange(option.lowest, option.highest);
    option.box->setSpecialValueText(QStringLiteral("default"));
    option.box->setValue(option.lowest);
    option.box->setToolTip(QString::fromLatin1(option.tip));
    caption->setBuddy(option.box);
    top += 24;
  }

  bVerify_ = new QPushButton(QStringLiteral("Verify"), central);
  bVerify_->setObjectName(QStringLiteral("bVerify"));
  bVerify_->setGeometry(576, 340, 113, 25);
  bEstimate_ = new QPushButton(QStringLiteral("Estimate"), central);
  bEstimate_->setObjectName(QStringLiteral("bEstimate"));
  bEstimate_->setGeometry(576, 371, 113, 25);
  lbResult_ = new QLabel(central);
  lbResult_->setObjectName(QStringLiteral("lbResult"));
  lbResult_->setGeometry(550, 400, 168, 70);
  lbResult_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lbResult_->setWordWrap(true);
  lbResult_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  grDamaged_ = new QTableWidget(0, 2, central);
  grDamaged_->setObjectName(QStringLiteral("grDamaged"));
  grDamaged_->setGeometry(550, 472, 168, 102);
  grDamaged_->setHorizontalHeaderLabels({QStringLiteral("Damaged key"), QStringLiteral("Reason")});
  grDamaged_->verticalHeader()->hide();
  grDamaged_->verticalHeader()->setDefaultSectionSize(grDamaged_->fontMetrics().height() + 4);
  grDamaged_->horizontalHeader()->setStretchLastSection(true);
  grDamaged_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grDamaged_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grDamaged_->setWordWrap(false);

  job_ = new TBackgroundJob(this);
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
             (database ? database->Password() : none).c_str(),
             (database ? database->DatabaseName() : none).c_str(), CurrentValue(*qTables_).c_str(),
             CurrentValue(*qFields_).c_str(), CurrentValue(*qKeys_).c_str());
  // The pass's options that are set in the window, as the console takes them.
  if (seBatch_->value() != seBatch_->minimum()) text += Format(" /BATCH=%d", seBatch_->value());
  if (seThreads_->value() != seThreads_->minimum()) text += Format(" /THREADS=%d", seThreads_->value());
  if (seTimeout_->value() != seTimeout_->minimum()) text += Format(" /TIMEOUT=%d", seTimeout_->value());
  ebCmdline_->setText(ToQString(text));
}

void TTersifyMain::SetProgressText(const std::string& text) {
  progress_text_ = text;
  lbProgress_->setText(ToDisplayText(text));
}

}  // namespace tersify::gui
