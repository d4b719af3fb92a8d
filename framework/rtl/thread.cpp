#include "framework/rtl/thread.h"

#include <string>
#include <system_error>

namespace tersify {

void TThreadDeleter::operator()(TThread* thread) const {
  if (thread == nullptr) return;
  if (thread->Started() && std::this_thread::get_id() != thread->ThreadID()) {
    thread->Terminate();
    thread->WaitFor();
  }
  delete thread;
}

TThread::TThread(bool create_suspended) : create_suspended_(create_suspended) {}

TThread::~TThread() {
  // The body has ended by now (the deleter waited, or this is the body's own
  // thread freeing its object); only the thread handle is left to settle.
  if (!thread_.joinable()) return;
  if (std::this_thread::get_id() == thread_.get_id()) {
    thread_.detach();
  } else {
    Terminate();
    thread_.join();
  }
}

void TThread::Start() {
  // The lock is held until the handle is stored: a body that ends at once and
  // frees its object waits for it in Run.
  std::lock_guard<std::mutex> lock(mutex_);
  if (started_) throw EThread("Cannot call Start on a running or terminated thread");
  try {
    thread_ = std::thread(&TThread::Run, this);
  } catch (const std::system_error& e) {
    throw EThread(std::string("Thread creation error: ") + e.what());
  }
  started_ = true;
}

bool TThread::Started() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

bool TThread::Finished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

void TThread::Terminate() {
  std::lock_guard<std::mutex> lock(mutex_);
  terminated_ = true;
}

bool TThread::Terminated() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return terminated_;
}

std::exception_ptr TThread::FatalException() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fatal_exception_;
}

std::thread::id TThread::ThreadID() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return thread_.get_id();
}

void TThread::CheckWaitable() const {
  if (free_on_terminate_) throw EThread("Cannot wait for a thread that frees itself on termination");
  if (!Started()) throw EThread("Cannot wait for a thread that was not started");
  if (std::this_thread::get_id() == ThreadID()) throw EThread("A thread cannot wait for itself");
}

int TThread::WaitFor() {
  CheckWaitable();
  std::unique_lock<std::mutex> lock(mutex_);
  finished_changed_.wait(lock, [this] { return finished_; });
  return return_value_;
}

bool TThread::WaitFor(std::chrono::milliseconds timeout) {
  CheckWaitable();
  std::unique_lock<std::mutex> lock(mutex_);
  return finished_changed_.wait_for(lock, timeout, [this] { return finished_; });
}

void TThread::Run() {
  std::exception_ptr fatal;
  try {
    Execute();
  } catch (...) {
    fatal = std::current_exception();
  }
  bool free_self;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fatal_exception_ = fatal;
    finished_ = true;
    free_self = free_on_terminate_;
    finished_changed_.notify_all();
  }
  // Nobody waits for a thread that frees itself, so nothing touches the object
  // after this point.
  if (free_self) delete this;
}

}  // namespace tersify
