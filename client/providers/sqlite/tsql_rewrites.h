#pragma once
// The fixed T-SQL statements of the database access layer, and how the sqlite
// provider understands them. Each statement of a text is looked up here first;
// one that matches nothing goes to SQLite unchanged.
//
// The rewrite table (matched on the whole statement, ignoring letter case, with
// every run of blanks, tabs and line breaks read as one blank):
//
//   select @@SPID                   -> select tersify_spid()        the connection's id
//   select @@TRANCOUNT              -> select tersify_trancount()   1 inside a transaction, else 0
//   select @@ROWCOUNT               -> select changes()   the rows the last insert, update or
//                                      delete wrote (not those of its triggers)
//   if object_id('dbo.fQZ_UserGetCurrentUserID') is not null SELECT
//      dbo.fQZ_UserGetCurrentUserID() else SELECT 0
//                                   -> select fQZ_UserGetCurrentUserID()  when that scalar
//                                      function is registered, else select 0
//   select convert(tinyint, parsename(cast(serverproperty('ProductVersion') as varchar(30)), 4))
//                                   -> select cast(parsename(sqlite_version(), 4) as integer)
//   select acFieldName, acProcName from fQZ_GetPksFieldsAndProc('<table>')
//                                   -> select acFieldName, acProcName from fQZ_GetPksFieldsAndProc
//                                      where acTableName = '<table>'
//                                      SQLite has no table-valued functions of its own: a table
//                                      fQZ_GetPksFieldsAndProc(acTableName, acFieldName, acProcName)
//                                      stands in for the key-discovery function. The argument must
//                                      be one quoted literal ('' for a quote); it is kept as written.
//
// Two statement forms besides:
//   SET <option> ...                ignored, for the options SQL Server clients send
//                                   (TEXTSIZE, LOCK_TIMEOUT, TRANSACTION ISOLATION LEVEL,
//                                   NOCOUNT, ANSI_NULLS, ...); any other SET goes to SQLite
//                                   and fails there.
//   exec[ute] name arg, arg, ...    calls the registered procedure `name` ([dbo.] and
//                                   [brackets] allowed) with literal arguments: integers,
//                                   decimals, 'quoted strings' ('' for a quote, N'..'
//                                   too), NULL, or '?' for the next parameter; an argument
//                                   may be named, "@p = 1".
//
// Two rewrites inside any other statement, so that statements written for SQL
// Server run unchanged:
//   CAST(x AS varbinary(max))       -> cast(x as blob)   the bytes of text and
//                                                  blobs alike, as on SQL Server
//   select top (n) ... / top n ...  -> select ... limit n   for an integer literal n
//   (select top (n) ...)            -> (select ... limit n)   the same for a derived
//                                      table or subquery, nested ones too (outside
//                                      quotes, brackets and comments)
//
// The SQL functions these rely on (tersify_spid, tersify_trancount, parsename) and
// Object_ID and GetDate are installed on every connection (sqlite_functions.h).

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/rtl/variant.h"

namespace tersify::providers {

// One argument of an "exec" statement.
struct ProcArgument {
  std::string name;           // "@p = 1" gives "p"; empty for a positional argument
  bool is_parameter = false;  // '?': the next of the statement's parameters
  Variant value;              // the literal otherwise
};

struct TsqlRewrite {
  enum class Kind { Unchanged, Replaced, Ignored, Procedure };
  Kind kind = Kind::Unchanged;
  std::string sql;                     // Replaced: the SQLite text to run instead
  std::string procedure;               // Procedure: its name without schema or brackets
  std::vector<ProcArgument> arguments;  // Procedure: in the order written
};

// Looks one statement (no trailing ';') up in the rewrite table. has_function
// tells whether a registered scalar function of that name exists. Raises
// EMSError for an "exec" statement whose arguments cannot be read.
TsqlRewrite RewriteTsql(std::string_view statement,
                        const std::function<bool(const std::string&)>& has_function);

// Rewrites every CAST(x AS varbinary(max)) in text (outside quotes) to cast(x as blob);
// true when one was found.
bool RewriteVarbinaryCasts(std::string& text);
// "select top (n) rest" or "select top n rest" (n an integer literal) to
// "select rest limit n", for the statement and for every parenthesised
// "(select top (n) rest)" in it; true when one was found.
bool RewriteSelectTop(std::string& text);

// Lower case, blank runs made one blank, trimmed.
std::string NormaliseStatement(std::string_view statement);

// Where the statement starting at `from` ends: the index of its ';' (outside
// quotes, brackets and comments) or text.size().
size_t StatementEnd(std::string_view text, size_t from);

// Past a quoted string, a quoted or bracketed name (a doubled closing
// character stays inside) or a comment ("-- ..." with its line end, or
// "/* ... */") starting at `at`; `at` itself when none starts there.
size_t SkipQuotedOrComment(std::string_view text, size_t at);

// The first index at or after `from` that is not a blank, a comment or a ';'
// (text.size() when only those remain).
size_t SkipFiller(std::string_view text, size_t from);

// "dbo.[name]" -> "name": the last dot-separated part without brackets or quotes.
std::string UnqualifiedName(std::string_view name);

}  // namespace tersify::providers
