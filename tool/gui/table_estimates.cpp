#include "tool/gui/table_estimates.h"

#include <QList>
#include <QStandardItem>

#include "tool/gui/qt_text.h"

namespace tersify::gui {
namespace {

constexpr double kBytesPerMB = 1024.0 * 1024.0;

QStandardItem* FigureItem(double value, int decimals) {
  auto* item = new QStandardItem(QString::number(value, 'f', decimals));
  item->setData(value, TTableEstimates::kSortRole);
  item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  item->setEditable(false);
  return item;
}

}  // namespace

TTableEstimates::TTableEstimates(QObject* parent) : QStandardItemModel(0, kColumnCount, parent) {
  // The units are in the headers, so that the cells hold bare numbers.
  setHorizontalHeaderLabels({QStringLiteral("Table"), QStringLiteral("Stored MB"),
                             QStringLiteral("Compressed now %"), QStringLiteral("Would save MB")});
  const char* tips[] = {"The table and the field estimated", "The field as stored now, in MB (1 MB = 1,048,576 bytes)",
                        "The share of the stored bytes that is stored compressed already",
                        "What a compress pass would save, in MB"};
  for (int column = 0; column < kColumnCount; ++column)
    setHeaderData(column, Qt::Horizontal, QString::fromLatin1(tips[column]), Qt::ToolTipRole);
  setSortRole(kSortRole);
}

int TTableEstimates::RowOf(const std::string& table) const {
  const QString name = ToQString(table);
  for (int row = 0; row < rowCount(); ++row)
    if (item(row, kTable)->data(kSortRole).toString().compare(name, Qt::CaseInsensitive) == 0) return row;
  return -1;
}

void TTableEstimates::Set(const std::string& table, const std::string& field,
                          const TEstimateResult& result) {
  const double stored = static_cast<double>(result.stored_bytes);
  const double share = result.stored_bytes > 0
                           ? 100.0 * static_cast<double>(result.compressed_bytes) / stored
                           : 0.0;
  const double saving = static_cast<double>(result.stored_bytes - result.bytes_after);

  auto* name = new QStandardItem(ToQString(table + "." + field));
  name->setData(ToQString(table), kSortRole);
  name->setEditable(false);
  QList<QStandardItem*> cells{name, FigureItem(stored / kBytesPerMB, 1), FigureItem(share, 0),
                              FigureItem(saving / kBytesPerMB, 1)};
  const int row = RowOf(table);
  if (row < 0) {
    appendRow(cells);
  } else {
    for (int column = 0; column < kColumnCount; ++column) setItem(row, column, cells[column]);
  }
}

}  // namespace tersify::gui
