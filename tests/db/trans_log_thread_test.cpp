#include "db/trans_log_thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "db/database.h"
#include "db/registries.h"
#include "framework/rtl/application.h"
#include "tests/db/script_test_support.h"

namespace tersify {
namespace {

using namespace std::chrono_literals;
constexpr auto kTimeout = 10s;

// An OnSaveTransToLog handler that records its calls; WaitForCalls waits for them.
struct RecordingHandler {
  struct Call {
    TObject* sender;
    std::string text;
    std::thread::id thread;
  };

  void operator()(TObject* sender, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back({sender, text, std::this_thread::get_id()});
    changed.notify_all();
  }
  bool WaitForCalls(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, kTimeout, [&] { return calls.size() >= count; });
  }
  std::vector<Call> Calls() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Call> calls;
};

class TransLogThreadTest : public testing::LayerFixture, public ::testing::Test {
 protected:
  TransLogThreadTest() : LayerFixture("sqlite") {}
  // Nothing may outlive the test that a saving thread still reads.
  ~TransLogThreadTest() override { EXPECT_TRUE(TSaveTransLogThread::WaitForAll(kTimeout)); }
};

TEST_F(TransLogThreadTest, ABlankTextStartsNoThread) {
  RecordingHandler handler;
  database_->OnSaveTransToLog = TSaveTransToLogEvent::Of(handler);
  MakeDefault();
  const uint64_t before = TSaveTransLogThread::CreatedCount();
  for (const char* text : {"", "   ", " \r\n\t \r\n"}) TSaveTransLogThread::LogText(text);
  EXPECT_EQ(TSaveTransLogThread::CreatedCount(), before);
  EXPECT_TRUE(handler.Calls().empty());
}

TEST_F(TransLogThreadTest, TheTextReachesTheHandlerUnchangedOnAnotherThread) {
  RecordingHandler handler;
  database_->OnSaveTransToLog = TSaveTransToLogEvent::Of(handler);
  MakeDefault();
  const std::string text = "  Overlapped StartTransaction, TransactionCount = 1 \r\n";
  TSaveTransLogThread::LogText(text);
  ASSERT_TRUE(handler.WaitForCalls(1));
  auto calls = handler.Calls();
  EXPECT_EQ(calls[0].sender, database_.get());
  EXPECT_EQ(calls[0].text, text);
  EXPECT_NE(calls[0].thread, std::this_thread::get_id());
  ASSERT_TRUE(TSaveTransLogThread::WaitForAll(kTimeout));
  EXPECT_EQ(handler.Calls().size(), 1u);
  EXPECT_TRUE(sink_->Entries().empty());
}

TEST_F(TransLogThreadTest, WithoutDefaultDatabaseOrHandlerNothingIsCalledOrLogged) {
  RecordingHandler handler;
  // A database with a handler that is not the default database.
  database_->OnSaveTransToLog = TSaveTransToLogEvent::Of(handler);
  const uint64_t before = TSaveTransLogThread::CreatedCount();
  TSaveTransLogThread::LogText("no default database");
  // The default database without a handler.
  TvrDatabase other(nullptr);
  DefaultDatabase = &other;
  TSaveTransLogThread::LogText("no handler");
  EXPECT_EQ(TSaveTransLogThread::CreatedCount(), before + 2);
  ASSERT_TRUE(TSaveTransLogThread::WaitForAll(kTimeout));
  EXPECT_TRUE(handler.Calls().empty());
  EXPECT_TRUE(sink_->Entries().empty());
}

TEST_F(TransLogThreadTest, AHandlerErrorGoesToTheLogAndNotToTheCaller) {
  auto raise = [](TObject*, const std::string& text) { throw EConvertError("cannot keep: " + text); };
  database_->OnSaveTransToLog = TSaveTransToLogEvent::Of(raise);
  MakeDefault();
  TApplication application;
  TApplication* previous = Application;
  Application = &application;
  EXPECT_NO_THROW(TSaveTransLogThread::LogText("the text"));
  ASSERT_TRUE(sink_->WaitForCount(1));
  ASSERT_TRUE(TSaveTransLogThread::WaitForAll(kTimeout));
  Application = previous;
  auto entries = sink_->Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].is_error);
  EXPECT_EQ(entries[0].operation, "SaveTransLogError");
  EXPECT_EQ(entries[0].sender, &application);
  EXPECT_EQ(entries[0].detail, "");
  EXPECT_EQ(entries[0].exception_class, "EConvertError");
  EXPECT_EQ(entries[0].message, "cannot keep: the text");
}

TEST_F(TransLogThreadTest, AnErrorOutsideTheExceptionFamilyIsNotLoggedAndHarmsNobody) {
  auto raise = [](TObject*, const std::string&) { throw std::runtime_error("foreign"); };
  database_->OnSaveTransToLog = TSaveTransToLogEvent::Of(raise);
  MakeDefault();
  TSaveTransLogThread::LogText("the text");
  ASSERT_TRUE(TSaveTransLogThread::WaitForAll(kTimeout));
  EXPECT_TRUE(sink_->Entries().empty());
}

TEST_F(TransLogThreadTest, OverlappingTextsBothArriveOnTheirOwnThreads) {
  // Each call waits until the other has started: they can only both finish
  // when two threads run at the same time.
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> texts;
  bool overlapped = true;
  auto handler = [&](TObject*, const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex);
    texts.push_back(text);
    changed.notify_all();
    if (!changed.wait_for(lock, kTimeout, [&] { return texts.size() >= 2; })) overlapped = false;
  };
  database_->OnSaveTransToLog = TSaveTransToLogEvent::Of(handler);
  MakeDefault();
  TSaveTransLogThread::LogText("first");
  TSaveTransLogThread::LogText("second");
  ASSERT_TRUE(TSaveTransLogThread::WaitForAll(kTimeout));
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_TRUE(overlapped);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_TRUE((texts[0] == "first" && texts[1] == "second") || (texts[0] == "second" && texts[1] == "first"));
}

TEST_F(TransLogThreadTest, ARefusedStartOfATransactionReachesTheHandler) {
  RecordingHandler handler;
  database_->OnSaveTransToLog = TSaveTransToLogEvent::Of(handler);
  MakeDefault();
  database_->SetConnected(true);
  database_->StartTransaction();
  EXPECT_NO_THROW(database_->StartTransaction());
  ASSERT_TRUE(handler.WaitForCalls(1));
  EXPECT_EQ(handler.Calls()[0].text, "Overlapped StartTransaction, TransactionCount = 1");
  database_->Rollback();
}

}  // namespace
}  // namespace tersify
