#pragma once
// The estimates of the tables that have been estimated in this window, one row
// per table: the column's stored size, the share of it stored compressed
// already, and what a compress pass would save. A view sorts it by any column,
// numerically for the figures, so the tables where the space is come first.

#include <QStandardItemModel>
#include <string>

#include "tool/pass/estimate.h"

namespace tersify::gui {

class TTableEstimates : public QStandardItemModel {
  Q_OBJECT

 public:
  enum Column { kTable, kStoredMB, kCompressedShare, kSavingMB, kColumnCount };
  // The role that holds a cell's value for sorting (numbers for the figures).
  static constexpr int kSortRole = Qt::UserRole + 1;

  explicit TTableEstimates(QObject* parent = nullptr);

  // Adds the table's row, or replaces it when the table has one (names
  // compared ignoring case, as the catalogue's lists are searched). The row
  // names the table and the field that was estimated ("table.field").
  void Set(const std::string& table, const std::string& field, const TEstimateResult& result);

  // The row of table; -1 when it has not been estimated.
  int RowOf(const std::string& table) const;
};

}  // namespace tersify::gui
