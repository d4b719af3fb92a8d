#pragma once
// One object per thread, made on first use and freed when its thread ends.
// It stands in for a thread_local object with a destructor: with mingw-w64's
// GCC 12 such an object's destructor frees garbage when a worker thread ends,
// so nothing of the system has one. The slot is a POSIX thread key (glibc;
// winpthreads on Windows).

#include <memory>
#include <utility>

namespace tersify {

// The untyped slot beneath TThreadSlot.
class TThreadKey {
 public:
  using Free = void (*)(void*);
  explicit TThreadKey(Free free);  // raises std::system_error when no key is left
  ~TThreadKey();
  TThreadKey(const TThreadKey&) = delete;
  TThreadKey& operator=(const TThreadKey&) = delete;

  void* Get() const;
  void Set(void* value);  // the caller frees what was there; raises std::system_error

 private:
  unsigned long key_;
};

// T* per thread, made by Make() on the first Get() of each thread and deleted
// when that thread ends. Keep the slot itself alive for the process (a
// function-local static).
template <class T>
class TThreadSlot {
 public:
  TThreadSlot() : key_([](void* p) { delete static_cast<T*>(p); }) {}

  // The calling thread's object; make(), returning std::unique_ptr<T>, makes it
  // on first use.
  template <class Make>
  T& Get(Make&& make) {
    if (void* p = key_.Get()) return *static_cast<T*>(p);
    std::unique_ptr<T> made = std::forward<Make>(make)();
    key_.Set(made.get());
    return *made.release();
  }

 private:
  TThreadKey key_;
};

}  // namespace tersify
