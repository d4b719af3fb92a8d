// The TDS test server driven by the real client it stands in for: FreeTDS's
// ODBC driver through unixODBC, with raw ODBC calls. Also the server's own
// conversions (parameter names, data types) where a fault would be hard to see
// through the driver.

#include <unistd.h>

#include <cstdio>

#include <sql.h>
#include <sqlext.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "client/providers/sqlite/sqlite_registry.h"
#include "tests/support/provider_matrix.h"
#include "tests/support/tds_server/sql_parameters.h"
#include "tests/support/tds_server/tds_test_server.h"
#include "tests/support/tds_server/type_mapping.h"

namespace tersify::testing {
namespace {

// ---- raw ODBC, owned -------------------------------------------------------

class OdbcHandle {
 public:
  OdbcHandle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle_))) handle_ = SQL_NULL_HANDLE;
  }
  ~OdbcHandle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  }
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;
  SQLHANDLE Get() const { return handle_; }
  SQLSMALLINT Type() const { return type_; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// "STATE: message" of every diagnostic record, one per line.
std::string Diagnostics(const OdbcHandle& handle) {
  std::string all;
  for (SQLSMALLINT record = 1; record <= 20; ++record) {
    SQLCHAR state[6], message[2048];
    SQLINTEGER native;
    SQLSMALLINT length;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(handle.Type(), handle.Get(), record, state, &native,
                                     message, sizeof message, &length)))
      break;
    all += std::string(reinterpret_cast<char*>(state)) + ": " +
           reinterpret_cast<char*>(message) + "\n";
  }
  return all;
}

class Environment {
 public:
  Environment() : env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
    SQLSetEnvAttr(env_.Get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  0);
  }
  SQLHANDLE Get() const { return env_.Get(); }

 private:
  OdbcHandle env_;
};

std::string Escape(const std::string& value) { return "{" + value + "}"; }

std::string ConnectionString(int port, const std::string& database, const std::string& user,
                             const std::string& password) {
  return "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=" + std::to_string(port) +
         ";DATABASE=" + database + ";UID=" + user + ";PWD=" + Escape(password) +
         ";TDS_Version=7.4;ClientCharset=UTF-8;";
}

class Connection {
 public:
  explicit Connection(const Environment& env) : dbc_(SQL_HANDLE_DBC, env.Get()) {}
  SQLRETURN Open(const std::string& connection_string) {
    SQLCHAR out[1024];
    SQLSMALLINT out_length;
    return SQLDriverConnect(dbc_.Get(), nullptr,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection_string.c_str())),
                            SQL_NTS, out, sizeof out, &out_length, SQL_DRIVER_NOPROMPT);
  }
  ~Connection() { SQLDisconnect(dbc_.Get()); }
  const OdbcHandle& Handle() const { return dbc_; }
  SQLHANDLE Get() const { return dbc_.Get(); }

 private:
  OdbcHandle dbc_;
};

class Statement {
 public:
  explicit Statement(const Connection& connection) : stmt_(SQL_HANDLE_STMT, connection.Get()) {}
  SQLHANDLE Get() const { return stmt_.Get(); }
  const OdbcHandle& Handle() const { return stmt_; }
  std::string Errors() const { return Diagnostics(stmt_); }

  SQLRETURN ExecDirect(const std::string& sql) {
    return SQLExecDirect(Get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                         SQL_NTS);
  }
  // A column of the current row as text (or raw bytes), read in pieces; nullopt for NULL.
  std::optional<std::string> Column(SQLUSMALLINT column, SQLSMALLINT c_type = SQL_C_CHAR,
                                    size_t piece = 64 * 1024) {
    std::string value;
    std::vector<char> buffer(piece + 1);
    for (;;) {
      SQLLEN indicator = 0;
      SQLRETURN rc = SQLGetData(Get(), column, c_type, buffer.data(),
                                static_cast<SQLLEN>(buffer.size()), &indicator);
      if (rc == SQL_NO_DATA) break;
      EXPECT_TRUE(SQL_SUCCEEDED(rc)) << Errors();
      if (!SQL_SUCCEEDED(rc)) return std::nullopt;
      if (indicator == SQL_NULL_DATA) return std::nullopt;
      size_t capacity = c_type == SQL_C_CHAR ? buffer.size() - 1 : buffer.size();
      size_t got = indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) > capacity
                       ? capacity
                       : static_cast<size_t>(indicator);
      value.append(buffer.data(), got);
      if (rc == SQL_SUCCESS) break;
    }
    return value;
  }
  SQLLEN RowCount() {
    SQLLEN rows = -2;
    SQLRowCount(Get(), &rows);
    return rows;
  }
  std::string Scalar(const std::string& sql) {
    EXPECT_TRUE(SQL_SUCCEEDED(ExecDirect(sql))) << Errors();
    EXPECT_TRUE(SQL_SUCCEEDED(SQLFetch(Get()))) << Errors();
    std::string value = Column(1).value_or("NULL");
    SQLCloseCursor(Get());
    return value;
  }

 private:
  OdbcHandle stmt_;
};

// ---- fixture: a served database with a request log ---------------------------

const char kDatabase[] = "served";
const char kUser[] = "tester";
const char kPassword[] = "se;cr}et";

class TdsServerTest : public ::testing::Test {
 protected:
  TdsServerTest()
      : file_("sqlite"),
        server_(file_.FilePath(), kDatabase, kUser, kPassword, 0,
                [this](const std::string& line) {
                  std::lock_guard<std::mutex> lock(log_mutex_);
                  log_.push_back(line);
                }) {}

