#pragma once
// The verification and the estimate count what is stored, so they read
// committed data only: a value another session has written and not yet
// committed (and may roll back) is not counted. The pass itself keeps the
// connection's own level (db/database.cpp), because every write it makes is
// held to the value it read.

#include "client/ms_connection.h"

namespace tersify {

// For its lifetime the connection's statements read committed data; the
// connection's own isolation level comes back afterwards.
class TCommittedReads {
 public:
  explicit TCommittedReads(TMSConnection& connection);
  ~TCommittedReads();
  TCommittedReads(const TCommittedReads&) = delete;
  TCommittedReads& operator=(const TCommittedReads&) = delete;

 private:
  TMSConnection& connection_;
  TIsolationLevel restore_;
};

}  // namespace tersify
