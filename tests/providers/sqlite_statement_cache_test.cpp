// The statement cache on its own, over a raw SQLite connection: what it lends,
// what it keeps and evicts, and the state a statement is in when given back.

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/providers/sqlite/sqlite_handles.h"
#include "client/providers/sqlite/sqlite_statement_cache.h"
#include "tests/support/provider_matrix.h"

namespace tersify::providers {
namespace {

using Lease = SqliteStatementCache::Lease;
using testing::TestDatabase;

class SqliteStatementCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_file_.ExecDirect("create table t(a int primary key); insert into t values(1), (2)");
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(db_file_.FilePath().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr),
              SQLITE_OK);
    db_.reset(raw);
  }

  SqliteStatement Prepare(const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_.get()));
    return SqliteStatement(raw);
  }

  // What the provider does with a text: the kept statement, else a new one to keep.
  Lease Use(SqliteStatementCache& cache, const std::string& sql) {
    Lease lease = cache.Take(sql);
    return lease ? std::move(lease) : cache.Keep(sql, Prepare(sql));
  }

  int LiveStatements() const {
    int count = 0;
    for (sqlite3_stmt* s = sqlite3_next_stmt(db_.get(), nullptr); s != nullptr;
         s = sqlite3_next_stmt(db_.get(), s))
      ++count;
    return count;
  }

  TestDatabase db_file_{"sqlite"};
  SqliteConnection db_;
};

TEST_F(SqliteStatementCacheTest, AKeptStatementIsLentToOneUserAtATime) {
  SqliteStatementCache cache;
  EXPECT_FALSE(cache.Take("select a from t"));
  sqlite3_stmt* first = nullptr;
  {
    Lease lease = cache.Keep("select a from t", Prepare("select a from t"));
    first = lease.get();
    EXPECT_EQ(cache.Size(), 0u) << "kept before it was given back";
  }
  EXPECT_EQ(cache.Size(), 1u);
  {
    Lease again = cache.Take("select a from t");
    EXPECT_EQ(again.get(), first);
    EXPECT_FALSE(cache.Take("select a from t")) << "the statement in use was lent twice";
    EXPECT_FALSE(cache.Take("select a from t where a = 1"));
  }
  EXPECT_EQ(cache.Take("select a from t").get(), first);
}

TEST_F(SqliteStatementCacheTest, AReleasedStatementLeavesTheCacheForGood) {
  SqliteStatementCache cache;
  SqliteStatement owned;
  {
    Lease lease = Use(cache, "select a from t");
    owned = lease.Release();
  }
  EXPECT_EQ(cache.Size(), 0u);
  ASSERT_NE(owned, nullptr);
  ASSERT_EQ(sqlite3_step(owned.get()), SQLITE_ROW);  // still prepared, the new owner's
}

TEST_F(SqliteStatementCacheTest, AStatementIsGivenBackResetAndUnbound) {
  SqliteStatementCache cache;
  const std::string sql = "select a from t where a >= ?";
  {
    Lease lease = Use(cache, sql);
    ASSERT_EQ(sqlite3_bind_int(lease.get(), 1, 2), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(lease.get()), SQLITE_ROW);  // stopped at a row: a read transaction
  }
  Lease again = cache.Take(sql);
  ASSERT_TRUE(again);
  EXPECT_FALSE(sqlite3_stmt_busy(again.get()));
  char* expanded = sqlite3_expanded_sql(again.get());
  ASSERT_NE(expanded, nullptr);
  EXPECT_EQ(std::string(expanded), "select a from t where a >= NULL");
  sqlite3_free(expanded);
  // No lock left: another connection writes at once.
  db_file_.ExecDirect("pragma busy_timeout = 0; insert into t values(3)");
}

