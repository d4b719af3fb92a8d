#pragma once
// /LOGLIMIT=: in the full recovery model every rewritten value goes through
// SQL Server's transaction log, and a log that fills stops the whole
// database. Before a batch begins (and every few seconds in the default mode,
// where each row commits on its own) the pass reads how full the log is, and
// while it is fuller than the limit it waits, so that a log backup or a
// checkpoint can free space. It never waits with a batch open: the batch's
// own log records could not be freed.
//
// The clock and the sleep are injectable, so that the waiting is tested on a
// fake clock without waiting in real time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "client/providers/provider.h"
#include "tool/pass/options.h"

namespace tersify {

struct TLogSpace {
  double used_percent = 0;
  int64_t total_bytes = 0;
};

// The current database's log, from sys.dm_db_log_space_usage. Raises what
// the server says when it cannot be read.
TLogSpace ReadLogSpace(providers::Provider& provider);

// "Waiting for the transaction log: 93 % used, limit 80 %, log 2.00 GB".
std::string LogWaitLine(const TLogSpace& space, int limit_percent);
// "The transaction log is 40 % used again, limit 80 %: the pass goes on".
std::string LogGoOnLine(const TLogSpace& space, int limit_percent);

class TLogSpaceWatch {
 public:
  using Clock = std::chrono::steady_clock;
  using Read = std::function<TLogSpace()>;
  using Note = std::function<void(const std::string& line)>;
  using Stop = std::function<bool()>;
  using Now = std::function<Clock::time_point()>;
  using Sleep = std::function<void(Clock::duration)>;

  // limit_percent 1 to 99; note receives the lines for standard error.
  TLogSpaceWatch(int limit_percent, Read read, Note note, Stop stop, Now now = Clock::now, Sleep sleep = {});

  // Waits while the log is fuller than the limit, reading it again every
  // kPollEvery; says so once when it starts waiting and once when it goes on.
  // False when stop() ended the wait. Only with no batch open.
  bool WaitForRoom();
  // As WaitForRoom when the log was last read kDefaultModeEvery or longer
  // ago (or never), else true at once.
  bool WaitForRoomIfDue();

  static constexpr std::chrono::seconds kPollEvery{1};
  static constexpr std::chrono::seconds kDefaultModeEvery{3};
  static constexpr std::chrono::milliseconds kSlice{50};

 private:
  int limit_percent_;
  Read read_;
  Note note_;
  Stop stop_;
  Now now_;
  Sleep sleep_;
  bool read_once_ = false;
  Clock::time_point last_read_{};
};

// The watch for a pass on the target: none without /LOGLIMIT=; on SQLite,
// which keeps no such log, none either, after a note saying so.
std::unique_ptr<TLogSpaceWatch> PassLogSpaceWatch(const TRecompressOptions& options, providers::Provider& provider,
                                                  bool sqlite, const TLogSpaceWatch::Note& note);

}  // namespace tersify