  std::string Connect(Connection& connection, const std::string& database = kDatabase,
                      const std::string& user = kUser, const std::string& password = kPassword) {
    SQLRETURN rc =
        connection.Open(ConnectionString(server_.Port(), database, user, password));
    return SQL_SUCCEEDED(rc) ? std::string() : Diagnostics(connection.Handle());
  }
  bool Logged(const std::string& fragment) {
    std::lock_guard<std::mutex> lock(log_mutex_);
    return std::any_of(log_.begin(), log_.end(), [&](const std::string& line) {
      return line.find(fragment) != std::string::npos;
    });
  }

  TestDatabase file_;
  std::mutex log_mutex_;
  std::vector<std::string> log_;
  TdsTestServer server_;
  Environment env_;
};

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// ---- login -------------------------------------------------------------------

TEST_F(TdsServerTest, LoginAnnouncesSqlServer2022) {
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  char text[64];
  SQLSMALLINT length;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLGetInfo(connection.Get(), SQL_DBMS_VER, text, sizeof text, &length)));
  EXPECT_EQ(std::string(text), "16.00.1000");
  ASSERT_TRUE(SQL_SUCCEEDED(SQLGetInfo(connection.Get(), SQL_DATABASE_NAME, text, sizeof text, &length)));
  EXPECT_EQ(std::string(text), kDatabase);
  Statement statement(connection);
  EXPECT_GE(std::stoi(statement.Scalar("select @@SPID")), 51);
}

struct LoginCase {
  const char* label;
  std::string database, user, password;
  std::string expected;
};

class TdsLoginTest : public TdsServerTest, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(TdsLoginTest, RefusedLoginCarriesServerMessage) {
  const LoginCase& c = GetParam();
  Connection connection(env_);
  std::string errors = Connect(connection, c.database, c.user, c.password);
  EXPECT_NE(errors.find(c.expected), std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Refused, TdsLoginTest,
    ::testing::Values(
        LoginCase{"WrongPassword", kDatabase, kUser, "secret", "Login failed for user 'tester'."},
        LoginCase{"UnknownUser", kDatabase, "nobody", kPassword, "Login failed for user 'nobody'."},
        LoginCase{"UnknownDatabase", "elsewhere", kUser, kPassword,
                  "Cannot open database \"elsewhere\" requested by the login. The login failed."}),
    [](const auto& info) { return std::string(info.param.label); });

// The provider matrix serves "odbc" databases with a password that needs escaping.
TEST(TdsProviderMatrix, OdbcDatabaseAcceptsItsOwnSettings) {
  auto providers = AvailableProviders();
  ASSERT_NE(std::find(providers.begin(), providers.end(), "odbc"), providers.end());
  TestDatabase database("odbc");
  database.ExecDirect("create table t(id int primary key); insert into t values (7)");
  const auto& s = database.Settings();
  EXPECT_EQ(s.server, "127.0.0.1");
  EXPECT_NE(s.password.find(';'), std::string::npos);
  Environment env;
  Connection connection(env);
  ASSERT_TRUE(SQL_SUCCEEDED(
      connection.Open(ConnectionString(s.port, s.database, s.username, s.password))))
      << Diagnostics(connection.Handle());
  Statement statement(connection);
  EXPECT_EQ(statement.Scalar("select id from t"), "7");
}

// ---- result sets ---------------------------------------------------------------

TEST_F(TdsServerTest, BatchReturnsEveryColumnTypeAndNulls) {
  std::string memo(100000, 'x');
  memo += "ü";
  file_.ExecDirect(
      "create table kinds(id int primary key, i int, b bigint, s smallint, f bit, d float, "
      "m money, t datetime, v varchar(40), memo text, data blob);"
      "insert into kinds values (1, -5, 9000000000, -7, 1, 2.5, 12.34, '2024-01-02 03:04:05', "
      "'héllo wörld', '" + memo + "', x'00FF10');"
      "insert into kinds(id) values (2);");
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect(
      "select i, b, s, f, d, m, t, v, memo, data from kinds order by id")))
      << statement.Errors();

  // Each column in its declared type: varchar as varchar, text as text; FreeTDS
  // reports varbinary(max) as its sized kin with size 0.
  const SQLSMALLINT expected_types[] = {SQL_INTEGER,        SQL_BIGINT,  SQL_SMALLINT,
                                        SQL_BIT,            SQL_DOUBLE,  SQL_DECIMAL,
                                        SQL_TYPE_TIMESTAMP, SQL_VARCHAR, SQL_LONGVARCHAR,
                                        SQL_VARBINARY};
  const SQLULEN expected_sizes[] = {10, 19, 5, 1, 53, 19, 23, 40, 2147483647, 0};
  SQLSMALLINT count = 0;
  SQLNumResultCols(statement.Get(), &count);
  ASSERT_EQ(count, 10);
  for (SQLUSMALLINT i = 1; i <= 10; ++i) {
    SQLCHAR name[64];
    SQLSMALLINT name_length, type, digits, nullable;
    SQLULEN size;
    SQLDescribeCol(statement.Get(), i, name, sizeof name, &name_length, &type, &size, &digits,
                   &nullable);
    EXPECT_EQ(type, expected_types[i - 1]) << "column " << name;
    EXPECT_EQ(size, expected_sizes[i - 1]) << "column " << name;
  }

  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(statement.Get())));
  EXPECT_EQ(statement.Column(1), "-5");
  EXPECT_EQ(statement.Column(2), "9000000000");
  EXPECT_EQ(statement.Column(3), "-7");
  EXPECT_EQ(statement.Column(4), "1");
  EXPECT_EQ(statement.Column(5), "2.5");
  EXPECT_EQ(statement.Column(6), "12.3400");
  EXPECT_EQ(statement.Column(7), "2024-01-02 03:04:05.000");
  EXPECT_EQ(statement.Column(8), "héllo wörld");
  EXPECT_EQ(statement.Column(9), memo);
  EXPECT_EQ(statement.Column(10, SQL_C_BINARY), std::string("\x00\xFF\x10", 3));

  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(statement.Get())));
  for (SQLUSMALLINT i = 1; i <= 10; ++i)
    EXPECT_EQ(statement.Column(i, i == 10 ? SQL_C_BINARY : SQL_C_CHAR), std::nullopt) << i;
  EXPECT_EQ(SQLFetch(statement.Get()), SQL_NO_DATA);
}