TEST_F(SqliteStatementCacheTest, AStatementThatFailedIsGivenBackReusable) {
  SqliteStatementCache cache;
  const std::string sql = "insert into t values(?)";
  {
    Lease lease = Use(cache, sql);
    sqlite3_bind_int(lease.get(), 1, 1);
    ASSERT_EQ(sqlite3_step(lease.get()) & 0xff, SQLITE_CONSTRAINT);
  }
  EXPECT_TRUE(sqlite3_get_autocommit(db_.get()));
  Lease again = cache.Take(sql);
  ASSERT_TRUE(again);
  EXPECT_FALSE(sqlite3_stmt_busy(again.get()));
  sqlite3_bind_int(again.get(), 1, 7);
  EXPECT_EQ(sqlite3_step(again.get()), SQLITE_DONE);
  EXPECT_EQ(sqlite3_changes(db_.get()), 1);
}

// Texts used in order, one at a time, against a cache of two.
struct EvictionCase {
  const char* name;
  std::vector<std::string> uses;
  std::vector<std::string> kept;
};

void PrintTo(const EvictionCase& c, std::ostream* os) { *os << c.name; }

std::string Select(const std::string& text) { return "select '" + text + "'"; }

class StatementEviction : public SqliteStatementCacheTest,
                          public ::testing::WithParamInterface<EvictionCase> {};

TEST_P(StatementEviction, TheLeastRecentlyUsedGoesFirst) {
  SqliteStatementCache cache(2);
  for (const std::string& text : GetParam().uses) Use(cache, Select(text));
  EXPECT_EQ(cache.Size(), GetParam().kept.size());
  for (const std::string text : {"a", "b", "c"}) {
    const bool expected = std::find(GetParam().kept.begin(), GetParam().kept.end(), text) !=
                          GetParam().kept.end();
    EXPECT_EQ(static_cast<bool>(cache.Take(Select(text))), expected) << text;
  }
  EXPECT_EQ(LiveStatements(), static_cast<int>(GetParam().kept.size()))
      << "an evicted statement was not finalized";
}

INSTANTIATE_TEST_SUITE_P(
    Uses, StatementEviction,
    ::testing::Values(EvictionCase{"WithinCapacity", {"a", "b"}, {"a", "b"}},
                      EvictionCase{"OldestEvicted", {"a", "b", "c"}, {"b", "c"}},
                      EvictionCase{"ReuseRefreshes", {"a", "b", "a", "c"}, {"a", "c"}},
                      EvictionCase{"RepeatsKeepOne", {"a", "a", "a"}, {"a"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SqliteStatementCacheTest, ACacheWithoutRoomKeepsNothing) {
  SqliteStatementCache cache(0);
  Use(cache, "select a from t");
  EXPECT_EQ(cache.Size(), 0u);
  EXPECT_EQ(LiveStatements(), 0);
}

TEST_F(SqliteStatementCacheTest, ClearFinalizesEveryStatementAlsoOneInUse) {
  SqliteStatementCache cache;
  Use(cache, "select 1");
  Use(cache, "select 2");
  {
    Lease in_use = Use(cache, "select a from t");
    cache.Clear();
    EXPECT_EQ(cache.Size(), 0u);
    EXPECT_EQ(LiveStatements(), 1);
  }
  EXPECT_EQ(cache.Size(), 0u) << "a statement from before Clear was kept";
  EXPECT_EQ(sqlite3_next_stmt(db_.get(), nullptr), nullptr);
  // The plain close refuses a connection with statements left.
  EXPECT_EQ(sqlite3_close(db_.get()), SQLITE_OK);
  static_cast<void>(db_.release());
}

TEST_F(SqliteStatementCacheTest, ANewGenerationForgetsWhatWasKept) {
  SqliteStatementCache cache;
  cache.Follow(1);
  Use(cache, "select 1");
  cache.Follow(1);
  EXPECT_EQ(cache.Size(), 1u);
  cache.Follow(2);
  EXPECT_EQ(cache.Size(), 0u);
  EXPECT_EQ(LiveStatements(), 0);
}

}  // namespace
}  // namespace tersify::providers
