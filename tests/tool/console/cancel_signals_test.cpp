// SIGINT and SIGTERM during a pass: the first asks the pass to stop and leaves
// the process running, a second ends it, and the handlers from before come
// back when the pass is over.

#include "tool/console/cancel_signals.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include <gtest/gtest.h>

#include "tool/pass/cancel.h"

namespace tersify {
namespace {

std::atomic<int> earlier_handler_calls{0};
extern "C" void EarlierHandler(int) { earlier_handler_calls.fetch_add(1); }

// Installs EarlierHandler for the signal for the life of the object.
class EarlierHandlerInstalled {
 public:
  explicit EarlierHandlerInstalled(int signal_number) : signal_number_(signal_number) {
    struct sigaction action {};
    action.sa_handler = EarlierHandler;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, &saved_);
  }
  ~EarlierHandlerInstalled() { sigaction(signal_number_, &saved_, nullptr); }

 private:
  int signal_number_;
  struct sigaction saved_ {};
};

class CancelSignals : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ResetPassCancel();
    earlier_handler_calls = 0;
  }
  void TearDown() override { ResetPassCancel(); }
};

TEST_P(CancelSignals, FirstSignalAsksThePassToStopAndTheProcessGoesOn) {
  const int signal_number = GetParam();
  EarlierHandlerInstalled earlier(signal_number);
  {
    const PassCancelSignals signals;
    ASSERT_EQ(raise(signal_number), 0);
    EXPECT_EQ(PassCancelSignal(), signal_number);
  }
  EXPECT_EQ(earlier_handler_calls.load(), 0) << "the earlier handler ran during the pass";
}

// Either signal after the first takes its default action, which ends the
// process: each case runs in a child.
TEST_P(CancelSignals, SecondSignalWhileStoppingEndsTheProcess) {
  const int first = GetParam();
  for (const int second : {SIGINT, SIGTERM}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const PassCancelSignals signals;
      raise(first);
      if (PassCancelSignal() != first) _exit(3);
      raise(second);
      _exit(4);  // not reached
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "second signal " << second << ": the child exited with "
                                     << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), second);
  }
}

TEST_P(CancelSignals, EarlierHandlerIsBackAfterThePass) {
  const int signal_number = GetParam();
  EarlierHandlerInstalled earlier(signal_number);
  { const PassCancelSignals signals; }
  ASSERT_EQ(raise(signal_number), 0);
  EXPECT_EQ(earlier_handler_calls.load(), 1);
  EXPECT_EQ(PassCancelSignal(), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, CancelSignals, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

}  // namespace
}  // namespace tersify
