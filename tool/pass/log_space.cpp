#include "tool/pass/log_space.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "framework/rtl/exception.h"
#include "tool/pass/cancel.h"
#include "tool/pass/savings.h"

namespace tersify {
namespace {

std::string Percent(double percent) { return std::to_string(std::llround(percent)); }

}  // namespace

TLogSpace ReadLogSpace(providers::Provider& provider) {
  std::unique_ptr<providers::Cursor> cursor =
      provider.Execute("select used_log_space_in_percent, total_log_size_in_bytes from sys.dm_db_log_space_usage", {});
  if (!cursor->Next()) throw Exception("sys.dm_db_log_space_usage returned no row");
  TLogSpace space;
  space.used_percent = cursor->Value(0).AsFloat();
  space.total_bytes = cursor->Value(1).AsInt64();
  cursor->Close();
  return space;
}

std::string LogWaitLine(const TLogSpace& space, int limit_percent) {
  return "Waiting for the transaction log: " + Percent(space.used_percent) + " % used, limit " +
         std::to_string(limit_percent) + " %, log " + StoredSizeText(space.total_bytes);
}

std::string LogGoOnLine(const TLogSpace& space, int limit_percent) {
  return "The transaction log is " + Percent(space.used_percent) + " % used again, limit " +
         std::to_string(limit_percent) + " %: the pass goes on";
}

TLogSpaceWatch::TLogSpaceWatch(int limit_percent, Read read, Note note, Stop stop, Now now, Sleep sleep)
    : limit_percent_(limit_percent),
      read_(std::move(read)),
      note_(std::move(note)),
      stop_(std::move(stop)),
      now_(std::move(now)),
      sleep_(sleep ? std::move(sleep) : Sleep([](Clock::duration d) { std::this_thread::sleep_for(d); })) {}

bool TLogSpaceWatch::WaitForRoom() {
  bool waiting = false;
  while (true) {
    const TLogSpace space = read_();
    last_read_ = now_();
    read_once_ = true;
    if (space.used_percent <= limit_percent_) {
      if (waiting) note_(LogGoOnLine(space, limit_percent_));
      return true;
    }
    if (!waiting) note_(LogWaitLine(space, limit_percent_));
    waiting = true;
    // The next reading a second on; a cancel or the time limit ends the wait
    // within a slice.
    while (now_() - last_read_ < kPollEvery) {
      if (stop_ && stop_()) return false;
      sleep_(kSlice);
    }
  }
}

bool TLogSpaceWatch::WaitForRoomIfDue() {
  if (read_once_ && now_() - last_read_ < kDefaultModeEvery) return true;
  return WaitForRoom();
}

std::unique_ptr<TLogSpaceWatch> PassLogSpaceWatch(const TRecompressOptions& options, providers::Provider& provider,
                                                  bool sqlite, const TLogSpaceWatch::Note& note) {
  if (options.log_limit_percent <= 0) return nullptr;
  if (sqlite) {
    note("/LOGLIMIT=" + std::to_string(options.log_limit_percent) +
         " is not used on SQLite, which keeps no transaction log to watch");
    return nullptr;
  }
  const auto stop_at = options.stop_at;
  return std::make_unique<TLogSpaceWatch>(
      options.log_limit_percent, [&provider] { return ReadLogSpace(provider); }, note,
      [stop_at] { return PassWaitMustEnd(stop_at); });
}

}  // namespace tersify
