#include "log/log_writer.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "framework/rtl/application.h"
#include "framework/rtl/component.h"
#include "framework/rtl/platform.h"
#include "log/debug_output.h"
#include "log/vr_log.h"
#include "tests/log/log_test_support.h"

namespace tersify {

// Components named after the classes of a caller; the log writes class names.
class TqryOrders : public TComponent {
 public:
  using TComponent::TComponent;
};
class TBrennHelper : public TComponent {
 public:
  using TComponent::TComponent;
};
class TBRENNHELPER : public TComponent {
 public:
  using TComponent::TComponent;
};
class TbrennHelper : public TComponent {
 public:
  using TComponent::TComponent;
};

namespace {

using testing::LogRow;
using testing::ReadLog;
using testing::ScratchDir;
using testing::SqliteConnection;

// True once done() holds; false when it still does not after ten seconds.
bool WaitUntil(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::optional<std::string> Text(const char* text) { return std::string(text); }

// The log set up as an application would: a file name, an application name,
// a build number and the layer's hooks (trace switch off unless a test turns
// it on).
class LogWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ShutdownLogUnit();
    SetLogLayerHooks({[this] { return trace_.load(); },
                      [this](TObject* sender) -> std::string {
                        if (describe_fails_) throw Exception("cannot describe");
                        return "described " + sender->ClassName();
                      }});
    SetLogFileName(path_);
    SetLogAppName("tersify");
    SetLogBuildNo("17");
  }
  void TearDown() override {
    ShutdownLogUnit();
    SetLogLayerHooks({});
    SetLogScreenHooks({});
    OverrideWindbgSwitch(std::nullopt);
  }

  std::shared_ptr<TvrLog> Log() {
    auto log = std::dynamic_pointer_cast<TvrLog>(GetLog());
    EXPECT_NE(log, nullptr);
    return log;
  }
  std::vector<LogRow> FlushAndRead() {
    EXPECT_EQ(Log()->Flush(), 0);
    return ReadLog(path_);
  }
  // An error entry made while handling error, as a caller's catch block does.
  template <class E>
  void LogWhileHandling(const E& error, TObject* sender, const std::string& operation,
                        const std::string& report = "") {
    try {
      throw error;
    } catch (const Exception& e) {
      LogError(e, sender, operation, report);
    }
  }

  ScratchDir dir_;
  const std::string path_ = dir_.File("log.db");
  std::atomic<bool> trace_{false};
  std::atomic<bool> describe_fails_{false};
};

TEST_F(LogWriterTest, EntriesWaitInMemoryUntilTheBatchIsFlushed) {
  TvrLog log(path_, {std::chrono::hours(1), 4000});
  ASSERT_TRUE(log.DatabaseOpen());
  EXPECT_FALSE(log.TimerEnabled());
  trace_ = true;
  TqryOrders query(nullptr);
  log.LogTrace(&query, "BeforeOpen", "SQL --> select 1");
  log.LogException(nullptr, &query, "Post", "");
  log.LogTrace(&query, "AfterOpen", "SQL --> select 1");

  EXPECT_TRUE(ReadLog(path_).empty());
  EXPECT_EQ(log.Batch().size(), 3u);
  EXPECT_TRUE(log.TimerEnabled());

  EXPECT_EQ(log.Flush(), 0);
  auto rows = ReadLog(path_);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["Operation"], Text("BeforeOpen"));
  EXPECT_EQ(rows[1]["Operation"], Text("Post"));
  EXPECT_EQ(rows[2]["Operation"], Text("AfterOpen"));
  EXPECT_TRUE(log.Batch().empty());
  EXPECT_FALSE(log.TimerEnabled());
  EXPECT_EQ(log.Flush(), 0);
  EXPECT_EQ(ReadLog(path_).size(), 3u);
}

TEST_F(LogWriterTest, TheTimerWritesABatchAboutASecondAfterItsFirstEntry) {
  LogError(nullptr, nullptr, "first", "");
  LogError(nullptr, nullptr, "second", "");
  EXPECT_TRUE(WaitUntil([&] { return ReadLog(path_).size() == 2; }));
  EXPECT_TRUE(WaitUntil([&] { return !Log()->TimerEnabled(); }));
  LogError(nullptr, nullptr, "third", "");
  EXPECT_TRUE(WaitUntil([&] { return ReadLog(path_).size() == 3; }));
}

