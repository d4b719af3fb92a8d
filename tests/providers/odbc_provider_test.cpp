// The odbc provider end to end: FreeTDS's ODBC driver talking to the TDS test
// server, which keeps its data in a SQLite file the test can look at directly.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "client/errors.h"
#include "client/providers/odbc/odbc_provider.h"
#include "client/providers/sqlite/sqlite_registry.h"
#include "tests/support/provider_matrix.h"

namespace tersify::testing {
namespace {

using providers::ConnectionSettings;
using providers::Cursor;
using providers::ParamDirection;
using providers::ProcParamInfo;
using providers::Provider;
using ::testing::HasSubstr;

bool OdbcAvailable() {
  const auto list = AvailableProviders();
  return std::find(list.begin(), list.end(), "odbc") != list.end();
}

// A port on 127.0.0.1 nobody listens on (bound once, then released).
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

class OdbcProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OdbcAvailable()) GTEST_SKIP() << "FreeTDS's ODBC driver is not installed";
    db_ = std::make_unique<TestDatabase>("odbc");
    provider_ = Open(db_->Settings());
  }

  static std::unique_ptr<Provider> Open(const ConnectionSettings& settings) {
    auto p = providers::CreateOdbcProvider();
    p->Open(settings);
    return p;
  }

  Variant Scalar(const std::string& sql, const std::vector<Variant>& params = {}) {
    auto cursor = provider_->Execute(sql, params);
    EXPECT_TRUE(cursor->Next()) << sql;
    Variant v = cursor->Value(0);
    EXPECT_FALSE(cursor->Next()) << sql;
    return v;
  }

  // The bytes of a blob as SQLite holds them, read past the provider.
  std::string StoredBlob(const std::string& sql) const { return db_->StoredBytes(sql); }

  std::unique_ptr<TestDatabase> db_;
  std::unique_ptr<Provider> provider_;
};

struct BlobCase {
  const char* name;
  size_t size;
  bool compressible;
};

void PrintTo(const BlobCase& c, std::ostream* os) { *os << c.name; }

class OdbcBlobTest : public OdbcProviderTest, public ::testing::WithParamInterface<BlobCase> {};

// Written as one bound parameter, read back in 64 KiB pieces: FreeTDS cuts
// values at 4096, 8000 or 64512 bytes when the text size or binding is wrong.
TEST_P(OdbcBlobTest, RoundTripsByteExact) {
  const BlobCase& c = GetParam();
  std::mt19937 random(7);
  std::string blob(c.size, '\0');
  if (c.compressible) {
    const std::string words[] = {"report ", "total ", "0042 ", "\r\n", "customer ", "\x00\x01"};
    size_t i = 0;
    while (i < c.size) {
      const std::string& w = words[random() % 6];
      for (char ch : w)
        if (i < c.size) blob[i++] = ch;
    }
  } else {
    for (char& ch : blob) ch = static_cast<char>(random() & 0xff);
  }
  db_->ExecDirect("create table blobs(id int primary key, data blob)");
  EXPECT_EQ(provider_->Execute("insert into blobs values(?, ?)", {1, TBytes{blob}})->RowsAffected(), 1);

  const std::string stored = StoredBlob("select data from blobs where id = 1");
  ASSERT_EQ(stored.size(), c.size) << "written value was cut";
  EXPECT_TRUE(stored == blob) << "written bytes differ";

  auto cursor = provider_->Execute("select id, data from blobs where id = ?", {1});
  ASSERT_EQ(cursor->Columns().size(), 2u);
  EXPECT_EQ(cursor->Columns()[1].type, ftBlob);
  ASSERT_TRUE(cursor->Next());
  const Variant read = cursor->Value(1);
  ASSERT_EQ(read.Type(), TVarType::Bytes);
  ASSERT_EQ(read.RawString().size(), c.size) << "read value was cut";
  EXPECT_TRUE(read.RawString() == blob) << "read bytes differ";
  EXPECT_FALSE(cursor->Next());
}

