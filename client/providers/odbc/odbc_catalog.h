#pragma once
// Catalogue questions through ODBC's catalogue functions: the primary key of a
// table (SQLPrimaryKeys) and the parameters of a procedure (SQLProcedureColumns).

#include <string>
#include <vector>

#include "client/providers/odbc/odbc_connection.h"
#include "client/providers/odbc/odbc_parameters.h"

namespace tersify::providers::odbc {

// The parts of a possibly qualified, possibly quoted object name, last part
// last: "dbo.t" -> {"dbo","t"}; "[my.db].[dbo].[t]]x]" -> {"my.db","dbo","t]x"};
// "\"t\"" -> {"t"}. Raises EMSError for an empty name or more than three parts.
std::vector<std::string> SplitObjectName(const std::string& name);

std::vector<std::string> PrimaryKeyColumns(OdbcConnection& connection, const std::string& table);

std::vector<ProcParamDetail> ProcedureParamDetails(OdbcConnection& connection,
                                                   const std::string& procedure);

}  // namespace tersify::providers::odbc
