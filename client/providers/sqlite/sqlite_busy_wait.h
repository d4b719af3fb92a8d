#pragma once
// How long a connection waits for a database file that another process has
// locked, and the error text when it gives up. SQLite's own busy timeout
// cannot wait forever and does not say how long it waited; this handler does both.

#include <sqlite3.h>

#include <string>

namespace tersify::providers {

// Installs the waiting on db: up to `seconds`, or forever when 0. Calling it
// again changes the limit.
void SetBusyWait(sqlite3* db, int seconds);
int BusyWaitSeconds(sqlite3* db);
// A new request begins on db: the waits from here on count against one limit.
void StartBusyRequest(sqlite3* db);
// Forgets db (called as its connection closes).
void ForgetBusyWait(sqlite3* db) noexcept;

// "the database file is locked by another process; gave up after waiting 30 s"
// when the last wait on db ran to its limit; without the wait part when SQLite
// refused at once (waiting could never have ended).
std::string LockedMessage(sqlite3* db);

}  // namespace tersify::providers
