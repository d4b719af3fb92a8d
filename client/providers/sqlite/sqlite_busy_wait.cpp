#include "client/providers/sqlite/sqlite_busy_wait.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "client/providers/request_cancel.h"

namespace tersify::providers {
namespace {

using Clock = std::chrono::steady_clock;

struct BusyWait {
  int seconds = 0;  // 0: forever
  Clock::time_point started;
  // A new request has begun and not waited yet: its first wait starts the clock.
  bool fresh = true;
  bool gave_up = false;  // the last wait ended at the limit (not yet reported)
};

// The waits of the open connections. The handler itself gets its BusyWait as
// its context; only setting, forgetting and the error text look it up here.
std::mutex registry_mutex;
std::map<sqlite3*, std::unique_ptr<BusyWait>>& Registry() {
  static auto* registry = new std::map<sqlite3*, std::unique_ptr<BusyWait>>();
  return *registry;
}

// Called by SQLite each time the file is found locked; attempt counts from 0
// for each lock it waits for. One request (a statement, a commit) may wait for
// several (a cache spill in the middle of an update, then its commit): the
// limit is for all of them together. Sleeps a little longer each time
// (SQLite's own steps), never past the limit; a cancel ends the wait.
int WaitForLock(void* context, int attempt) {
  static constexpr int kSleepsMs[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
  auto* wait = static_cast<BusyWait*>(context);
  const Clock::time_point now = Clock::now();
  if (RequestCancelAsked()) return 0;
  if (attempt == 0 && wait->fresh) {
    wait->started = now;
    wait->fresh = false;
  }
  auto sleep = std::chrono::milliseconds(
      kSleepsMs[std::min<size_t>(static_cast<size_t>(attempt), std::size(kSleepsMs) - 1)]);
  if (wait->seconds > 0) {
    const auto deadline = wait->started + std::chrono::seconds(wait->seconds);
    if (now >= deadline) {
      wait->gave_up = true;
      return 0;
    }
    sleep = std::min(sleep, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                                std::chrono::milliseconds(1));
  }
  std::this_thread::sleep_for(sleep);
  return 1;
}

}  // namespace

void SetBusyWait(sqlite3* db, int seconds) {
  std::lock_guard<std::mutex> lock(registry_mutex);
  std::unique_ptr<BusyWait>& wait = Registry()[db];
  if (!wait) {
    wait = std::make_unique<BusyWait>();
    sqlite3_busy_handler(db, WaitForLock, wait.get());
  }
  wait->seconds = std::max(seconds, 0);
}

void StartBusyRequest(sqlite3* db) {
  std::lock_guard<std::mutex> lock(registry_mutex);
  auto it = Registry().find(db);
  if (it != Registry().end()) it->second->fresh = true;
}

int BusyWaitSeconds(sqlite3* db) {
  std::lock_guard<std::mutex> lock(registry_mutex);
  auto it = Registry().find(db);
  return it == Registry().end() ? 0 : it->second->seconds;
}

void ForgetBusyWait(sqlite3* db) noexcept {
  std::lock_guard<std::mutex> lock(registry_mutex);
  Registry().erase(db);
}

std::string LockedMessage(sqlite3* db) {
  std::string text = "the database file is locked by another process";
  std::lock_guard<std::mutex> lock(registry_mutex);
  auto it = Registry().find(db);
  // Without a wait (SQLite refuses at once when waiting could never end) the text says nothing of one.
  if (it != Registry().end() && it->second->gave_up) {
    it->second->gave_up = false;
    text += "; gave up after waiting " + std::to_string(it->second->seconds) + " s";
  }
  return text;
}

}  // namespace tersify::providers