// SQLite keeps text longer than a column's declared size; the driver would cut
// it to the announced size without a word, so the server refuses to send it.
TEST_F(TdsServerTest, TextLongerThanItsColumnIsAnErrorNotCut) {
  file_.ExecDirect("create table s(id int, v varchar(5));"
                   "insert into s values (1, 'abcde'), (2, 'abcdefghij');");
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  EXPECT_EQ(statement.Scalar("select v from s where id = 1"), "abcde");
  SQLRETURN rc = statement.ExecDirect("select v from s where id = 2");
  if (SQL_SUCCEEDED(rc)) rc = SQLFetch(statement.Get());
  EXPECT_EQ(rc, SQL_ERROR);
  EXPECT_NE(statement.Errors().find("String or binary data would be truncated"), std::string::npos)
      << statement.Errors();
}

TEST_F(TdsServerTest, StatementsWithoutRowsReportRowsWritten) {
  file_.ExecDirect("create table t(id int primary key, name varchar(20));"
                   "insert into t values (1,'a'),(2,'b'),(3,'c');");
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect("update t set name = 'z' where id >= 2")));
  EXPECT_EQ(statement.RowCount(), 2);
  SQLSMALLINT columns = -1;
  SQLNumResultCols(statement.Get(), &columns);
  EXPECT_EQ(columns, 0);
}

TEST_F(TdsServerTest, ProviderErrorReachesDiagnosticsAndConnectionGoesOn) {
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  EXPECT_EQ(statement.ExecDirect("select * from missing_table"), SQL_ERROR);
  // SQL Server's error 208, which FreeTDS reports as SQLSTATE 42S02.
  EXPECT_NE(statement.Errors().find("42S02: [FreeTDS][SQL Server]Invalid object name 'missing_table'."),
            std::string::npos)
      << statement.Errors();
  EXPECT_EQ(statement.Scalar("select 40 + 2"), "42");
}

// A batch of several statements is answered statement by statement, as SQL
// Server answers it: each count in a result of its own, in order; under SET
// NOCOUNT ON the statements without rows give none, and the counts are read
// back with @@ROWCOUNT instead.
TEST_F(TdsServerTest, SeveralStatementsAnswerEachWithItsOwnCount) {
  file_.ExecDirect("create table t(id int primary key, name varchar(20));"
                   "insert into t values (1,'a'),(2,'b'),(3,'c');");
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  {
    Statement statement(connection);
    ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect(
        "update t set name = 'x' where id = 1; update t set name = 'y' where id >= 2; "
        "delete from t where id = 9")));
    std::vector<SQLLEN> counts{statement.RowCount()};
    while (SQL_SUCCEEDED(SQLMoreResults(statement.Get()))) counts.push_back(statement.RowCount());
    EXPECT_EQ(counts, (std::vector<SQLLEN>{1, 2, 0}));
  }
  Statement statement(connection);
  ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect(
      "set nocount on; update t set name = 'p' where id >= 2; select @@ROWCOUNT; "
      "update t set name = 'q' where id = 7; select @@ROWCOUNT")));
  std::vector<std::string> read;
  do {
    SQLSMALLINT columns = 0;
    SQLNumResultCols(statement.Get(), &columns);
    if (columns == 0) {
      EXPECT_EQ(statement.RowCount(), -1) << "a count under NOCOUNT";
      continue;
    }
    while (SQL_SUCCEEDED(SQLFetch(statement.Get()))) read.push_back(statement.Column(1).value_or("NULL"));
  } while (SQL_SUCCEEDED(SQLMoreResults(statement.Get())));
  EXPECT_EQ(read, (std::vector<std::string>{"2", "0"}));
}

