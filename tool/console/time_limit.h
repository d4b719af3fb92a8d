#pragma once
// The time limit of a console pass: /MINUTES=<n> from the start of the run,
// /UNTIL=<HH:MM> the next time the local clock shows it.

#include <chrono>
#include <ctime>
#include <string>

namespace tersify {

// A number of minutes, more than 0, a decimal point allowed ("90", "2.5",
// ".5"); at most a year. False for anything else.
bool ParseMinutes(const std::string& text, double& minutes);

// "HH:MM" or "H:MM", 0:00 to 23:59. False for anything else.
bool ParseClockTime(const std::string& text, int& hour, int& minute);

// Seconds from `now` to the next moment after it at which the local clock
// shows hour:minute (tomorrow when that is past today); daylight saving
// changes are the C library's.
double SecondsUntilNext(int hour, int minute, std::time_t now);

}  // namespace tersify
