#include "log/vr_log.h"

#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "framework/rtl/component.h"
#include "framework/rtl/platform.h"
#include "tests/log/recording_log_sink.h"

namespace tersify {
namespace {

using testing::RecordingLogSink;

// Stands in for the layer's start-up: the trace switch and a sender description.
class LayerHooksScope {
 public:
  explicit LayerHooksScope(std::atomic<bool>& trace) {
    SetLogLayerHooks({[&trace] { return trace.load(); },
                      [](TObject* sender) { return "described " + sender->ClassName(); }});
  }
  ~LayerHooksScope() { SetLogLayerHooks({}); }
};

TEST(LogSettingsTest, StartEmptyAndKeepWhatIsWritten) {
  EXPECT_EQ(LogFileName(), "");
  EXPECT_EQ(LogAppName(), "");
  EXPECT_EQ(LogBuildNo(), "");
  SetLogAppName("tersify");
  SetLogBuildNo("17");
  EXPECT_EQ(LogAppName(), "tersify");
  EXPECT_EQ(LogBuildNo(), "17");
  SetLogAppName("");
  SetLogBuildNo("");
}

TEST(LogTest, WithoutAFileNameTheEntryPointsReachNoLog) {
  ASSERT_EQ(LogFileName(), "");
  std::atomic<bool> trace{true};
  LayerHooksScope hooks(trace);
  EXPECT_EQ(GetLog(), nullptr);
  TComponent sender(nullptr);
  LogOperation(&sender, "BeforeExecute", "SQL --> select 1\r\n");
  LogError(Exception("failed"), &sender, "SaveTransLogError", "");
  LogError(nullptr, nullptr, "op", "report");
  EXPECT_EQ(GetLog(), nullptr);
}

TEST(LogTest, AnInstalledSinkTakesErrorsWhateverTheTraceSwitchSays) {
  auto sink = std::make_shared<RecordingLogSink>();
  TScopedLogSink scope(sink);
  std::atomic<bool> trace{false};
  LayerHooksScope hooks(trace);
  EXPECT_EQ(GetLog(), sink);

  TComponent sender(nullptr);
  LogOperation(&sender, "BeforeExecute", "not traced");
  EConvertError error("bad number");
  LogError(error, &sender, "Convert", "the report");
  LogError(nullptr, nullptr, "NoException", "");

  auto entries = sink->Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].is_error);
  EXPECT_EQ(entries[0].sender, &sender);
  EXPECT_EQ(entries[0].operation, "Convert");
  EXPECT_EQ(entries[0].detail, "the report");
  EXPECT_EQ(entries[0].exception_class, "EConvertError");
  EXPECT_EQ(entries[0].message, "bad number");
  EXPECT_FALSE(entries[1].has_exception);
  EXPECT_EQ(entries[1].sender, nullptr);
}

TEST(LogTest, TraceEntriesNeedTheLayersTraceSwitch) {
  auto sink = std::make_shared<RecordingLogSink>();
  TScopedLogSink scope(sink);
  TComponent sender(nullptr);

  LogOperation(&sender, "NoLayer", "");  // no layer started: no switch to read
  std::atomic<bool> trace{false};
  LayerHooksScope hooks(trace);
  LogOperation(&sender, "Off", "");
  trace = true;
  LogOperation(&sender, "On", "SQL --> x\r\n");

  auto entries = sink->Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_FALSE(entries[0].is_error);
  EXPECT_EQ(entries[0].sender, &sender);
  EXPECT_EQ(entries[0].operation, "On");
  EXPECT_EQ(entries[0].detail, "SQL --> x\r\n");
}

TEST(LogTest, SenderDescriptionComesFromTheLayer) {
  TComponent sender(nullptr);
  EXPECT_EQ(LogDescribeSender(&sender), "");
  EXPECT_FALSE(LogTraceEnabled());
  {
    std::atomic<bool> trace{true};
    LayerHooksScope hooks(trace);
    EXPECT_TRUE(LogTraceEnabled());
    EXPECT_EQ(LogDescribeSender(&sender), "described TComponent");
    EXPECT_EQ(LogDescribeSender(nullptr), "");
  }
  EXPECT_EQ(LogDescribeSender(&sender), "");
  EXPECT_FALSE(LogTraceEnabled());
}

TEST(LogTest, ScopedSinkPutsThePreviousSinkBack) {
  auto outer = std::make_shared<RecordingLogSink>();
  TScopedLogSink outer_scope(outer);
  {
    auto inner = std::make_shared<RecordingLogSink>();
    TScopedLogSink inner_scope(inner);
    LogError(nullptr, nullptr, "inner", "");
    EXPECT_EQ(inner->Entries().size(), 1u);
  }
  LogError(nullptr, nullptr, "outer", "");
  ASSERT_EQ(outer->Entries().size(), 1u);
  EXPECT_EQ(outer->Entries()[0].operation, "outer");
}

TEST(LogTest, ErrorsFromSeveralThreadsAllArrive) {
  auto sink = std::make_shared<RecordingLogSink>();
  TScopedLogSink scope(sink);
  constexpr int kThreads = 4, kEach = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < kEach; ++i) LogError(Exception("e"), nullptr, "SaveTransLogError", "");
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(sink->Entries().size(), static_cast<size_t>(kThreads * kEach));
}

}  // namespace
}  // namespace tersify