// The same answers as another client reads them: FreeTDS's tsql runs the
// writer's pattern (each update followed by its own count) and prints every
// statement's result in order.
TEST_F(TdsServerTest, TsqlReadsEachStatementsResultInOrder) {
  if (access("/usr/bin/tsql", X_OK) != 0) GTEST_SKIP() << "tsql (freetds-bin) is not installed";
  file_.ExecDirect("create table t(id int primary key, name varchar(20));"
                   "insert into t values (1,'a'),(2,'b'),(3,'c');");
  TestDatabase scratch("sqlite");
  const std::string input = scratch.FilePath() + ".sql";
  {
    std::FILE* f = std::fopen(input.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("set nocount on;\nupdate t set name = 'x' where id = 1;\nselect @@ROWCOUNT;\n"
               "update t set name = 'y' where id >= 2;\nselect @@ROWCOUNT;\n"
               "update t set name = 'z' where id = 9;\nselect @@ROWCOUNT;\n"
               "select id, name from t order by id;\ngo\nexit\n",
               f);
    std::fclose(f);
  }
  const std::string command = "TDSVER=7.4 /usr/bin/tsql -H 127.0.0.1 -p " + std::to_string(server_.Port()) +
                              " -U " + kUser + " -P '" + kPassword + "' -D " + kDatabase + " < " + input + " 2>&1";
  std::string output;
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  pclose(pipe);
  std::remove(input.c_str());
  // Each count is a one-column result of its own: a blank heading, the value.
  const size_t first = output.find("\n1\n");
  const size_t second = output.find("\n2\n", first + 1);
  const size_t third = output.find("\n0\n", second + 1);
  const size_t rows = output.find("id\tname\n1\tx\n2\ty\n3\ty\n");
  ASSERT_NE(first, std::string::npos) << output;
  ASSERT_NE(second, std::string::npos) << output;
  ASSERT_NE(third, std::string::npos) << output;
  ASSERT_NE(rows, std::string::npos) << output;
  EXPECT_LT(first, second) << output;
  EXPECT_LT(second, third) << output;
  EXPECT_LT(third, rows) << output;
}

// A batch longer than one packet arrives whole.
TEST_F(TdsServerTest, LongBatchIsReassembled) {
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  std::string sql = "select length('" + std::string(30000, 'x') + "')";
  EXPECT_EQ(statement.Scalar(sql), "30000");
}

// ---- parameters and prepared statements -----------------------------------------

// As from SQL Server, a session that sets no text size gets varbinary(max)
// values cut at 4,096 bytes; SET TEXTSIZE moves the cut, and 0 brings the
// default back. A client that trusts the server to send whole values without
// setting it would pass here only if the server were lenient.
TEST_F(TdsServerTest, LargeValuesAreCutAtTheSessionsTextSize) {
  file_.ExecDirect("create table blobs(id int primary key, data blob)");
  const std::string value = RandomBytes(10000, 3);
  file_.ExecDirect("insert into blobs values (1, " + HexLiteral(value) + ")");
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  auto read = [&]() -> std::string {
    Statement select(connection);
    if (!SQL_SUCCEEDED(select.ExecDirect("select data from blobs where id = 1"))) return "error: " + select.Errors();
    if (!SQL_SUCCEEDED(SQLFetch(select.Get()))) return "no row";
    return select.Column(1, SQL_C_BINARY).value_or("null");
  };
  auto set = [&](const std::string& size) {
    Statement statement(connection);
    const SQLRETURN rc = statement.ExecDirect("SET TEXTSIZE " + size);
    EXPECT_TRUE(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) << statement.Errors();
  };
  EXPECT_EQ(read(), value.substr(0, 4096));
  set("100");
  EXPECT_EQ(read(), value.substr(0, 100));
  set("0");
  EXPECT_EQ(read(), value.substr(0, 4096));
  set("2147483647");
  EXPECT_EQ(read(), value);
}

TEST_F(TdsServerTest, ParametersRoundTripIncludingFiveMegabytes) {
  file_.ExecDirect("create table blobs(id int primary key, name varchar(50), data blob)");
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  const std::string big = RandomBytes(5 * 1024 * 1024, 1);
  const std::string name = "naïve €";

  {
    Statement insert(connection);
    SQLINTEGER id = 1;
    SQLLEN name_length = static_cast<SQLLEN>(name.size());
    SQLLEN big_length = static_cast<SQLLEN>(big.size());
    SQLBindParameter(insert.Get(), 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0,
                     nullptr);
    SQLBindParameter(insert.Get(), 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR, 50, 0,
                     const_cast<char*>(name.data()), name_length, &name_length);
    SQLBindParameter(insert.Get(), 3, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                     big.size(), 0, const_cast<char*>(big.data()), big_length, &big_length);
    ASSERT_TRUE(SQL_SUCCEEDED(insert.ExecDirect("insert into blobs(id, name, data) values (?, ?, ?)")))
        << insert.Errors();
    EXPECT_EQ(insert.RowCount(), 1);
  }
  EXPECT_TRUE(Logged("rpc sp_executesql: insert into blobs(id, name, data) values (@P1, @P2, @P3)"));

  {
    // Whole values, as from SQL Server, only for a session that asks for them.
    Statement textsize(connection);
    const SQLRETURN rc = textsize.ExecDirect("SET TEXTSIZE 2147483647");
    ASSERT_TRUE(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) << textsize.Errors();
  }
  Statement select(connection);
  SQLINTEGER id = 1;
  SQLBindParameter(select.Get(), 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0,
                   nullptr);
  ASSERT_TRUE(SQL_SUCCEEDED(select.ExecDirect("select name, data, length(data) from blobs where id = ?")))
      << select.Errors();
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(select.Get())));
  EXPECT_EQ(select.Column(1), name);
  std::optional<std::string> data = select.Column(2, SQL_C_BINARY);
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(data->size(), big.size());
  EXPECT_TRUE(*data == big);
  EXPECT_EQ(select.Column(3), std::to_string(big.size()));
}

// Narrow text travels in the collation's code page (Windows-1252), not Latin-1.
TEST_F(TdsServerTest, NarrowTextParameterKeepsWindows1252Characters) {
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  const std::string text = "5 € – naïve";
  SQLLEN length = static_cast<SQLLEN>(text.size());
  SQLBindParameter(statement.Get(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0,
                   const_cast<char*>(text.data()), length, &length);
  ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect("select ?"))) << statement.Errors();
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(statement.Get())));
  EXPECT_EQ(statement.Column(1), text);
}

