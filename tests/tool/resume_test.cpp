// A pass that starts after a key (/FROM=), stops at its time limit, or ends
// early for another reason, and the key it gives to resume with: between a
// stopped run and the run resumed from its key every row is rewritten exactly
// once, whatever the keys hold, on every provider.

#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "db/database.h"
#include "db/registries.h"
#include "tests/db/layer_fixture.h"
#include "tests/support/provider_matrix.h"
#include "tests/tool/program_runner.h"
#include "tool/pass/cancel.h"
#include "tool/pass/options.h"
#include "tool/pass/verify.h"
#include "framework/rtl/json_writer.h"
#include "tool/recompress.h"
#include "tool/run_report.h"

namespace tersify::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Compressible text of about n bytes that differs from key to key.
std::string ValueFor(const std::string& key, size_t n = 900) {
  std::string text;
  while (text.size() < n) text += "<TfrxMemoView Name=\"" + key + "\" Left=\"12\" Top=\"40\"/>\r\n";
  return text;
}

// SQL text of a string literal.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

class CaptureStdout {
 public:
  CaptureStdout() : saved_(std::cout.rdbuf(buffer_.rdbuf())) {}
  ~CaptureStdout() { std::cout.rdbuf(saved_); }
  std::string Text() const { return buffer_.str(); }

 private:
  std::ostringstream buffer_;
  std::streambuf* saved_;
};

// Keys that need care on the way to the server and back through a shell.
const std::vector<std::string>& AwkwardKeys() {
  static const std::vector<std::string> keys = {
      "alpha",      "with blank",   "two  blanks", "it's",        "say \"hi\"", "back\\slash",
      "Zürich",     "Ångström",     "日本語",      "$HOME `x`",   "-dash",      "100",
      "99 bottles", "trailing dot.", "omega",      "*star?",
  };
  return keys;
}

struct RunOutcome {
  bool ok = false;
  int32_t processed = 0;
  int32_t skipped = 0;
  TRecompressReport report;
  std::vector<std::string> written;  // keys handed to an update, in order
  std::string out;
};

class ResumeTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    StartDatabaseLayer();
    db_ = std::make_unique<TestDatabase>(GetParam());
  }
  void TearDown() override {
    database_.reset();
    ShutdownDatabaseLayer();
    db_.reset();
  }

  void CreateTextTable(const std::vector<std::string>& keys) {
    db_->ExecDirect("create table t (k nvarchar(40) primary key, v blob)");
    for (const std::string& key : keys)
      db_->ExecDirect("insert into t values (" + Quoted(key) + ", " + HexLiteral(ValueFor(key)) + ")");
  }
  void CreateNumberTable(int rows) {
    db_->ExecDirect("create table t (k integer primary key, v blob)");
    for (int i = 1; i <= rows; ++i)
      db_->ExecDirect("insert into t values (" + std::to_string(i) + ", " +
                      HexLiteral(ValueFor(std::to_string(i))) + ")");
  }
  void Connect() {
    database_ = std::make_unique<TvrDatabase>(nullptr);
    ConnectTo(*database_, *db_);
    DefaultDatabase = database_.get();
    database_->SetConnected(true);
  }

  // A compress pass. stop_after: the time limit is reached once so many rows
  // were handed to an update (the test's clock jumps past it then); fail_at and
  // cancel_at: the before_write of that write raises, or asks to cancel.
  RunOutcome Run(TRecompressOptions options, int stop_after = 0, int fail_at = 0, int cancel_at = 0) {
    RunOutcome r;
    const Clock::time_point limit = Clock::now() + std::chrono::hours(1);
    if (stop_after > 0) {
      options.stop_at = limit;
      options.clock = [&r, stop_after, limit] {
        return static_cast<int>(r.written.size()) >= stop_after ? limit : limit - std::chrono::minutes(30);
      };
    }
    options.before_write = [&r, fail_at, cancel_at](const Variant& key) {
      const int n = static_cast<int>(r.written.size()) + 1;
      if (n == fail_at) throw Exception("the test's write fails");
      r.written.push_back(key.AsString());
      if (n == cancel_at) RequestPassCancel(15);
    };
    CaptureStdout capture;
    r.ok = RecompressTable(false, 1, "t", "v", "k", {}, r.processed, r.skipped, nullptr, options, &r.report);
    r.out = capture.Text();
    return r;
  }

  // The keys whose stored value is an envelope of the value inserted.
  std::set<std::string> CompressedKeys() const {
    std::set<std::string> keys;
    for (const auto& [key, stored] : AllValues(db_->FilePath(), "select cast(k as text), v from t")) {
      if (!HasEnvelopeHeader(stored)) {
        EXPECT_EQ(stored, ValueFor(key)) << key;
        continue;
      }
      EXPECT_EQ(PlainOf(stored), ValueFor(key)) << key;
      keys.insert(key);
    }
    return keys;
  }

  // Runs a pass that ends early as `end` says, checks that exactly the rows
  // it committed are rewritten and that its resume key covers them, then
  // resumes from that key and checks that every row is rewritten once.
  void StopAndResume(const std::vector<std::string>& all_keys, const TRecompressOptions& options, int stop_after,
                     int fail_at, int cancel_at, TPassEnd end) {
    ResetPassCancel();
    const RunOutcome first = Run(options, stop_after, fail_at, cancel_at);
    ASSERT_FALSE(first.ok);
    ASSERT_EQ(first.report.end, end) << first.out;
    const std::set<std::string> after_first = CompressedKeys();
    EXPECT_EQ(static_cast<int32_t>(after_first.size()), first.processed);
    ASSERT_FALSE(first.report.resume_key.IsNull());
    // The rows of the first run up to its resume key are exactly those it rewrote.
    const std::string resume = KeyText(first.report.resume_key);
    std::set<std::string> up_to_resume;
    for (const std::string& key : first.written) {
      up_to_resume.insert(key);
      if (key == resume) break;
    }
    EXPECT_EQ(up_to_resume, after_first) << "resume key " << resume;
    // The account of the run says the same.
    TRunAccount account;
    TakePassReport(first.report, first.processed, first.skipped, account);
    const std::string json = RunAccountJson(account);
    const char* const ends[] = {"completed", "failed", "cancelled", "stopped"};
    EXPECT_NE(json.find(std::string("\"end\": \"") + ends[static_cast<int>(end)] + "\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"records_processed\": " + std::to_string(first.processed) + ","), std::string::npos) << json;
    EXPECT_NE(json.find("\"last_key\": " + JsonString(resume) + ","), std::string::npos) << json;
    EXPECT_NE(json.find("\"first_key\": " + JsonString(first.written.front()) + ","), std::string::npos) << json;
    EXPECT_EQ(json.find("\"error\": null") == std::string::npos, end == TPassEnd::Failed) << json;

    TRecompressOptions again = options;
    again.from_key = resume;
    const RunOutcome second = Run(again);
    ASSERT_TRUE(second.ok) << second.out;
    EXPECT_EQ(second.report.end, TPassEnd::Completed);
    for (const std::string& key : second.written) EXPECT_EQ(after_first.count(key), 0u) << key << " again";
    EXPECT_EQ(first.processed + second.processed, static_cast<int32_t>(all_keys.size()));
    EXPECT_EQ(CompressedKeys(), std::set<std::string>(all_keys.begin(), all_keys.end()));
  }

  std::unique_ptr<TestDatabase> db_;
  std::unique_ptr<TvrDatabase> database_;
};

TEST_P(ResumeTest, AStopAtTheTimeLimitCommitsWhatIsDoneAndResumesWithTheRest) {
  CreateTextTable(AwkwardKeys());
  Connect();
  for (int batch : {1, 3}) {
    SCOPED_TRACE("batch " + std::to_string(batch));
    TRecompressOptions options;
    options.batch_rows = batch;
    ResetPassCancel();
    const RunOutcome probe = Run(options, 5);
    // Stopped at the row boundary after the fifth write, every write committed.
    EXPECT_EQ(probe.report.end, TPassEnd::Stopped);
    EXPECT_EQ(probe.processed, 5);
    EXPECT_EQ(probe.out, "");
    EXPECT_EQ(CompressedKeys().size(), 5u);
    // The second half from the key it gave.
    TRecompressOptions again = options;
    again.from_key = KeyText(probe.report.resume_key);
    const RunOutcome rest = Run(again);
    ASSERT_TRUE(rest.ok) << rest.out;
    EXPECT_EQ(rest.processed, static_cast<int32_t>(AwkwardKeys().size()) - 5);
    EXPECT_EQ(CompressedKeys().size(), AwkwardKeys().size());
    // Back to plain for the next batch size.
    int32_t processed = 0;
    int32_t skipped = 0;
    ASSERT_TRUE(RecompressTable(false, 2, "t", "v", "k", {}, processed, skipped));
  }
}

