#pragma once
// Threads: a TThread runs its Execute body once on a thread of its own. A
// thread is made through TThread::Create (the caller owns it) or TThread::Launch
// (it owns itself and is destroyed when its body ends: FreeOnTerminate). A
// thread made running starts once its construction is complete; one made
// suspended starts with Start.
//
// An exception that escapes Execute ends the body; it is kept as FatalException
// and never takes the process down.

#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "framework/rtl/exception.h"
#include "framework/rtl/object.h"

namespace tersify {

class EThread : public Exception {
 public:
  using Exception::Exception;
};

class TThread;

// Destroys a thread that somebody owns: asks a running body to end and waits
// for it first, so that the body never sees its object half destroyed.
struct TThreadDeleter {
  void operator()(TThread* thread) const;
};
template <class T>
using TThreadPtr = std::unique_ptr<T, TThreadDeleter>;

class TThread : public TObject {
 public:
  // Constructs and, unless the thread was created suspended, starts a T. The
  // caller owns it; destroying it terminates and waits for a running body.
  // Raises EThread for a class whose constructor set FreeOnTerminate (use Launch).
  template <class T, class... Args>
  static TThreadPtr<T> Create(Args&&... args) {
    TThreadPtr<T> thread(new T(std::forward<Args>(args)...));
    TThread& base = *thread;
    if (base.free_on_terminate_) {
      throw EThread("A thread that frees itself on termination cannot have another owner");
    }
    if (!base.create_suspended_) base.Start();
    return thread;
  }

  // Constructs a T, makes it free itself on termination and starts it (also when
  // it was created suspended). Nobody keeps a reference to it.
  template <class T, class... Args>
  static void Launch(Args&&... args) {
    std::unique_ptr<T> thread(new T(std::forward<Args>(args)...));
    TThread& base = *thread;
    base.free_on_terminate_ = true;
    base.Start();
    (void)thread.release();  // the thread now owns itself
  }

  ~TThread() override;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts a suspended thread. Raises EThread when it was started already or
  // when the system refuses a new thread.
  void Start();
  bool Started() const;
  // True once the body has returned (or raised).
  bool Finished() const;

  // Asks the body to end: sets Terminated, which Execute is expected to poll.
  void Terminate();
  bool Terminated() const;

  // Waits until the body has returned and gives ReturnValue. Raises EThread for
  // a thread that was never started, that frees itself, or when called from
  // the thread itself.
  int WaitFor();
  // As WaitFor, for at most timeout; false when the body is still running then.
  bool WaitFor(std::chrono::milliseconds timeout);

  bool FreeOnTerminate() const { return free_on_terminate_; }
  int ReturnValue() const { return return_value_; }
  // The exception that escaped Execute, if any.
  std::exception_ptr FatalException() const;
  // The identity of the running thread; a default id before Start.
  std::thread::id ThreadID() const;

 protected:
  explicit TThread(bool create_suspended);

  // The body, run once on the new thread.
  virtual void Execute() = 0;

  // For constructors of classes that always free themselves (then made with Launch).
  void SetFreeOnTerminate(bool value) { free_on_terminate_ = value; }
  void SetReturnValue(int value) { return_value_ = value; }

 private:
  void Run();
  void CheckWaitable() const;

  const bool create_suspended_;
  bool free_on_terminate_ = false;
  int return_value_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable finished_changed_;
  bool started_ = false;
  bool finished_ = false;
  bool terminated_ = false;
  std::exception_ptr fatal_exception_;
  std::thread thread_;
};

}  // namespace tersify