TEST_F(TdsServerTest, NullParametersAreStoredAsNull) {
  file_.ExecDirect("create table t(id int primary key, name varchar(50), data blob)");
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  SQLLEN null_indicator = SQL_NULL_DATA;
  SQLINTEGER id = 3;
  SQLBindParameter(statement.Get(), 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, nullptr);
  SQLBindParameter(statement.Get(), 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR, 50, 0, nullptr, 0,
                   &null_indicator);
  SQLBindParameter(statement.Get(), 3, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY, 0, 0,
                   nullptr, 0, &null_indicator);
  ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect("insert into t values (?, ?, ?)")))
      << statement.Errors();
  SQLFreeStmt(statement.Get(), SQL_RESET_PARAMS);
  EXPECT_EQ(statement.Scalar("select count(*) from t where name is null and data is null"), "1");
}

TEST_F(TdsServerTest, PreparedStatementRunsManyTimes) {
  file_.ExecDirect("create table t(id int primary key, name varchar(20))");
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  {
    Statement insert(connection);
    SQLINTEGER id = 0;
    char name[21] = {};
    SQLLEN name_length = SQL_NTS;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepare(
        insert.Get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>("insert into t values (?, ?)")),
        SQL_NTS)));
    SQLBindParameter(insert.Get(), 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, nullptr);
    SQLBindParameter(insert.Get(), 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR, 20, 0, name,
                     sizeof name, &name_length);
    for (id = 1; id <= 3; ++id) {
      std::snprintf(name, sizeof name, "row %d", static_cast<int>(id));
      ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(insert.Get()))) << insert.Errors();
      EXPECT_EQ(insert.RowCount(), 1);
    }
  }
  EXPECT_TRUE(Logged("rpc sp_prepexec"));
  EXPECT_TRUE(Logged("rpc sp_execute "));
  EXPECT_TRUE(Logged("rpc sp_unprepare"));
  EXPECT_FALSE(Logged("rpc sp_prepare:"));

  // Described before it runs.
  Statement select(connection);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepare(
      select.Get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>("select name, id from t where id = ?")),
      SQL_NTS)));
  SQLINTEGER id = 2;
  SQLBindParameter(select.Get(), 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, nullptr);
  SQLSMALLINT columns = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLNumResultCols(select.Get(), &columns))) << select.Errors();
  EXPECT_EQ(columns, 2);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(select.Get()))) << select.Errors();
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(select.Get())));
  EXPECT_EQ(select.Column(1), "row 2");
  EXPECT_TRUE(Logged("rpc sp_prepare: select name, id from t where id = @P1"));
}

// ---- transactions ------------------------------------------------------------------

TEST_F(TdsServerTest, ManualCommitAndRollback) {
  file_.ExecDirect("create table t(id int primary key)");
  Connection connection(env_), observer(env_);
  ASSERT_EQ(Connect(connection), "");
  ASSERT_EQ(Connect(observer), "");
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttr(connection.Get(), SQL_ATTR_AUTOCOMMIT,
                                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)))
      << Diagnostics(connection.Handle());
  {
    Statement statement(connection);
    ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect("insert into t values (1)"))) << statement.Errors();
    EXPECT_EQ(statement.Scalar("select @@TRANCOUNT"), "1");
  }
  ASSERT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, connection.Get(), SQL_ROLLBACK)));
  {
    Statement statement(connection);
    EXPECT_EQ(statement.Scalar("select count(*) from t"), "0");
    ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect("insert into t values (2)")));
  }
  ASSERT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, connection.Get(), SQL_COMMIT)))
      << Diagnostics(connection.Handle());
  Statement check(observer);
  EXPECT_EQ(check.Scalar("select group_concat(id) from t"), "2");
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttr(connection.Get(), SQL_ATTR_AUTOCOMMIT,
                                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0)));
  EXPECT_TRUE(Logged("tm begin"));
  EXPECT_TRUE(Logged("tm commit and begin"));
}

TEST_F(TdsServerTest, DisconnectRollsBackOpenTransaction) {
  file_.ExecDirect("create table t(id int primary key)");
  {
    Connection connection(env_);
    ASSERT_EQ(Connect(connection), "");
    SQLSetConnectAttr(connection.Get(), SQL_ATTR_AUTOCOMMIT,
                      reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
    Statement statement(connection);
    ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect("insert into t values (1)")));
  }
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  EXPECT_EQ(statement.Scalar("select count(*) from t"), "0");
}

// ---- procedures and catalogue --------------------------------------------------------

TEST_F(TdsServerTest, ProcedureCallReturnsOutputParameterAndRows) {
  using providers::ParamDirection;
  file_.ExecDirect("create table t(id int primary key); insert into t values (5), (6)");
  providers::Registration registration = providers::RegisterProcedure(
      "bump", {{"value", ftInteger, ParamDirection::Input}, {"result", ftInteger, ParamDirection::Output}},
      [](providers::Provider& provider, std::vector<Variant>& args) {
        args[1] = Variant(args[0].AsInteger() + 1);
        return provider.Execute("select id from t where id > ?", {args[0]});
      });
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  SQLINTEGER value = 5, result = 0;
  SQLLEN result_indicator = 0;
  SQLBindParameter(statement.Get(), 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &value, 0, nullptr);
  SQLBindParameter(statement.Get(), 2, SQL_PARAM_OUTPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &result, 0,
                   &result_indicator);
  ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect("{call bump(?, ?)}"))) << statement.Errors();
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(statement.Get())));
  EXPECT_EQ(statement.Column(1), "6");
  EXPECT_EQ(SQLFetch(statement.Get()), SQL_NO_DATA);
  while (SQL_SUCCEEDED(SQLMoreResults(statement.Get()))) {
  }
  EXPECT_EQ(result, 6);
  EXPECT_TRUE(Logged("rpc bump (2 parameters)"));
}