// One batch, one transaction: a statement that fails takes the whole batch
// back, so no row of it is written on its own.
TEST_F(LogWriterTest, ABatchIsWrittenWholeOrNotAtAll) {
  TvrLog log(path_, {std::chrono::hours(1), 4000});
  log.LogException(nullptr, nullptr, "one", "");
  log.QueueStatement(" insert into nowhere values (1); ");
  log.LogException(nullptr, nullptr, "two", "");
  EXPECT_EQ(log.Flush(), SQLITE_ERROR);
  EXPECT_TRUE(ReadLog(path_).empty());
  EXPECT_EQ(log.Batch().size(), 3u);
  EXPECT_NE(log.LastFlushFailure().find("nowhere"), std::string::npos);
}

TEST_F(LogWriterTest, TraceRowHoldsTheTracedComponentAndTheCallersText) {
  trace_ = true;
  SetLogScreenHooks({[] { return std::string("frmActive"); }, [] { return std::string("edtSearch"); }});
  TComponent form(nullptr);
  form.SetName("frmOrders");
  auto* query = MakeComponent<TqryOrders>(&form);
  query->SetName("qryOrders");

  uint32_t before = GetTickCount();
  LogOperation(query, "BeforeOpen", "SQL --> select \"Id\" from orders");
  uint32_t after = GetTickCount();

  auto rows = FlushAndRead();
  ASSERT_EQ(rows.size(), 1u);
  LogRow& row = rows[0];
  EXPECT_EQ(row["AnNo"], Text("1"));
  EXPECT_TRUE(row["Cas"].has_value());
  EXPECT_EQ(row["AppName"], Text("tersify"));
  EXPECT_EQ(row["FormName"], Text("frmOrders"));
  EXPECT_EQ(row["ControlName"], Text("edtSearch"));
  EXPECT_EQ(row["Sendername"], Text("TqryOrders"));
  EXPECT_EQ(row["ObjectName"], Text("qryOrders"));
  EXPECT_EQ(row["Operation"], Text("BeforeOpen"));
  EXPECT_EQ(row["ExceptObject"], std::nullopt);
  EXPECT_EQ(row["BuildNo"], Text("17"));
  EXPECT_EQ(row["typeof(BuildNo)"], Text("integer"));
  EXPECT_EQ(row["typeof(TickCount)"], Text("integer"));
  uint32_t tick = static_cast<uint32_t>(std::stoull(*row["TickCount"]));
  EXPECT_LE(tick - before, after - before);  // also across a wrap of the counter
  EXPECT_EQ(row["Error"], std::nullopt);
  EXPECT_EQ(row["SenderProp"], Text("SQL --> select \"Id\" from orders"));
}

TEST_F(LogWriterTest, TraceOfAComponentWithoutOwnerWritesNil) {
  trace_ = true;
  TqryOrders query(nullptr);
  LogOperation(&query, "AfterExecute", "");
  auto rows = FlushAndRead();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["FormName"], Text("<nil>"));
  EXPECT_EQ(rows[0]["ObjectName"], std::nullopt);
  EXPECT_EQ(rows[0]["ControlName"], std::nullopt);
  EXPECT_EQ(rows[0]["SenderProp"], std::nullopt);
}

TEST_F(LogWriterTest, TraceRowsOnlyWhileTheLayersTraceSwitchIsOn) {
  TqryOrders query(nullptr);
  LogOperation(&query, "BeforeOpen", "SQL --> select 1");
  EXPECT_FALSE(FileExists(path_)) << "a trace with tracing off created the log";

  LogError(nullptr, &query, "Post", "");
  LogOperation(&query, "AfterOpen", "SQL --> select 1");
  trace_ = true;
  LogOperation(&query, "BeforeExecute", "SQL --> update t");
  trace_ = false;
  LogOperation(&query, "AfterExecute", "SQL --> update t");

  auto rows = FlushAndRead();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["Operation"], Text("Post"));
  EXPECT_EQ(rows[1]["Operation"], Text("BeforeExecute"));
}

