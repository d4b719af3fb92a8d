#include "db/trans_log_thread.h"

#include <condition_variable>
#include <mutex>

#include "db/database.h"
#include "db/registries.h"
#include "framework/rtl/application.h"
#include "framework/rtl/exception.h"
#include "framework/rtl/platform.h"
#include "log/vr_log.h"

namespace tersify {
namespace {

// The tally of saving threads, so that shutdown and tests can wait for them.
struct Tally {
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t created = 0;
  int alive = 0;
};

Tally& ThreadTally() {
  static Tally* tally = new Tally;  // never destroyed: a thread may end after static destruction began
  return *tally;
}

}  // namespace

void TSaveTransLogThread::LogText(const std::string& text) {
  if (Trim(text).empty()) return;
  TThread::Launch<TSaveTransLogThread>(text);
}

TSaveTransLogThread::TSaveTransLogThread(std::string text) : TThread(false), text_(std::move(text)) {
  SetFreeOnTerminate(true);
  Tally& tally = ThreadTally();
  std::lock_guard<std::mutex> lock(tally.mutex);
  ++tally.created;
  ++tally.alive;
}

TSaveTransLogThread::~TSaveTransLogThread() {
  Tally& tally = ThreadTally();
  std::lock_guard<std::mutex> lock(tally.mutex);
  --tally.alive;
  tally.changed.notify_all();
}

uint64_t TSaveTransLogThread::CreatedCount() {
  Tally& tally = ThreadTally();
  std::lock_guard<std::mutex> lock(tally.mutex);
  return tally.created;
}

int TSaveTransLogThread::AliveCount() {
  Tally& tally = ThreadTally();
  std::lock_guard<std::mutex> lock(tally.mutex);
  return tally.alive;
}

bool TSaveTransLogThread::WaitForAll(std::chrono::milliseconds timeout) {
  Tally& tally = ThreadTally();
  std::unique_lock<std::mutex> lock(tally.mutex);
  return tally.changed.wait_for(lock, timeout, [&tally] { return tally.alive == 0; });
}

void TSaveTransLogThread::Execute() {
  // A handler may use the client library on this thread. On Windows the thread
  // first joins a single-threaded COM apartment and leaves it at the end; the
  // client library here needs no per-thread set-up, so both steps are empty.
  try {
    SaveTransToLog(text_);
  } catch (const Exception& e) {
    LogError(e, Application, "SaveTransLogError", "");
  }
  // Anything else that escapes is kept by the thread as its fatal exception.
}

void SaveTransToLog(const std::string& text) {
  TvrDatabase* database = DefaultDatabase.load();
  if (database != nullptr && database->OnSaveTransToLog.Assigned()) {
    database->OnSaveTransToLog(database, text);
  }
}

}  // namespace tersify