TEST_F(TdsServerTest, ProcedureColumnsDescribeParameters) {
  using providers::ParamDirection;
  providers::Registration registration = providers::RegisterProcedure(
      "describe_me",
      {{"name", ftString, ParamDirection::Input}, {"total", ftInteger, ParamDirection::Output}},
      [](providers::Provider&, std::vector<Variant>&) { return std::unique_ptr<providers::Cursor>(); });
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLProcedureColumns(statement.Get(), nullptr, 0, nullptr, 0,
                                                reinterpret_cast<SQLCHAR*>(const_cast<char*>("describe_me")),
                                                SQL_NTS, nullptr, 0)))
      << statement.Errors();
  std::vector<std::string> rows;
  while (SQL_SUCCEEDED(SQLFetch(statement.Get())))
    rows.push_back(statement.Column(4).value_or("?") + " " + statement.Column(5).value_or("?") +
                   " " + statement.Column(6).value_or("?"));
  EXPECT_EQ(rows, (std::vector<std::string>{"@RETURN_VALUE 5 4", "@name 1 -9", "@total 4 4"}));
}

TEST_F(TdsServerTest, PrimaryKeysInKeyOrder) {
  file_.ExecDirect("create table pk(a int, b varchar(10), c int, primary key (b, a))");
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLPrimaryKeys(statement.Get(), nullptr, 0, nullptr, 0,
                                           reinterpret_cast<SQLCHAR*>(const_cast<char*>("pk")), SQL_NTS)))
      << statement.Errors();
  std::vector<std::string> keys;
  while (SQL_SUCCEEDED(SQLFetch(statement.Get())))
    keys.push_back(statement.Column(4).value_or("?") + ":" + statement.Column(5).value_or("?"));
  EXPECT_EQ(keys, (std::vector<std::string>{"b:1", "a:2"}));
}

TEST_F(TdsServerTest, ColumnsOfTable) {
  file_.ExecDirect("create table c(id int primary key, name varchar(30), data blob)");
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLColumns(statement.Get(), nullptr, 0, nullptr, 0,
                                       reinterpret_cast<SQLCHAR*>(const_cast<char*>("c")), SQL_NTS,
                                       nullptr, 0)))
      << statement.Errors();
  std::vector<std::string> columns;
  while (SQL_SUCCEEDED(SQLFetch(statement.Get())))
    columns.push_back(statement.Column(4).value_or("?") + ":" + statement.Column(5).value_or("?"));
  EXPECT_EQ(columns, (std::vector<std::string>{"id:4", "name:12", "data:-4"}));
}

// ---- attention and shutdown ----------------------------------------------------------

TEST_F(TdsServerTest, ClosingPendingResultsSendsAttentionAndConnectionGoesOn) {
  file_.ExecDirect("create table t(id integer primary key, pad text);"
                   "with recursive n(i) as (select 1 union all select i + 1 from n where i < 5000) "
                   "insert into t select i, printf('%0100d', i) from n;");
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect("select id, pad from t order by id")));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(statement.Get())));
  EXPECT_EQ(statement.Column(1), "1");
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFreeStmt(statement.Get(), SQL_CLOSE))) << statement.Errors();
  EXPECT_EQ(statement.Scalar("select count(*) from t"), "5000");
  EXPECT_TRUE(Logged("attention"));
}

// A result far larger than the socket's buffers is still being sent when the
// client cancels after its first row: the server stops between two rows and
// answers the attention, instead of sending the rest first.
TEST_F(TdsServerTest, CancelDuringALongFetchStopsTheRowsBeingSent) {
  constexpr int kRows = 400;  // of 256 KB each: 100 MB
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  Statement statement(connection);
  ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect(
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < " + std::to_string(kRows) +
      ") select i, zeroblob(262144) from n")))
      << statement.Errors();
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(statement.Get()))) << statement.Errors();
  EXPECT_EQ(statement.Column(1), "1");
  ASSERT_TRUE(SQL_SUCCEEDED(SQLCancel(statement.Get()))) << statement.Errors();
  SQLFreeStmt(statement.Get(), SQL_CLOSE);
  // The connection answers its next statement.
  EXPECT_EQ(statement.Scalar("select 40 + 2"), "42");

  // How far the result got before the attention stopped it, from the server's log.
  std::string stopped;
  {
    std::lock_guard<std::mutex> lock(log_mutex_);
    for (const std::string& line : log_)
      if (line.find("stopped by attention") != std::string::npos) stopped = line;
  }
  const std::string marker = "stopped the result after ";
  const size_t at = stopped.find(marker);
  ASSERT_NE(at, std::string::npos) << "the attention was answered only after the whole result";
  const int sent = std::stoi(stopped.substr(at + marker.size()));
  EXPECT_GE(sent, 1);
  EXPECT_LT(sent, kRows / 2) << "most of the result was sent after the attention";
}

