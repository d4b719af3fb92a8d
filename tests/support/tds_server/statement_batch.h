#pragma once
// A text of several statements answered as SQL Server answers it: each
// statement's results and its own DONE, in order (DONE for a SQL batch, with
// DONE_MORE on all but the last; DONEINPROC, always with DONE_MORE, inside a
// remote procedure call, whose DONEPROC the caller writes). SET NOCOUNT ON
// leaves the count out of the DONEs that follow. The statements run as one
// text on the provider; the first that fails ends the text (as under SET
// XACT_ABORT ON), its error raised after the results before it were written.

#include <cstdint>
#include <string>
#include <vector>

#include "client/providers/provider.h"
#include "tests/support/tds_server/token_writer.h"

namespace tersify::testing::tds {

// The texts of the statements of sql, each trimmed, without its ';'.
std::vector<std::string> SplitStatements(const std::string& sql);

// Whether statement sets NOCOUNT: 1 for SET NOCOUNT ON, 0 for OFF, -1 for neither.
int NocountSetting(const std::string& statement);

// Runs sql with values and writes every statement's answer but the final
// DONE of a SQL batch: the status and count of the last statement's DONE
// are returned for the caller to write (in_procedure: every statement gets a
// DONEINPROC here, and nothing is left). nocount: the session's setting, kept
// up to date.
struct LastDone {
  uint16_t status = 0;
  uint64_t rows = 0;
};
LastDone AnswerStatements(providers::Provider& provider, TokenWriter& out, const std::string& sql,
                          const std::vector<Variant>& values, bool in_procedure, bool& nocount);

// Runs the first `count` of statements (SplitStatements' pieces of one text
// whose '?' marks take values in order) and writes each one's answer, every
// DONE with DONE_MORE: an error the caller raises ends the reply.
void AnswerLeadingStatements(providers::Provider& provider, TokenWriter& out,
                             const std::vector<std::string>& statements, const std::vector<Variant>& values,
                             size_t count, bool in_procedure, bool& nocount);

}  // namespace tersify::testing::tds