TEST_F(LogWriterTest, ErrorRowHoldsTheHandledExceptionAndDescribesTheSender) {
  SetLogScreenHooks({[] { return std::string("frmMain"); }, [] { return std::string("btnRun"); }});
  TqryOrders query(nullptr);
  query.SetName("qryOrders");
  LogWhileHandling(EConvertError("'x' is not a valid integer"), &query, "SaveRow", "pressed Save twice");

  auto rows = FlushAndRead();
  ASSERT_EQ(rows.size(), 1u);
  LogRow& row = rows[0];
  EXPECT_EQ(row["FormName"], Text("frmMain"));
  EXPECT_EQ(row["ControlName"], Text("btnRun"));
  EXPECT_EQ(row["Sendername"], Text("TqryOrders"));
  EXPECT_EQ(row["ObjectName"], Text("qryOrders"));
  EXPECT_EQ(row["AppName"], Text("tersify"));
  EXPECT_EQ(row["BuildNo"], Text("17"));
  EXPECT_EQ(row["Operation"], Text("SaveRow"));
  EXPECT_EQ(row["ExceptObject"], Text("EConvertError"));
  EXPECT_EQ(row["Error"], Text("'x' is not a valid integer"));
  EXPECT_EQ(row["SenderProp"], Text("described TqryOrders\r\nBug Report --> pressed Save twice"));
}

TEST_F(LogWriterTest, ExceptObjectNamesTheExceptionBeingHandled) {
  try {
    throw EStreamError("read failed");
  } catch (const Exception&) {
    LogError(Exception("while saving"), nullptr, "Save", "");
  }
  auto rows = FlushAndRead();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["ExceptObject"], Text("EStreamError"));
  EXPECT_EQ(rows[0]["Error"], Text("while saving"));
}

TEST_F(LogWriterTest, SilentAndUnhandledExceptionsWriteNothing) {
  LogWhileHandling(EAbort(), nullptr, "Aborted");
  LogError(Exception("not being handled"), nullptr, "Outside", "");
  LogError(nullptr, nullptr, "NoException", "");

  auto rows = FlushAndRead();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["Operation"], Text("NoException"));
  EXPECT_EQ(rows[0]["ExceptObject"], std::nullopt);
  EXPECT_EQ(rows[0]["Error"], std::nullopt);
}

TEST_F(LogWriterTest, WithoutASenderTheApplicationObjectIsTheSender) {
  if (Application == nullptr) {
    LogError(nullptr, nullptr, "NoApplication", "");
    CreateApplication();
  }
  ASSERT_NE(Application, nullptr);
  Application->SetName("TersifyApp");
  LogError(nullptr, nullptr, "WithApplication", "");
  auto rows = FlushAndRead();
  ASSERT_FALSE(rows.empty());
  if (rows.size() == 2) {
    EXPECT_EQ(rows[0]["Sendername"], Text("<Unknown class>"));
    EXPECT_EQ(rows[0]["ObjectName"], std::nullopt);
  }
  EXPECT_EQ(rows.back()["Sendername"], Text("TApplication"));
  EXPECT_EQ(rows.back()["ObjectName"], Text("TersifyApp"));
  EXPECT_EQ(rows.back()["SenderProp"], Text("described TApplication"));
  Application->SetName("");
}

TEST_F(LogWriterTest, AFailingSenderDescriptionStillWritesTheRow) {
  describe_fails_ = true;
  TqryOrders query(nullptr);
  LogWhileHandling(Exception("boom"), &query, "Post", "report");
  auto rows = FlushAndRead();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["Sendername"], Text("TqryOrders"));
  EXPECT_EQ(rows[0]["ExceptObject"], Text("Exception"));
  EXPECT_EQ(rows[0]["Error"], Text("boom"));
  EXPECT_EQ(rows[0]["SenderProp"], std::nullopt);
}