TEST_F(TdsServerTest, RequestsAreCountedByKind) {
  file_.ExecDirect("create table t(id int primary key)");
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  const tds::RequestCounts before = server_.Requests();
  {
    Statement statement(connection);
    EXPECT_EQ(statement.Scalar("select 1"), "1");  // a batch
    SQLINTEGER id = 7;
    SQLLEN length = 0;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLBindParameter(statement.Get(), 1, SQL_PARAM_INPUT, SQL_C_SLONG,
                                               SQL_INTEGER, 0, 0, &id, 0, &length)));
    ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect("insert into t values (?)")))  // an RPC
        << statement.Errors();
  }
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttr(connection.Get(), SQL_ATTR_AUTOCOMMIT,
                                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, connection.Get(), SQL_COMMIT)));
  const tds::RequestCounts after = server_.Requests();
  EXPECT_EQ(after.sql_batch - before.sql_batch, 1u);
  EXPECT_EQ(after.rpc - before.rpc, 1u);
  EXPECT_EQ(after.transaction_manager - before.transaction_manager, 2u);  // begin, commit
  EXPECT_EQ(after.Total() - before.Total(), 4u);

  {
    // Closed before its last row: FreeTDS cancels, which is counted apart.
    Statement statement(connection);
    ASSERT_TRUE(SQL_SUCCEEDED(statement.ExecDirect("select 1 union all select 2")));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(statement.Get())));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFreeStmt(statement.Get(), SQL_CLOSE))) << statement.Errors();
  }
  const tds::RequestCounts cancelled = server_.Requests();
  EXPECT_EQ(cancelled.attention - after.attention, 1u);
  EXPECT_EQ(cancelled.Total() - after.Total(), 1u);  // the select alone
}

TEST_F(TdsServerTest, FrozenServerHoldsRequestsUntilThawed) {
  Connection connection(env_);
  ASSERT_EQ(Connect(connection), "");
  server_.SetFrozen(true);
  std::string answer;
  std::thread client([&] {
    Statement statement(connection);
    answer = statement.Scalar("select 42");
  });
  // The request is sent but neither run nor answered while frozen.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(server_.Requests().sql_batch, 0u);  // counted once let through
  EXPECT_FALSE(Logged("batch: select 42"));
  server_.SetFrozen(false);
  client.join();
  EXPECT_EQ(answer, "42");
  EXPECT_EQ(server_.Requests().sql_batch, 1u);
}

TEST(TdsServerLifetime, FrozenServerStillStops) {
  TestDatabase file("sqlite");
  Environment env;
  Connection connection(env);
  TdsTestServer server(file.FilePath(), kDatabase, kUser, kPassword);
  ASSERT_TRUE(SQL_SUCCEEDED(
      connection.Open(ConnectionString(server.Port(), kDatabase, kUser, kPassword))));
  server.SetFrozen(true);
  // Destroying the server must not wait for a thaw that never comes.
}

TEST(TdsServerLifetime, StopsWithClientsStillConnected) {
  TestDatabase file("sqlite");
  Environment env;
  Connection connection(env);
  {
    TdsTestServer server(file.FilePath(), kDatabase, kUser, kPassword);
    ASSERT_TRUE(SQL_SUCCEEDED(
        connection.Open(ConnectionString(server.Port(), kDatabase, kUser, kPassword))))
        << Diagnostics(connection.Handle());
  }  // joins the connection's thread without the client leaving
  Statement statement(connection);
  EXPECT_EQ(statement.ExecDirect("select 1"), SQL_ERROR);
}

TEST(TdsServerLifetime, PortInUseIsReported) {
  TestDatabase file("sqlite");
  TdsTestServer first(file.FilePath(), kDatabase, kUser, kPassword);
  EXPECT_THROW(TdsTestServer(file.FilePath(), kDatabase, kUser, kPassword, first.Port()),
               std::runtime_error);
}

// ---- the server's conversions ---------------------------------------------------------

TEST(TdsSqlParameters, NamedParametersBecomePositionalOutsideQuotesAndComments) {
  tds::PositionalStatement s = tds::ToPositional(
      "select '@P1', @P2, [@P1], \"@P1\" -- @P1\n, @p10, @P1 /* @P2 */, @@SPID, @P2",
      "@P1 int,@P2 nvarchar(10),@P10 decimal(10,2)");
  EXPECT_EQ(s.sql, "select '@P1', ?, [@P1], \"@P1\" -- @P1\n, ?, ? /* @P2 */, @@SPID, ?");
  EXPECT_EQ(s.value_index, (std::vector<size_t>{1, 2, 0, 1}));
  EXPECT_EQ(tds::BindValues(s, {Variant(1), Variant("x"), Variant(2.5)}),
            (std::vector<Variant>{Variant("x"), Variant(2.5), Variant(1), Variant("x")}));
  EXPECT_THROW(tds::BindValues(s, {Variant(1)}), std::invalid_argument);
}

// A statement's share of a text's values: its own marks, not those quoted or in comments.
TEST(TdsSqlParameters, MarksAreCountedOutsideQuotesAndComments) {
  EXPECT_EQ(tds::CountMarks(tds::ToPositional("select '@P1', @P2, [@P1], \"@P1\" -- @P1\n, @P1 /* @P2 */, @P2",
                                              "@P1 int,@P2 nvarchar(10)", "Latin1_General_CI_AS")
                                .sql),
            3u);
  EXPECT_EQ(tds::CountMarks("select '?', [?], \"?\" -- ?\n/* ? */"), 0u);
}

struct TypeCase {
  const char* label;
  tds::TypeInfo type;
  Variant value;
  Variant expected;  // as read back
};

