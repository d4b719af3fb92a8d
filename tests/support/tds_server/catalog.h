#pragma once
// The catalogue procedures FreeTDS calls for SQLPrimaryKeys (sp_pkeys),
// SQLColumns (sp_columns) and SQLProcedureColumns (sp_sproc_columns),
// answered from what the provider knows, in SQL Server's column layout.

#include <cstdint>
#include <string>

#include "client/providers/provider.h"
#include "tests/support/tds_server/requests.h"
#include "tests/support/tds_server/token_writer.h"

namespace tersify::testing::tds {

// True for the names this file answers.
bool IsCatalogProcedure(const std::string& procedure);

// Writes the result set of a catalogue procedure; returns its row count.
int64_t SendCatalog(providers::Provider& provider, const RpcRequest& request,
                    const std::string& database, TokenWriter& out);

}  // namespace tersify::testing::tds