template <class Helper>
class BrennHelperTest : public LogWriterTest {};
using BrennHelperSpellings = ::testing::Types<TBrennHelper, TBRENNHELPER, TbrennHelper>;
TYPED_TEST_SUITE(BrennHelperTest, BrennHelperSpellings);

TYPED_TEST(BrennHelperTest, TheOperationBecomesExecStepAndMovesToSenderProp) {
  TypeParam helper(nullptr);
  this->LogWhileHandling(Exception("step failed"), &helper, "Step 3: load", "at night");
  auto rows = this->FlushAndRead();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["Operation"], Text("ExecStep"));
  EXPECT_EQ(rows[0]["SenderProp"], Text("Step 3: load\r\nBug Report --> at night"));
}

TEST_F(LogWriterTest, ValuesAreStoredAsTheyWereGiven) {
  trace_ = true;
  TqryOrders query(nullptr);
  const std::string quoted = "SQL --> select \"Name\", 'x' from \"Order Details\"\r\nwhere a = \"\"";
  const std::string latin1 = "Stra\xDF" "e \xE9";
  LogOperation(&query, quoted, latin1);
  LogOperation(&query, std::string("\0\0\0", 3), "AnNo");
  LogOperation(&query, "CURRENT_TIMESTAMP", std::string("a\0b", 3));

  auto rows = FlushAndRead();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["Operation"], quoted);
  EXPECT_EQ(rows[0]["SenderProp"], latin1);
  EXPECT_EQ(rows[1]["Operation"], std::nullopt);
  EXPECT_EQ(rows[1]["SenderProp"], Text("AnNo"));
  EXPECT_EQ(rows[2]["Operation"], Text("CURRENT_TIMESTAMP"));
  EXPECT_EQ(rows[2]["SenderProp"], Text("ab"));
}

TEST_F(LogWriterTest, ABusyDatabaseKeepsTheBatchAheadOfNewEntries) {
  TvrLog log(path_, {std::chrono::hours(1), 100});
  log.LogException(nullptr, nullptr, "one", "");
  log.LogException(nullptr, nullptr, "two", "");
  const auto first_batch = log.Batch();
  auto other = std::make_unique<SqliteConnection>(path_);
  other->Exec("BEGIN EXCLUSIVE");

  EXPECT_EQ(log.Flush(), SQLITE_BUSY);
  EXPECT_EQ(log.LastFlushFailure(), "  INSERT timed out!");
  EXPECT_EQ(log.Batch(), first_batch);
  EXPECT_TRUE(log.TimerEnabled());

  log.LogException(nullptr, nullptr, "three", "");
  EXPECT_EQ(log.Batch().size(), 3u);
  EXPECT_EQ(log.Flush(), SQLITE_BUSY);  // still held: the same statements stay
  EXPECT_EQ(log.Batch().size(), 3u);

  other.reset();
  EXPECT_EQ(log.Flush(), 0);
  auto rows = ReadLog(path_);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["Operation"], Text("one"));
  EXPECT_EQ(rows[1]["Operation"], Text("two"));
  EXPECT_EQ(rows[2]["Operation"], Text("three"));
}

TEST_F(LogWriterTest, TheTimerOffersAFailedBatchAgain) {
  TvrLog log(path_, {std::chrono::milliseconds(20), 20});
  auto other = std::make_unique<SqliteConnection>(path_);
  other->Exec("BEGIN EXCLUSIVE");
  log.LogException(nullptr, nullptr, "held", "");
  ASSERT_TRUE(WaitUntil([&] { return !log.LastFlushFailure().empty(); }));
  EXPECT_EQ(log.Batch().size(), 1u);
  other.reset();
  EXPECT_TRUE(WaitUntil([&] { return ReadLog(path_).size() == 1; }));
  EXPECT_TRUE(WaitUntil([&] { return log.Batch().empty() && !log.TimerEnabled(); }));
}

