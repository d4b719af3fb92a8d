// The pass's reader and a cancel: a page being read when the cancel comes is
// let go of at once (through a server, the driver's attention stops the rows
// still to come) instead of being read to its end, and no page is asked for
// after it. Every provider, through a provider that counts the rows fetched.

#include "tool/pass/reader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "client/providers/provider.h"
#include "tests/support/forwarding_provider.h"
#include "tests/support/provider_matrix.h"
#include "tool/pass/cancel.h"

namespace tersify::testing {
namespace {

// Counts the rows fetched and asks for a cancel once `cancel_at` were.
class CountingCursor final : public providers::Cursor {
 public:
  CountingCursor(std::unique_ptr<providers::Cursor> inner, int& fetched, int cancel_at)
      : inner_(std::move(inner)), fetched_(fetched), cancel_at_(cancel_at) {}
  const std::vector<providers::ColumnInfo>& Columns() const override { return inner_->Columns(); }
  bool Next() override {
    if (!inner_->Next()) return false;
    if (++fetched_ == cancel_at_) RequestPassCancel(15);
    return true;
  }
  Variant Value(int column) override { return inner_->Value(column); }
  Variant TakeValue(int column) override { return inner_->TakeValue(column); }
  void Close() override { inner_->Close(); }
  int64_t RowsAffected() const override { return inner_->RowsAffected(); }
  bool NextResult() override { return inner_->NextResult(); }

 private:
  std::unique_ptr<providers::Cursor> inner_;
  int& fetched_;
  int cancel_at_;
};

// A connection whose queries are counted and hand out CountingCursors;
// everything else as the real one.
struct CountingConnection {
  CountingConnection(const providers::ConnectionSettings& settings, int cancel_at)
      : provider(providers::CreateProvider(settings), [this, cancel_at](std::unique_ptr<providers::Cursor> cursor) {
          ++queries;
          return std::make_unique<CountingCursor>(std::move(cursor), fetched, cancel_at);
        }) {
    provider.Open(settings);
  }
  int fetched = 0;
  int queries = 0;
  ForwardingProvider provider;
};

class PassReaderCancelTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ResetPassCancel();
    db_ = std::make_unique<TestDatabase>(GetParam());
    // 100 rows of 64 KB: the first page holds them all, and through a
    // server its 6.4 MB are more than the sockets hold at once.
    db_->ExecDirect(
        "create table t (k varchar(20) primary key, f blob);"
        "with recursive n(i) as (select 1 union all select i + 1 from n where i < 100) "
        "insert into t select printf('K%03d', i), randomblob(65536) from n;");
  }
  void TearDown() override { ResetPassCancel(); }

  std::unique_ptr<CountingConnection> Connect(int cancel_at) {
    return std::make_unique<CountingConnection>(db_->Settings(), cancel_at);
  }
  TPassStatements Statements() const {
    return TPassStatements(GetParam() == "sqlite" ? "sqlite" : "odbc", 16, "t", "f", "k");
  }

  std::unique_ptr<TestDatabase> db_;
};

TEST_P(PassReaderCancelTest, ACancelEndsThePageBeingReadAtOnce) {
  std::unique_ptr<CountingConnection> connection = Connect(3);
  const TPassStatements statements = Statements();
  TPassReader reader(connection->provider, statements, int64_t{1} << 30);
  reader.StopReadingOnCancel();
  const uint64_t attentions = GetParam() == "sqlite" ? 0 : db_->ServerRequests().attention;

  EXPECT_THROW(reader.NextPage(), EPassReadCancelled);
  EXPECT_EQ(connection->fetched, 3) << "rows were still fetched after the cancel";

  // No page is asked for once the cancel is pending.
  const int queries = connection->queries;
  EXPECT_THROW(reader.NextPage(), EPassReadCancelled);
  EXPECT_EQ(connection->queries, queries);

  // The connection goes on: the rest of the page was not left pending on it.
  ResetPassCancel();
  std::unique_ptr<providers::Cursor> count = connection->provider.Execute("select count(*) from t", {});
  ASSERT_TRUE(count->Next());
  EXPECT_EQ(count->Value(0).AsInt64(), 100);
  // (The server counts the attention once it has answered it, before the query above.)
  if (GetParam() != "sqlite") {
    EXPECT_GT(db_->ServerRequests().attention, attentions) << "the server was not told to stop sending";
  }
}

INSTANTIATE_TEST_SUITE_P(Providers, PassReaderCancelTest, ::testing::ValuesIn(AvailableProviders()), ProviderName());

}  // namespace
}  // namespace tersify::testing