tds::TypeInfo Type(uint8_t type, uint32_t length, uint8_t precision = 0, uint8_t scale = 0) {
  tds::TypeInfo info;
  info.type = type;
  info.max_length = length;
  info.precision = precision;
  info.scale = scale;
  if (type == tds::kNVarChar) info.collation.assign(tds::kCollation, 5);
  return info;
}

class TdsTypeRoundTrip : public ::testing::TestWithParam<TypeCase> {};

TEST_P(TdsTypeRoundTrip, ValueWrittenIsValueRead) {
  const TypeCase& c = GetParam();
  tds::ByteWriter out;
  tds::WriteTypeInfo(out, c.type);
  tds::WriteValue(out, c.type, c.value);
  tds::ByteReader in(out.Bytes());
  tds::TypeInfo type = tds::ReadTypeInfo(in);
  EXPECT_EQ(type.SqlName(), c.type.SqlName());
  EXPECT_EQ(tds::ReadValue(in, type), c.expected);
  EXPECT_TRUE(in.AtEnd());
}

INSTANTIATE_TEST_SUITE_P(
    Types, TdsTypeRoundTrip,
    ::testing::Values(
        TypeCase{"BigInt", Type(tds::kIntN, 8), Variant(-9000000000LL), Variant(-9000000000LL)},
        TypeCase{"SmallIntFromText", Type(tds::kIntN, 2), Variant("-12"), Variant(-12)},
        TypeCase{"NullInt", Type(tds::kIntN, 4), Variant(), Variant()},
        TypeCase{"Bit", Type(tds::kBitN, 1), Variant(true), Variant(true)},
        TypeCase{"Money", Type(tds::kMoneyN, 8), Variant(-123456.7891), Variant(-123456.7891)},
        TypeCase{"Decimal", Type(tds::kDecimalN, 9, 18, 4), Variant("-12.3456"), Variant(-12.3456)},
        TypeCase{"DecimalScaleZero", Type(tds::kDecimalN, 17, 38, 0), Variant(123456789012LL),
                 Variant(123456789012LL)},
        TypeCase{"DateTime", Type(tds::kDateTimeN, 8), Variant(TDateTime{45293.5}),
                 Variant("2024-01-02 12:00:00.000")},
        TypeCase{"DateTimeBefore1900", Type(tds::kDateTimeN, 8), Variant(TDateTime{-1.25}),
                 Variant("1899-12-29 06:00:00.000")},
        // A datetime keeps 1/300 s ticks: .003 and .007 are ticks 1 and 2, shown as written.
        TypeCase{"DateTimeTicks", Type(tds::kDateTimeN, 8), Variant("2024-01-02 23:59:59.997"),
                 Variant("2024-01-02 23:59:59.997")},
        TypeCase{"DateTimeOneTick", Type(tds::kDateTimeN, 8), Variant("2024-01-02 10:00:00.003"),
                 Variant("2024-01-02 10:00:00.003")},
        TypeCase{"DateTimeRoundsToTicks", Type(tds::kDateTimeN, 8), Variant("2024-01-02 10:00:00.005"),
                 Variant("2024-01-02 10:00:00.007")},
        TypeCase{"Date", Type(tds::kDateN, 0), Variant(TDateTime{45293}), Variant("2024-01-02")},
        TypeCase{"DateTime2Exact", Type(tds::kDateTime2N, 0, 0, 7), Variant("2024-01-02 10:00:00.1234567"),
                 Variant("2024-01-02 10:00:00.1234567")},
        TypeCase{"DateTime2ScaleThree", Type(tds::kDateTime2N, 0, 0, 3), Variant("1753-01-01 00:00:00.0015"),
                 Variant("1753-01-01 00:00:00.0020000")},
        TypeCase{"UniqueIdentifier", Type(tds::kGuid, 16), Variant("6F9619FF-8B86-D011-B42D-00C04FC964FF"),
                 Variant("6F9619FF-8B86-D011-B42D-00C04FC964FF")},
        TypeCase{"CharPadded", Type(tds::kBigChar, 6), Variant("ab"), Variant("ab    ")},
        TypeCase{"NVarCharOutsideBmp", Type(tds::kNVarChar, 100), Variant("a😀é"), Variant("a😀é")},
        TypeCase{"NVarCharMax", Type(tds::kNVarChar, tds::kMaxLength), Variant(std::string(70000, 'q')),
                 Variant(std::string(70000, 'q'))},
        TypeCase{"VarBinaryMaxEmpty", Type(tds::kBigVarBinary, tds::kMaxLength), Variant(TBytes{}),
                 Variant(TBytes{})},
        TypeCase{"VarBinaryMaxChunked", Type(tds::kBigVarBinary, tds::kMaxLength),
                 Variant(TBytes{RandomBytes(100000, 2)}), Variant(TBytes{RandomBytes(100000, 2)})},
        TypeCase{"VarBinaryMaxNull", Type(tds::kBigVarBinary, tds::kMaxLength), Variant(), Variant()}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(TdsTypeMapping, DecimalOutOfRangeIsRefused) {
  tds::ByteWriter out;
  EXPECT_THROW(tds::WriteValue(out, Type(tds::kDecimalN, 5, 5, 2), Variant(1000.0)),
               std::invalid_argument);
}

TEST(TdsWireBytes, InvalidUtf8IsTakenAsLatin1) {
  EXPECT_EQ(tds::Utf16ToUtf8(tds::Utf8ToUtf16("a\xE9z")), "a\xC3\xA9z");
  tds::ByteReader short_reader(std::string_view("\x01", 1));
  EXPECT_THROW(short_reader.U16(), tds::ProtocolError);
}

}  // namespace
}  // namespace tersify::testing
