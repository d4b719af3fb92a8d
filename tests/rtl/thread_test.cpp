#include "framework/rtl/thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include <gtest/gtest.h>

namespace tersify {
namespace {

using namespace std::chrono_literals;
constexpr auto kTimeout = 10s;

// A latch the tests use to hold a body or to learn that something happened.
class Signal {
 public:
  void Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    changed_.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kTimeout, [this] { return set_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
};

class RecordingThread : public TThread {
 public:
  RecordingThread(bool suspended, Signal* entered, Signal* release, int result)
      : TThread(suspended), entered_(entered), release_(release), result_(result) {}

  std::atomic<bool> ran{false};
  std::thread::id body_thread;

 protected:
  void Execute() override {
    body_thread = std::this_thread::get_id();
    ran = true;
    if (entered_) entered_->Set();
    if (release_) release_->Wait();
    SetReturnValue(result_);
  }

 private:
  Signal* entered_;
  Signal* release_;
  int result_;
};

TEST(ThreadTest, RunningThreadRunsItsBodyOnAnotherThreadAndGivesItsReturnValue) {
  auto thread = TThread::Create<RecordingThread>(false, nullptr, nullptr, 42);
  EXPECT_EQ(thread->WaitFor(), 42);
  EXPECT_TRUE(thread->ran);
  EXPECT_TRUE(thread->Finished());
  EXPECT_NE(thread->body_thread, std::this_thread::get_id());
  EXPECT_FALSE(thread->FatalException());
}

TEST(ThreadTest, SuspendedThreadWaitsForStart) {
  Signal entered;
  auto thread = TThread::Create<RecordingThread>(true, &entered, nullptr, 7);
  EXPECT_FALSE(thread->Started());
  EXPECT_FALSE(thread->ran);
  EXPECT_THROW(thread->WaitFor(), EThread);
  thread->Start();
  ASSERT_TRUE(entered.Wait());
  EXPECT_EQ(thread->WaitFor(), 7);
  EXPECT_THROW(thread->Start(), EThread);
}

TEST(ThreadTest, TimedWaitReportsARunningBody) {
  Signal entered, release;
  auto thread = TThread::Create<RecordingThread>(false, &entered, &release, 0);
  ASSERT_TRUE(entered.Wait());
  EXPECT_FALSE(thread->WaitFor(1ms));
  EXPECT_FALSE(thread->Finished());
  release.Set();
  EXPECT_TRUE(thread->WaitFor(std::chrono::duration_cast<std::chrono::milliseconds>(kTimeout)));
}

class PollingThread : public TThread {
 public:
  PollingThread(Signal* entered, bool* saw_terminated)
      : TThread(false), entered_(entered), saw_terminated_(saw_terminated) {}
  ~PollingThread() override { *saw_terminated_ = saw_; }

 protected:
  void Execute() override {
    entered_->Set();
    while (!Terminated()) std::this_thread::yield();
    saw_ = true;
  }

 private:
  Signal* entered_;
  bool* saw_terminated_;
  bool saw_ = false;
};

TEST(ThreadTest, TerminateIsSeenByTheBody) {
  Signal entered;
  bool saw_terminated = false;
  auto thread = TThread::Create<PollingThread>(&entered, &saw_terminated);
  ASSERT_TRUE(entered.Wait());
  EXPECT_FALSE(thread->Terminated());
  thread->Terminate();
  EXPECT_TRUE(thread->Terminated());
  thread->WaitFor();
  thread.reset();
  EXPECT_TRUE(saw_terminated);
}

TEST(ThreadTest, DestroyingAnOwnedRunningThreadTerminatesAndWaitsForItsBody) {
  Signal entered;
  bool saw_terminated = false;
  auto thread = TThread::Create<PollingThread>(&entered, &saw_terminated);
  ASSERT_TRUE(entered.Wait());
  thread.reset();  // would hang, or use the object after its end, without the wait
  EXPECT_TRUE(saw_terminated);
}

TEST(ThreadTest, DestroyingASuspendedThreadThatNeverRanIsFine) {
  auto thread = TThread::Create<RecordingThread>(true, nullptr, nullptr, 0);
  EXPECT_FALSE(thread->ran);
  thread.reset();
}

class SelfFreeingThread : public TThread {
 public:
  SelfFreeingThread(Signal* release, Signal* destroyed) : TThread(false), release_(release), destroyed_(destroyed) {
    SetFreeOnTerminate(true);
  }
  ~SelfFreeingThread() override { destroyed_->Set(); }

 protected:
  void Execute() override { release_->Wait(); }

 private:
  Signal* release_;
  Signal* destroyed_;
};

TEST(ThreadTest, FreeOnTerminateThreadDestroysItselfWhenItsBodyEnds) {
  Signal release, destroyed;
  TThread::Launch<SelfFreeingThread>(&release, &destroyed);
  release.Set();
  EXPECT_TRUE(destroyed.Wait());  // LeakSanitizer reports the object if it were not freed
}

// A thread made suspended that does not free itself by its own choice.
class SuspendedThread : public RecordingThread {
 public:
  SuspendedThread(Signal* entered, Signal* destroyed) : RecordingThread(true, entered, nullptr, 0), destroyed_(destroyed) {}
  ~SuspendedThread() override { destroyed_->Set(); }

 private:
  Signal* destroyed_;
};

TEST(ThreadTest, LaunchMakesAnyThreadFreeItselfAndStartsASuspendedOne) {
  Signal entered, destroyed;
  TThread::Launch<SuspendedThread>(&entered, &destroyed);
  EXPECT_TRUE(entered.Wait());
  EXPECT_TRUE(destroyed.Wait());
}

TEST(ThreadTest, CreateRefusesAClassThatFreesItself) {
  Signal release, destroyed;
  release.Set();
  EXPECT_THROW(TThread::Create<SelfFreeingThread>(&release, &destroyed), EThread);
}

class ThrowingThread : public TThread {
 public:
  ThrowingThread(bool framework_error) : TThread(false), framework_error_(framework_error) {}

 protected:
  void Execute() override {
    if (framework_error_) throw Exception("body failed");
    throw std::runtime_error("not of the family");
  }

 private:
  bool framework_error_;
};

TEST(ThreadTest, AnExceptionEscapingTheBodyIsKeptNotFatalToTheProcess) {
  for (bool framework_error : {true, false}) {
    auto thread = TThread::Create<ThrowingThread>(framework_error);
    thread->WaitFor();
    std::exception_ptr fatal = thread->FatalException();
    ASSERT_TRUE(fatal);
    try {
      std::rethrow_exception(fatal);
    } catch (const Exception& e) {
      EXPECT_TRUE(framework_error);
      EXPECT_EQ(e.Message(), "body failed");
    } catch (const std::runtime_error&) {
      EXPECT_FALSE(framework_error);
    }
  }
}

class SelfWaitingThread : public TThread {
 public:
  SelfWaitingThread() : TThread(false) {}
  bool refused = false;

 protected:
  void Execute() override {
    try {
      WaitFor();
    } catch (const EThread&) {
      refused = true;
    }
  }
};

TEST(ThreadTest, ABodyCannotWaitForItself) {
  auto thread = TThread::Create<SelfWaitingThread>();
  thread->WaitFor();
  EXPECT_TRUE(thread->refused);
}

}  // namespace
}  // namespace tersify