INSTANTIATE_TEST_SUITE_P(Sizes, OdbcBlobTest,
                         ::testing::Values(BlobCase{"Random5MB", 5u << 20, false},
                                           BlobCase{"Compressible20MB", 20u << 20, true},
                                           BlobCase{"Just8001", 8001, false},
                                           BlobCase{"Empty", 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OdbcProviderTest, LongTextParameterIsNotCut) {
  std::string text(300000, 'x');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  db_->ExecDirect("create table notes(id int primary key, body text)");
  provider_->Execute("insert into notes values(1, ?)", {text});
  const Variant got = Scalar("select body from notes where id = 1");
  ASSERT_EQ(got.RawString().size(), text.size());
  EXPECT_TRUE(got.RawString() == text);
}

TEST_F(OdbcProviderTest, NonAsciiTextRoundTripsAsUtf8) {
  const std::string text = "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac 5 \xe2\x80\x94 na\xc3\xafve";
  db_->ExecDirect("create table notes(id int primary key, body nvarchar(100), memo text)");
  provider_->Execute("insert into notes values(1, ?, ?)", {text, text});
  auto cursor = provider_->Execute("select body, memo from notes where body = ?", {text});
  ASSERT_TRUE(cursor->Next());
  EXPECT_EQ(cursor->Value(0).AsString(), text);
  EXPECT_EQ(cursor->Value(1).AsString(), text);
  cursor.reset();

  std::string long_text;
  while (long_text.size() < 200000) long_text += text + "\n";
  provider_->Execute("update notes set memo = ? where id = 1", {long_text});
  const Variant got = Scalar("select memo from notes where id = 1");
  ASSERT_EQ(got.RawString().size(), long_text.size());
  EXPECT_TRUE(got.RawString() == long_text);
}

TEST_F(OdbcProviderTest, PasswordWithSemicolonAndBraceConnects) {
  ASSERT_THAT(db_->Settings().password, HasSubstr(";"));
  ASSERT_THAT(db_->Settings().password, HasSubstr("}"));
  EXPECT_TRUE(provider_->IsOpen());
  EXPECT_EQ(Scalar("select 1 + ?", {41}).AsInt64(), 42);
}

TEST_F(OdbcProviderTest, WrongPasswordFailsWithTheServersMessage) {
  ConnectionSettings s = db_->Settings();
  s.password = "Tds;Pass}word2";
  try {
    Open(s);
    FAIL() << "connected with a wrong password";
  } catch (const EMSError& e) {
    EXPECT_THAT(e.Message(), HasSubstr("Login failed for user '" + s.username + "'"));
    EXPECT_FALSE(e.SQLState().empty());
  }
}

TEST_F(OdbcProviderTest, UnknownDatabaseFails) {
  ConnectionSettings s = db_->Settings();
  s.database = "no_such_database";
  try {
    Open(s);
    FAIL() << "connected to a database that does not exist";
  } catch (const EMSError& e) {
    EXPECT_THAT(e.Message(), HasSubstr("no_such_database"));
  }
}

TEST_F(OdbcProviderTest, ClosedPortFailsWithTheDriversMessage) {
  ConnectionSettings s = db_->Settings();
  s.port = ClosedPort();
  s.login_timeout_seconds = 3;
  const auto start = std::chrono::steady_clock::now();
  try {
    Open(s);
    FAIL() << "connected to a closed port";
  } catch (const EMSError& e) {
    EXPECT_THAT(e.Message(), HasSubstr("[FreeTDS]"));
    EXPECT_THAT(e.Message(), HasSubstr("connect"));
    EXPECT_EQ(e.SQLState().substr(0, 2), "08") << e.SQLState();
  }
  // Bounded by the login timeout, not by the driver's own default.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(OdbcProviderTest, UnreachableHostGivesUpWithinTheLoginTimeout) {
  ConnectionSettings s = db_->Settings();
  s.server = "10.255.255.1";  // not routed: the connect attempt can only time out or be refused
  s.port = 1433;
  s.login_timeout_seconds = 2;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(Open(s), EMSError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(OdbcProviderTest, ServerErrorsCarryTheirMessageAndState) {
  try {
    provider_->Execute("select * from no_such_table", {});
    FAIL() << "no error";
  } catch (const EMSError& e) {
    EXPECT_THAT(e.Message(), HasSubstr("no_such_table"));
    EXPECT_FALSE(e.SQLState().empty());
  }
  // The connection is still usable afterwards.
  EXPECT_EQ(Scalar("select 2").AsInt64(), 2);
}

TEST_F(OdbcProviderTest, CursorDestroyedEarlyLeavesTheConnectionUsable) {
  db_->ExecDirect("create table t(id int primary key, data blob)");
  provider_->StartTransaction();
  for (int i = 0; i < 200; ++i)
    provider_->Execute("insert into t values(?, ?)", {i, TBytes{std::string(10000, 'b')}});
  provider_->Commit();
  {
    auto cursor = provider_->Execute("select id, data from t order by id", {});
    ASSERT_TRUE(cursor->Next());
    EXPECT_EQ(cursor->Value(0).AsInt64(), 0);
  }
  EXPECT_EQ(Scalar("select count(*) from t").AsInt64(), 200);
}

// Closing a cursor before its end reads off the rest of its results instead of
// cancelling them: after a cancel FreeTDS keeps the last row it read, a whole
// long value, until the next statement has been answered. A cursor dropped
// early still cancels (which also shows that the count sees an attention).
TEST_F(OdbcProviderTest, CursorClosedEarlyReadsTheRestInsteadOfCancelling) {
  db_->ExecDirect("create table t(id int primary key, data blob)");
  provider_->StartTransaction();
  for (int i = 0; i < 50; ++i)
    provider_->Execute("insert into t values(?, ?)", {i, TBytes{std::string(20000, 'c')}});
  provider_->Commit();
  const uint64_t attention_before = db_->ServerRequests().attention;

  {
    auto closed = provider_->Execute("select id, data from t order by id", {});
    ASSERT_TRUE(closed->Next());
    EXPECT_EQ(closed->Value(0).AsInt64(), 0);
    closed->Close();
    EXPECT_FALSE(closed->Next());
  }
  EXPECT_EQ(db_->ServerRequests().attention, attention_before);
  EXPECT_EQ(Scalar("select count(*) from t").AsInt64(), 50);

  {
    auto dropped = provider_->Execute("select id, data from t order by id", {});
    ASSERT_TRUE(dropped->Next());
  }
  EXPECT_EQ(db_->ServerRequests().attention, attention_before + 1);
  EXPECT_EQ(Scalar("select count(*) from t").AsInt64(), 50);
}

TEST_F(OdbcProviderTest, ValuesMayBeReadInAnyOrderAndTwice) {
  db_->ExecDirect("create table t(a int, b text, c blob); insert into t values(1, 'two', x'03')");
  auto cursor = provider_->Execute("select a, b, c from t", {});
  ASSERT_TRUE(cursor->Next());
  EXPECT_EQ(cursor->Value(2), Variant(TBytes{"\x03"}));
  EXPECT_EQ(cursor->Value(0).AsInt64(), 1);
  EXPECT_EQ(cursor->Value(1).AsString(), "two");
  EXPECT_EQ(cursor->Value(2), Variant(TBytes{"\x03"}));
  EXPECT_THROW(cursor->Value(3), EMSError);
}

TEST_F(OdbcProviderTest, ParametersOfEveryKindArriveAsTheirType) {
  db_->ExecDirect(
      "create table p(i bigint, f float, b bit, d datetime, s varchar(50), y blob, n int)");
  const TDateTime when = EncodeDateTime(2024, 2, 29, 13, 14, 15, 160);
  provider_->Execute("insert into p values(?, ?, ?, ?, ?, ?, ?)",
                     {9007199254740993LL, 0.125, true, when, "it's", TBytes{std::string("\0\1", 2)},
                      Variant::Null()});
  auto cursor = provider_->Execute("select i, f, b, d, s, y, n from p", {});
  ASSERT_TRUE(cursor->Next());
  EXPECT_EQ(cursor->Value(0), Variant(9007199254740993LL));
  EXPECT_EQ(cursor->Value(1), Variant(0.125));
  EXPECT_EQ(cursor->Value(2), Variant(true));
  EXPECT_EQ(cursor->Value(3), Variant(when));
  EXPECT_EQ(cursor->Value(4), Variant("it's"));
  EXPECT_EQ(cursor->Value(5), Variant(TBytes{std::string("\0\1", 2)}));
  EXPECT_TRUE(cursor->Value(6).IsNull());
}

TEST_F(OdbcProviderTest, TransactionsCommitAndRollBack) {
  db_->ExecDirect("create table t(id int primary key)");
  EXPECT_THROW(provider_->Commit(), EMSError);
  provider_->StartTransaction();
  provider_->Execute("insert into t values(1)", {});
  provider_->Rollback();
  EXPECT_FALSE(provider_->InTransaction());
  EXPECT_EQ(Scalar("select count(*) from t").AsInt64(), 0);

  provider_->StartTransaction();
  provider_->Execute("insert into t values(2)", {});
  provider_->Commit();
  EXPECT_FALSE(provider_->InTransaction());
  // Autocommit is back on: a later statement stays without a commit.
  provider_->Execute("insert into t values(3)", {});
  provider_->Close();
  provider_ = Open(db_->Settings());
  EXPECT_EQ(Scalar("select count(*) from t").AsInt64(), 2);
}

TEST_F(OdbcProviderTest, ClosingInsideATransactionRollsBack) {
  db_->ExecDirect("create table t(id int primary key)");
  provider_->StartTransaction();
  provider_->Execute("insert into t values(1)", {});
  provider_->Close();
  EXPECT_FALSE(provider_->IsOpen());
  EXPECT_THROW(provider_->Execute("select 1", {}), EMSError);
  provider_ = Open(db_->Settings());
  EXPECT_EQ(Scalar("select count(*) from t").AsInt64(), 0);
}

// A server whose 'user options' start every session with NOCOUNT on sends no
// row counts: the provider's connection turns it off, so that a statement
// still tells how many rows it wrote (the data layer holds row statements to one).
TEST_F(OdbcProviderTest, AServerWideNocountStillLeavesEveryStatementItsCount) {
  TdsServerRules rules;
  rules.user_options = 512;
  TestDatabase quiet("odbc", rules);
  quiet.ExecDirect("create table t(a int primary key, b int); insert into t values(1, 0), (2, 0)");
  auto provider = Open(quiet.Settings());
  EXPECT_EQ(provider->Execute("update t set b = 1 where a = 1", {})->RowsAffected(), 1);
  EXPECT_EQ(provider->Execute("update t set b = ? where a >= ?", {Variant(2), Variant(1)})->RowsAffected(), 2);
  EXPECT_EQ(provider->Execute("delete from t where a = 9", {})->RowsAffected(), 0);
}

TEST_F(OdbcProviderTest, ServerVersionIsDotted) {
  EXPECT_THAT(provider_->ServerVersion(), ::testing::MatchesRegex("[0-9]+\\.[0-9]+\\.[0-9]+"));
}

TEST_F(OdbcProviderTest, PrimaryKeyInKeyOrderForEveryNameForm) {
  db_->ExecDirect(
      "create table orders(a int, b varchar(10), c int, primary key(b, a));"
      "create table plain(a int)");
  const std::vector<std::string> key = {"b", "a"};
  EXPECT_EQ(provider_->PrimaryKey("orders"), key);
  EXPECT_EQ(provider_->PrimaryKey("dbo.orders"), key);
  EXPECT_EQ(provider_->PrimaryKey("[orders]"), key);
  EXPECT_EQ(provider_->PrimaryKey("[dbo].[orders]"), key);
  EXPECT_TRUE(provider_->PrimaryKey("plain").empty());
}

TEST_F(OdbcProviderTest, ProcedureWithOutputParameter) {
  // pQZ_NextKey(@table varchar(128), @step int, @key int OUTPUT): the key
  // after adding step to the table's counter; also returns the counter row.
  db_->ExecDirect("create table counters(name varchar(128) primary key, value int);"
                  "insert into counters values('reports', 41)");
  providers::Registration reg = providers::RegisterProcedure(
      "pQZ_NextKey",
      {ProcParamInfo{"table", ftString, ParamDirection::Input},
       ProcParamInfo{"step", ftInteger, ParamDirection::Input},
       ProcParamInfo{"key", ftInteger, ParamDirection::InputOutput}},
      [](Provider& p, std::vector<Variant>& args) -> std::unique_ptr<Cursor> {
        p.Execute("update counters set value = value + ? where name = ?", {args[1], args[0]});
        auto c = p.Execute("select value from counters where name = ?", {args[0]});
        c->Next();
        args[2] = c->Value(0);
        c->Next();
        return p.Execute("select name, value from counters where name = ?", {args[0]});
      });

  const auto params = provider_->ProcedureParams("pQZ_NextKey");
  ASSERT_EQ(params.size(), 3u);
  EXPECT_EQ(params[0].name, "table");
  EXPECT_EQ(params[0].direction, ParamDirection::Input);
  EXPECT_EQ(params[1].name, "step");
  EXPECT_EQ(params[1].type, ftInteger);
  EXPECT_EQ(params[2].name, "key");
  EXPECT_NE(params[2].direction, ParamDirection::Input);

  std::vector<Variant> args = {"reports", 1, Variant::Null()};
  auto cursor = provider_->ExecuteProcedure("pQZ_NextKey", args);
  EXPECT_EQ(args[2].AsInt64(), 42);
  EXPECT_EQ(args[0].AsString(), "reports");  // inputs stay as they were
  ASSERT_TRUE(cursor->Next());
  EXPECT_EQ(cursor->Value(1).AsInt64(), 42);
  EXPECT_FALSE(cursor->Next());

  provider_->ExecuteProcedure("pQZ_NextKey", args);
  EXPECT_EQ(args[2].AsInt64(), 43);
}

TEST_F(OdbcProviderTest, SessionStatementsArePlainStatements) {
  EXPECT_GT(Scalar("select @@SPID").AsInt64(), 0);
  EXPECT_EQ(Scalar("select @@TRANCOUNT").AsInt64(), 0);
}

}  // namespace
}  // namespace tersify::testing