TEST_P(ResumeTest, StoppedWithABatchOpenResumesWithEveryRowOnce) {
  CreateTextTable(AwkwardKeys());
  Connect();
  TRecompressOptions options;
  options.batch_rows = 4;
  StopAndResume(AwkwardKeys(), options, 6, 0, 0, TPassEnd::Stopped);
}

TEST_P(ResumeTest, AFailedBatchResumesAfterTheLastCommittedRow) {
  CreateTextTable(AwkwardKeys());
  Connect();
  TRecompressOptions options;
  options.batch_rows = 4;
  // Rows 5 and 6 are in the open batch when the seventh write fails: they
  // are rolled back, and the key to resume with is the fourth's.
  StopAndResume(AwkwardKeys(), options, 0, 7, 0, TPassEnd::Failed);
}

TEST_P(ResumeTest, ACancelledBatchResumesAfterTheLastCommittedRow) {
  CreateTextTable(AwkwardKeys());
  Connect();
  TRecompressOptions options;
  options.batch_rows = 3;
  StopAndResume(AwkwardKeys(), options, 0, 0, 5, TPassEnd::Cancelled);
  ResetPassCancel();
}

TEST_P(ResumeTest, NumberKeysStartAfterTheNumberNotTheText) {
  CreateNumberTable(25);
  Connect();
  TRecompressOptions options;
  options.from_key = "9";
  const RunOutcome r = Run(options);
  ASSERT_TRUE(r.ok) << r.out;
  // As text "9" sorts after "10" to "25": read as a number it comes before them.
  std::set<std::string> expected;
  for (int i = 10; i <= 25; ++i) expected.insert(std::to_string(i));
  EXPECT_EQ(CompressedKeys(), expected);
  EXPECT_EQ(r.processed, 16);
  EXPECT_EQ(KeyText(r.report.first_key), "10");
  EXPECT_EQ(KeyText(r.report.resume_key), "25");
}

TEST_P(ResumeTest, NumberKeysStoppedAndResumed) {
  CreateNumberTable(30);
  Connect();
  std::vector<std::string> keys;
  for (int i = 1; i <= 30; ++i) keys.push_back(std::to_string(i));
  TRecompressOptions options;
  options.batch_rows = 7;
  StopAndResume(keys, options, 12, 0, 0, TPassEnd::Stopped);
}

TEST_P(ResumeTest, AStartKeyTheKeyColumnCannotHoldEndsThePassBeforeAnyWrite) {
  CreateNumberTable(5);
  Connect();
  for (const char* bad : {"nine", "9.5", "", "0x09", "99999999999999999999"}) {
    TRecompressOptions options;
    options.from_key = bad;
    const RunOutcome r = Run(options);
    EXPECT_FALSE(r.ok) << bad;
    EXPECT_EQ(r.report.end, TPassEnd::Failed) << bad;
    EXPECT_TRUE(r.written.empty()) << bad;
    // Standard output keeps its contract; the reason went to standard error.
    EXPECT_EQ(r.out, "") << bad;
  }
  EXPECT_TRUE(CompressedKeys().empty());
}

TEST_P(ResumeTest, VerifyStartsAfterTheKeyToo) {
  CreateNumberTable(12);
  Connect();
  TRecompressOptions options;
  options.from_key = "8";
  TVerifyResult result;
  VerifyTable("t", "v", "k", options, result);
  EXPECT_EQ(result.records, 4);
  EXPECT_EQ(result.plain, 4);
  options.from_key = "x";
  EXPECT_THROW(VerifyTable("t", "v", "k", options, result), std::exception);
}

INSTANTIATE_TEST_SUITE_P(Providers, ResumeTest, ::testing::ValuesIn(AvailableProviders()), ProviderName());

}  // namespace
}  // namespace tersify::testing
