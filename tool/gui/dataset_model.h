#pragma once
// The grid model: a read-only Qt table model over the dataset of a TDataSource.
// It shows every row and one column per field (titled by the field's display
// label; blob values read "(BLOB)", memos "(MEMO)"), follows the dataset
// through the source's OnDataChange, and tells its view where the dataset's
// current row is. A view moves the dataset with MoveTo, as a click in a grid does.

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <vector>

namespace tersify {
class TDataSource;
class TField;
class TObject;
}  // namespace tersify

namespace tersify::gui {

class TDatasetModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Takes over source's OnDataChange for its lifetime; source must outlive it.
  explicit TDatasetModel(TDataSource& source, QObject* parent = nullptr);
  ~TDatasetModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Shows title over the first column instead of its field's display label.
  void SetTitle(const QString& title);

  // The dataset's current row (RecNo - 1); -1 when it is closed or has no row.
  int CurrentRow() const;
  // Makes row the dataset's current row (scroll events fire; nothing happens
  // when it already is current or does not exist). Errors propagate.
  void MoveTo(int row);
  // Reads the rows again from the dataset (done on every notification).
  void Reload();

 signals:
  // The dataset's current row after a notification; -1 when there is none.
  void currentRowChanged(int row);

 private:
  void DataChange(TObject* sender, TField* field);
  QString CellText(int row, const TField* field) const;

  TDataSource& source_;
  QStringList headers_;
  QString title_;
  std::vector<QStringList> rows_;
};

}  // namespace tersify::gui
