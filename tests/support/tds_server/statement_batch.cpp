#include "tests/support/tds_server/statement_batch.h"

#include <algorithm>
#include <cstddef>
#include <memory>

#include "client/providers/sqlite/tsql_rewrites.h"
#include "tests/support/tds_server/result_streaming.h"
#include "tests/support/tds_server/sql_parameters.h"

namespace tersify::testing::tds {

std::vector<std::string> SplitStatements(const std::string& sql) {
  std::vector<std::string> statements;
  for (size_t pos = providers::SkipFiller(sql, 0); pos < sql.size();) {
    const size_t end = providers::StatementEnd(sql, pos);
    statements.push_back(sql.substr(pos, end - pos));
    pos = providers::SkipFiller(sql, end);
  }
  return statements;
}

int NocountSetting(const std::string& statement) {
  const std::string normal = providers::NormaliseStatement(statement);
  if (normal == "set nocount on") return 1;
  if (normal == "set nocount off") return 0;
  return -1;
}

LastDone AnswerStatements(providers::Provider& provider, TokenWriter& out, const std::string& sql,
                          const std::vector<Variant>& values, bool in_procedure, bool& nocount) {
  const std::vector<std::string> statements = SplitStatements(sql);
  // The setting each statement's DONE is written under: its own, once it ran.
  auto after = [&](size_t index) {
    if (index < statements.size()) {
      const int setting = NocountSetting(statements[index]);
      if (setting >= 0) nocount = setting == 1;
    }
  };
  auto status_of = [&](const StreamedResult& result) -> uint16_t {
    return nocount ? uint16_t{kDoneFinal} : CountStatus(result);
  };
  LastDone last;
  if (statements.size() <= 1) {
    std::unique_ptr<providers::Cursor> cursor = provider.Execute(sql, values);
    const StreamedResult result = StreamCursor(*cursor, out);
    cursor.reset();
    after(0);
    last = {status_of(result), CountRows(result)};
  } else {
    std::unique_ptr<providers::Cursor> cursor = provider.ExecuteEach(sql, values);
    for (size_t index = 0;; ++index) {
      const StreamedResult result = StreamCursor(*cursor, out);
      after(index);
      const LastDone done{status_of(result), CountRows(result)};
      if (in_procedure) out.DoneInProc(kDoneMore | done.status, done.rows);
      bool more;
      try {
        more = cursor->NextResult();
      } catch (...) {
        // A statement after this one failed: this DONE is not the last.
        if (!in_procedure) out.Done(kDoneMore | done.status, done.rows);
        throw;
      }
      if (!more) {
        last = done;
        break;
      }
      if (!in_procedure) out.Done(kDoneMore | done.status, done.rows);
    }
    return in_procedure ? LastDone{} : last;
  }
  if (in_procedure) {
    out.DoneInProc(kDoneMore | last.status, last.rows);
    return LastDone{};
  }
  return last;
}

void AnswerLeadingStatements(providers::Provider& provider, TokenWriter& out,
                             const std::vector<std::string>& statements, const std::vector<Variant>& values,
                             size_t count, bool in_procedure, bool& nocount) {
  if (count == 0) return;
  std::string text;
  size_t marks = 0;
  for (size_t i = 0; i < count && i < statements.size(); ++i) {
    text += statements[i] + ";\n";
    marks += CountMarks(statements[i]);
  }
  const std::vector<Variant> leading(values.begin(),
                                     values.begin() + static_cast<std::ptrdiff_t>(std::min(marks, values.size())));
  const LastDone last = AnswerStatements(provider, out, text, leading, in_procedure, nocount);
  if (!in_procedure) out.Done(kDoneMore | last.status, last.rows);
}

}  // namespace tersify::testing::tds
