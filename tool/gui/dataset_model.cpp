#include "tool/gui/dataset_model.h"

#include "framework/data/data_source.h"
#include "framework/data/dataset.h"
#include "framework/data/field.h"
#include "tool/gui/qt_text.h"

namespace tersify::gui {

TDatasetModel::TDatasetModel(TDataSource& source, QObject* parent)
    : QAbstractTableModel(parent), source_(source) {
  source_.OnDataChange = TDataChangeEvent::Bind<&TDatasetModel::DataChange>(this);
  Reload();
}

TDatasetModel::~TDatasetModel() {
  if (source_.OnDataChange.Data() == this) source_.OnDataChange.Clear();
}

int TDatasetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TDatasetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant TDatasetModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  const auto row = static_cast<size_t>(index.row());
  if (row >= rows_.size() || index.column() >= rows_[row].size()) return {};
  return rows_[row][index.column()];
}

QVariant TDatasetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal) {
    if (section < 0 || section >= headers_.size()) return {};
    // A title given to the first column replaces the field's label, which
    // stays at hand as the header's tip.
    const bool titled = section == 0 && !title_.isEmpty();
    if (role == Qt::DisplayRole) return titled ? title_ : headers_[section];
    if (role == Qt::ToolTipRole && titled) return headers_[section];
    return {};
  }
  if (role != Qt::DisplayRole) return {};
  return section + 1;
}

void TDatasetModel::SetTitle(const QString& title) {
  title_ = title;
  if (!headers_.isEmpty()) emit headerDataChanged(Qt::Horizontal, 0, 0);
}

Qt::ItemFlags TDatasetModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;  // never editable
}

int TDatasetModel::CurrentRow() const {
  const TDataSet* dataset = source_.DataSet();
  if (!dataset || !dataset->Active() || dataset->IsEmpty()) return -1;
  return dataset->RecNo() - 1;
}

void TDatasetModel::MoveTo(int row) {
  TDataSet* dataset = source_.DataSet();
  if (!dataset || !dataset->Active()) return;
  dataset->SetRecNo(row + 1);
}

QString TDatasetModel::CellText(int row, const TField* field) const {
  if (dynamic_cast<const TBlobField*>(field)) {
    const TFieldType type = field->DataType();
    return type == ftMemo || type == ftFmtMemo || type == ftWideMemo ? QStringLiteral("(MEMO)")
                                                                     : QStringLiteral("(BLOB)");
  }
  const Variant value = source_.DataSet()->RecordValue(row, field);
  return value.IsNull() ? QString() : ToQString(value.AsString());
}

void TDatasetModel::Reload() {
  QStringList headers;
  std::vector<QStringList> rows;
  const TDataSet* dataset = source_.DataSet();
  if (dataset && dataset->Active()) {
    const std::vector<TField*> fields = dataset->FieldList();
    for (const TField* field : fields) headers << ToQString(field->DisplayLabel());
    const int count = dataset->RecordCount();
    rows.reserve(static_cast<size_t>(count));
    for (int row = 0; row < count; ++row) {
      QStringList cells;
      for (const TField* field : fields) cells << CellText(row, field);
      rows.push_back(std::move(cells));
    }
  }
  if (headers != headers_ || rows.size() != rows_.size()) {
    beginResetModel();
    headers_ = std::move(headers);
    rows_ = std::move(rows);
    endResetModel();
    return;
  }
  for (size_t row = 0; row < rows.size(); ++row) {
    if (rows[row] == rows_[row]) continue;
    rows_[row] = std::move(rows[row]);
    const int r = static_cast<int>(row);
    emit dataChanged(index(r, 0), index(r, static_cast<int>(headers_.size()) - 1));
  }
}

void TDatasetModel::DataChange(TObject* /*sender*/, TField* /*field*/) {
  Reload();
  emit currentRowChanged(CurrentRow());
}

}  // namespace tersify::gui
