#pragma once
// The transaction-log saving thread: hands a text the layer wants kept (a
// refused start of a transaction) to the application's OnSaveTransToLog
// handler of the default database, on a short-lived thread of its own, so
// that the operation that produced the text is not held up. Nobody waits for
// these threads; each destroys itself when its work ends.

#include <chrono>
#include <cstdint>
#include <string>

#include "framework/rtl/thread.h"

namespace tersify {

class TSaveTransLogThread : public TThread {
 public:
  // Starts one saving thread for text, unless text is blank (blanks and control
  // characters only). The text itself is passed on unchanged. Does not wait.
  static void LogText(const std::string& text);

  // A running thread that frees itself; made by LogText.
  explicit TSaveTransLogThread(std::string text);
  ~TSaveTransLogThread() override;

  const std::string& Text() const { return text_; }

  // How many saving threads were made in this process, and how many of them
  // are still alive: for shutdown and tests, which may wait until every saving
  // thread has ended (true) or the timeout passed (false).
  static uint64_t CreatedCount();
  static int AliveCount();
  static bool WaitForAll(std::chrono::milliseconds timeout);

 protected:
  // Calls SaveTransToLog; an error of the exception family goes to the
  // diagnostic log as "SaveTransLogError" and the thread ends normally.
  void Execute() override;

 private:
  std::string text_;
};

// Calls the default database's OnSaveTransToLog handler with text, when there
// is a default database and it has a handler; nothing otherwise.
void SaveTransToLog(const std::string& text);

}  // namespace tersify
