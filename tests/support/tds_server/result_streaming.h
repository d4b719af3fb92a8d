#pragma once
// A provider's cursor as TDS result tokens: COLMETADATA, then one ROW per row,
// written as they are read so a large result never sits in memory. As SQL
// Server does, the rows stop as soon as the client's attention arrives (it is
// looked for after every packet that left): StatementStopped is raised
// between two rows, and the caller answers the attention.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/providers/provider.h"
#include "tests/support/tds_server/token_writer.h"

namespace tersify::testing::tds {

// The client's attention stopped a result while its rows were being sent.
class StatementStopped : public std::runtime_error {
 public:
  explicit StatementStopped(int64_t rows_sent)
      : std::runtime_error("the attention stopped the result after " + std::to_string(rows_sent) + " rows") {}
};

struct StreamedResult {
  bool has_columns = false;
  // Rows sent for a result set; rows written for a statement without one
  // (-1 when the provider does not know).
  int64_t rows = -1;
};

StreamedResult StreamCursor(providers::Cursor& cursor, TokenWriter& out);

// Only the column descriptions, for a statement prepared but not yet run.
void SendColumns(providers::Cursor& cursor, TokenWriter& out);

// The DONE status bits and row count that report a result.
uint16_t CountStatus(const StreamedResult& result);
uint64_t CountRows(const StreamedResult& result);

}  // namespace tersify::testing::tds
