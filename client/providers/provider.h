#pragma once
// The one small interface through which the client library reaches a database.
// A provider runs statements with positional '?' parameters and hands back a
// forward-only cursor; it knows transactions, the server's version text, the
// primary key of a table and the parameters of a stored procedure.
//
// Every error is raised as EMSError carrying the provider's own message.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/errors.h"
#include "framework/data/field_type.h"
#include "framework/rtl/variant.h"

namespace tersify::providers {

struct ConnectionSettings {
  std::string server;    // "sqlite" selects the embedded provider; else host, host,port, host\instance
  std::string database;  // for sqlite: the path of an existing database file
  std::string username;
  std::string password;
  int port = 0;          // when not 0 it wins over a port given in server
  bool windows_authentication = false;
  bool multiple_active_result_sets = false;
  int login_timeout_seconds = 15;
  // How long one statement may take before it fails; 0 waits forever. The
  // provider can change it while open (SetCommandTimeout).
  int command_timeout_seconds = 0;
  std::vector<std::string> specific_options;  // name=value lines, provider specific
  // SET statements for the session, run once it is open: across a network in
  // the same request as the provider's own settings.
  std::string session_settings;
};

struct ColumnInfo {
  std::string name;
  std::string declared_type;  // as the database names it, lower case: "varbinary(max)", "int"
  TFieldType type = ftUnknown;
  int32_t size = 0;           // characters of a string column, 0 otherwise
  bool nullable = true;
};

// Field type and size of a column from its declared type; the same for every provider:
// blob, image, varbinary(max), binary/varbinary(n) -> ftBlob; text, ntext, varchar(max),
// nvarchar(max), clob -> ftMemo/ftWideMemo; varchar(n), char(n), nvarchar(n) -> ftString/
// ftWideString; int -> ftInteger; bigint -> ftLargeint; smallint, tinyint -> ftSmallint;
// bit -> ftBoolean; float, real, double -> ftFloat; money -> ftCurrency;
// decimal, numeric -> ftFMTBcd; date -> ftDate; time -> ftTime; datetime and friends -> ftDateTime.
ColumnInfo DescribeColumn(const std::string& name, const std::string& declared_type);

class Cursor {
 public:
  virtual ~Cursor() = default;
  // Empty for a statement that returns no rows.
  virtual const std::vector<ColumnInfo>& Columns() const = 0;
  // Moves to the next row; false at the end (and at once for a statement without rows).
  virtual bool Next() = 0;
  // A value of the current row. Blob columns come as TBytes, text as strings,
  // never truncated, however long.
  virtual Variant Value(int column) = 0;
  // The same value handed over rather than copied, for a reader that takes
  // each column of a row once (a long blob then exists once, not twice).
  // Afterwards Value and TakeValue of that column of this row read null.
  virtual Variant TakeValue(int column) { return Value(column); }
  // The value of a key column in a form that, sent back as a parameter,
  // compares equal to the stored value in the column's own type, where the
  // variant cannot hold that value exactly (a datetime's 1/300 s ticks, a
  // datetime2's 100 ns, a decimal above 2^53). Read instead of Value, before
  // any later column of the row.
  virtual Variant KeyValue(int column) { return Value(column); }
  // Ends the cursor before its last row, for a reader that has all it wants:
  // afterwards Next is false and the driver holds nothing of the results.
  // Merely destroying a cursor ends it too, but a driver may then keep the
  // last row it read (a whole long value) until the connection's next
  // statement has been answered.
  virtual void Close() {
    while (Next()) {
    }
  }

 protected:
  // Moves a held value out, leaving null behind.
  static Variant MoveOut(Variant& held) {
    Variant out = std::move(held);
    held = Variant::Null();
    return out;
  }

 public:
  // Rows written by a statement that returns no rows; -1 when unknown.
  virtual int64_t RowsAffected() const = 0;

  // For a text run by ExecuteEach: moves on to the next result, which
  // Columns, Next and RowsAffected then tell of; false when none is left.
  // Raises the error of the statement that failed before giving that result
  // (the results before it have been read by then). Other cursors have one
  // result only.
  virtual bool NextResult() { return false; }
};

enum class ParamDirection { Input, Output, InputOutput, Result };

struct ProcParamInfo {
  std::string name;  // without a leading '@'
  TFieldType type = ftUnknown;
  ParamDirection direction = ParamDirection::Input;
};

class Provider {
 public:
  virtual ~Provider() = default;

  virtual std::string Name() const = 0;  // "sqlite", "odbc"

  virtual void Open(const ConnectionSettings& settings) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // The time limit of the statements run from now on, in seconds; 0 waits
  // forever. odbc: the query timeout of every statement (a statement past it
  // fails with "the server did not answer within N s"); sqlite: how long a
  // statement waits for a file another process has locked (then "the database
  // file is locked by another process ...").
  virtual void SetCommandTimeout(int seconds) = 0;
  virtual int CommandTimeout() const = 0;

  // Runs one statement; parameters fill the '?' marks in order. The cursor
  // must be read to its end or destroyed before the next statement runs.
  virtual std::unique_ptr<Cursor> Execute(const std::string& sql,
                                          const std::vector<Variant>& params) = 0;
  // Runs a text of several statements as one request and hands back their
  // results one by one, in order (Cursor::NextResult), the cursor at the
  // first. Every result with columns is handed back; a statement without
  // rows may give a result of its own with its row count, or none (ODBC
  // drivers skip those without a count, as under SET NOCOUNT ON). An error
  // raised by the first statement is raised here.
  virtual std::unique_ptr<Cursor> ExecuteEach(const std::string& sql,
                                              const std::vector<Variant>& params) = 0;

  virtual void StartTransaction() = 0;
  virtual void Commit() = 0;
  // Commits and stays in a transaction: the next one is open at once. A
  // driver that can asks for both in one request. A commit that fails leaves
  // the provider as Commit does; a start that fails after the commit raises
  // ECommittedThenLost, for the rows are written.
  virtual void CommitAndStartNext() {
    Commit();
    try {
      StartTransaction();
    } catch (const EMSError& e) {
      throw ECommittedThenLost(e);
    }
  }
  virtual void Rollback() = 0;
  // Ends a transaction in which nothing was written, where the driver can in
  // one request: committed or rolled back, it leaves nothing behind.
  virtual void EndUnusedTransaction() { Rollback(); }
  virtual bool InTransaction() const = 0;

  // Dot-separated, major version first ("16.00.1000" for SQL Server 2022).
  virtual std::string ServerVersion() = 0;
  // The primary-key columns of a table, in key order; empty when it has none.
  virtual std::vector<std::string> PrimaryKey(const std::string& table) = 0;
  // The parameters of a stored procedure, in order (the return value excluded).
  virtual std::vector<ProcParamInfo> ProcedureParams(const std::string& procedure) = 0;
  // Calls a stored procedure with its parameters in order. Output values are
  // written back into params.
  virtual std::unique_ptr<Cursor> ExecuteProcedure(const std::string& procedure,
                                                   std::vector<Variant>& params) = 0;
};

// The provider for these settings: sqlite when the server is "sqlite" in any
// letter case, odbc otherwise. Not yet open.
std::unique_ptr<Provider> CreateProvider(const ConnectionSettings& settings);

// The libraries behind the providers of this build, one "name version" each
// ("SQLite 3.40.1", "ODBC driver manager 2.3 (ODBC 3.52)"); a library that
// cannot say is named with the reason.
std::vector<std::string> ProviderLibraryVersions();

}  // namespace tersify::providers