TEST_F(LogWriterTest, AnUnwritableDirectoryKeepsEntriesInMemory) {
  const std::string missing = dir_.File("missing/log.db");
  SetLogFileName(missing);
  LogError(nullptr, nullptr, "one", "");
  auto log = Log();
  ASSERT_NE(log, nullptr);
  EXPECT_FALSE(log->DatabaseOpen());
  EXPECT_EQ(log->Flush(), 1);
  EXPECT_EQ(log->Batch().size(), 1u);
  LogError(nullptr, nullptr, "two", "");
  EXPECT_EQ(log->Flush(), 1);
  EXPECT_EQ(log->Batch().size(), 2u);
  EXPECT_FALSE(DirectoryExists(dir_.File("missing")));
}

TEST_F(LogWriterTest, ALogThatCannotBeOpenedFailsTheEntryAndIsTriedAgain) {
  std::ofstream(path_) << std::string(4096, 'x');
  EXPECT_THROW(LogError(nullptr, nullptr, "first", ""), ESQLiteError);
  EXPECT_THROW(GetLog(), ESQLiteError);
  ASSERT_TRUE(RemoveFile(path_));
  LogError(nullptr, nullptr, "second", "");
  auto rows = FlushAndRead();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["Operation"], Text("second"));
}

TEST_F(LogWriterTest, ShutdownDropsTheBatchAndSwitchesTheLogOff) {
  LogError(nullptr, nullptr, "written", "");
  ASSERT_EQ(Log()->Flush(), 0);
  LogError(nullptr, nullptr, "lost", "");
  ShutdownLogUnit();
  EXPECT_EQ(LogFileName(), "");
  EXPECT_EQ(LogAppName(), "");
  EXPECT_EQ(LogBuildNo(), "");
  EXPECT_EQ(GetLog(), nullptr);
  LogError(nullptr, nullptr, "after", "");
  auto rows = ReadLog(path_);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["Operation"], Text("written"));
}

// The transaction-log saving threads report from their own threads while the
// main thread traces and the timer flushes: every row arrives, and each
// thread's rows keep their order.
TEST_F(LogWriterTest, EntriesFromSeveralThreadsAllArriveInTheirOrder) {
  trace_ = true;
  constexpr int kThreads = 4, kEach = 100;
  TqryOrders query(nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kEach; ++i) {
        LogWhileHandling(Exception(std::to_string(i)), nullptr, "SaveTransLogError", "thread " + std::to_string(t));
      }
    });
  }
  for (int i = 0; i < kEach; ++i) {
    LogOperation(&query, "BeforeOpen", std::to_string(i));
    if (i % 10 == 0) Log()->Flush();
  }
  for (auto& thread : threads) thread.join();

  auto rows = FlushAndRead();
  ASSERT_EQ(rows.size(), static_cast<size_t>(kThreads * kEach + kEach));
  std::map<std::string, int> next;  // per thread (and the trace rows): the number expected next
  for (auto& row : rows) {
    bool trace = row["Operation"] == Text("BeforeOpen");
    std::string who = trace ? "trace" : *row["SenderProp"];
    int number = std::stoi(trace ? *row["SenderProp"] : *row["Error"]);
    EXPECT_EQ(number, next[who]) << who;
    next[who] = number + 1;
  }
  EXPECT_EQ(next.size(), static_cast<size_t>(kThreads + 1));
}

TEST_F(LogWriterTest, TheWindbgSwitchCopiesEveryEntryToTheDebuggerOutput) {
  trace_ = true;
  TqryOrders query(nullptr);
  query.SetName("qryOrders");

  ::testing::internal::CaptureStderr();
  LogOperation(&query, "BeforeOpen", "SQL --> select 1");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  OverrideWindbgSwitch(true);
  ::testing::internal::CaptureStderr();
  LogOperation(&query, "AfterOpen", "SQL --> select 1");
  LogWhileHandling(EConvertError("bad \"x\""), &query, "Post", "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "\"<nil>\",NULL,\"TqryOrders\",\"qryOrders\",\"AfterOpen\",\"SQL --> select 1\"\n"
            "NULL,NULL,\"TqryOrders\",\"qryOrders\",\"Post\",\"EConvertError\",\"bad \"\"x\"\"\","
            "\"described TqryOrders\"\n");
  EXPECT_EQ(FlushAndRead().size(), 3u);
}

}  // namespace
}  // namespace tersify
