#include "framework/rtl/thread_slot.h"

#include <pthread.h>

#include <system_error>

namespace tersify {

static_assert(sizeof(pthread_key_t) <= sizeof(unsigned long));

TThreadKey::TThreadKey(Free free) {
  pthread_key_t key;
  if (const int rc = pthread_key_create(&key, free); rc != 0)
    throw std::system_error(rc, std::generic_category(), "cannot make a thread key");
  key_ = static_cast<unsigned long>(key);
}

TThreadKey::~TThreadKey() { pthread_key_delete(static_cast<pthread_key_t>(key_)); }

void* TThreadKey::Get() const { return pthread_getspecific(static_cast<pthread_key_t>(key_)); }

void TThreadKey::Set(void* value) {
  if (const int rc = pthread_setspecific(static_cast<pthread_key_t>(key_), value); rc != 0)
    throw std::system_error(rc, std::generic_category(), "cannot set a thread key");
}

}  // namespace tersify
