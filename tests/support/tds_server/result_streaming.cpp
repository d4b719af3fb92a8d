#include "tests/support/tds_server/result_streaming.h"

namespace tersify::testing::tds {
namespace {

// Columns whose type the provider cannot tell take it from the first row,
// which is read before the description goes out.
std::vector<ResultColumn> DescribeColumns(providers::Cursor& cursor, bool& has_row,
                                          bool read_ahead) {
  const std::vector<providers::ColumnInfo>& columns = cursor.Columns();
  bool unknown = false;
  for (const auto& column : columns) unknown |= column.type == ftUnknown;
  has_row = false;
  if (unknown && read_ahead) has_row = cursor.Next();
  std::vector<ResultColumn> result;
  result.reserve(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    Variant sample = has_row && columns[i].type == ftUnknown ? cursor.Value(static_cast<int>(i))
                                                             : Variant();
    result.push_back({columns[i].name, TypeForColumn(columns[i], sample), true});
  }
  return result;
}

}  // namespace

StreamedResult StreamCursor(providers::Cursor& cursor, TokenWriter& out) {
  StreamedResult result;
  if (cursor.Columns().empty()) {
    result.rows = cursor.RowsAffected();
    return result;
  }
  bool has_row;
  std::vector<ResultColumn> columns = DescribeColumns(cursor, has_row, true);
  out.ColMetadata(columns);
  result.has_columns = true;
  result.rows = 0;
  std::vector<Variant> values(columns.size());
  if (!has_row) has_row = cursor.Next();
  while (has_row) {
    for (size_t i = 0; i < columns.size(); ++i) values[i] = cursor.Value(static_cast<int>(i));
    out.Row(columns, values);
    ++result.rows;
    if (out.AttentionSincePacket()) throw StatementStopped(result.rows);
    has_row = cursor.Next();
  }
  return result;
}

void SendColumns(providers::Cursor& cursor, TokenWriter& out) {
  if (cursor.Columns().empty()) return;
  bool has_row;
  out.ColMetadata(DescribeColumns(cursor, has_row, true));
}

uint16_t CountStatus(const StreamedResult& result) {
  return result.rows >= 0 ? kDoneCount : kDoneFinal;
}

uint64_t CountRows(const StreamedResult& result) {
  return result.rows >= 0 ? static_cast<uint64_t>(result.rows) : 0;
}

}  // namespace tersify::testing::tds
