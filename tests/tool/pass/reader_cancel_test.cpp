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

// A provider whose queries hand out CountingCursors; everything else as the real one.
class CountingProvider final : public providers::Provider {
 public:
  CountingProvider(std::unique_ptr<providers::Provider> inner, int cancel_at)
      : inner_(std::move(inner)), cancel_at_(cancel_at) {}
  int Fetched() const { return fetched_; }
  int Queries() const { return queries_; }

  std::string Name() const override { return inner_->Name(); }
  void Open(const providers::ConnectionSettings& settings) override { inner_->Open(settings); }
  void Close() override { inner_->Close(); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  void SetCommandTimeout(int seconds) override { inner_->SetCommandTimeout(seconds); }
  int CommandTimeout() const override { return inner_->CommandTimeout(); }
  std::unique_ptr<providers::Cursor> Execute(const std::string& sql, const std::vector<Variant>& params) override {
    ++queries_;
    return std::make_unique<CountingCursor>(inner_->Execute(sql, params), fetched_, cancel_at_);
  }
  std::unique_ptr<providers::Cursor> ExecuteEach(const std::string& sql,
                                                 const std::vector<Variant>& params) override {
    return inner_->ExecuteEach(sql, params);
  }
  void StartTransaction() override { inner_->StartTransaction(); }
  void Commit() override { inner_->Commit(); }
  void Rollback() override { inner_->Rollback(); }
  bool InTransaction() const override { return inner_->InTransaction(); }
  std::string ServerVersion() override { return inner_->ServerVersion(); }
  std::vector<std::string> PrimaryKey(const std::string& table) override { return inner_->PrimaryKey(table); }
  std::vector<providers::ProcParamInfo> ProcedureParams(const std::string& procedure) override {
    return inner_->ProcedureParams(procedure);
  }
  std::unique_ptr<providers::Cursor> ExecuteProcedure(const std::string& procedure,
                                                      std::vector<Variant>& params) override {
    return inner_->ExecuteProcedure(procedure, params);
  }

 private:
  std::unique_ptr<providers::Provider> inner_;
  int cancel_at_;
  int fetched_ = 0;
  int queries_ = 0;
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

  std::unique_ptr<CountingProvider> Connect(int cancel_at) {
    auto provider = std::make_unique<CountingProvider>(providers::CreateProvider(db_->Settings()), cancel_at);
    provider->Open(db_->Settings());
    return provider;
  }
  TPassStatements Statements() const {
    return TPassStatements(GetParam() == "sqlite" ? "sqlite" : "odbc", 16, "t", "f", "k");
  }

  std::unique_ptr<TestDatabase> db_;
};

TEST_P(PassReaderCancelTest, ACancelEndsThePageBeingReadAtOnce) {
  std::unique_ptr<CountingProvider> provider = Connect(3);
  const TPassStatements statements = Statements();
  TPassReader reader(*provider, statements, int64_t{1} << 30);
  reader.StopReadingOnCancel();
  const uint64_t attentions = GetParam() == "sqlite" ? 0 : db_->ServerRequests().attention;

  EXPECT_THROW(reader.NextPage(), EPassReadCancelled);
  EXPECT_EQ(provider->Fetched(), 3) << "rows were still fetched after the cancel";

  // No page is asked for once the cancel is pending.
  const int queries = provider->Queries();
  EXPECT_THROW(reader.NextPage(), EPassReadCancelled);
  EXPECT_EQ(provider->Queries(), queries);

  // The connection goes on: the rest of the page was not left pending on it.
  ResetPassCancel();
  std::unique_ptr<providers::Cursor> count = provider->Execute("select count(*) from t", {});
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
