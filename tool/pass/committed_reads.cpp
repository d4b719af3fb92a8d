#include "tool/pass/committed_reads.h"

namespace tersify {

TCommittedReads::TCommittedReads(TMSConnection& connection)
    : connection_(connection), restore_(connection.IsolationLevel()) {
  if (restore_ == TIsolationLevel::ilReadCommitted) return;
  connection_.SetIsolationLevel(TIsolationLevel::ilReadCommitted);
  try {
    connection_.ApplyIsolationLevel();
  } catch (...) {
    connection_.SetIsolationLevel(restore_);
    throw;
  }
}

TCommittedReads::~TCommittedReads() {
  if (restore_ == TIsolationLevel::ilReadCommitted) return;
  connection_.SetIsolationLevel(restore_);
  try {
    if (connection_.Connected()) connection_.ApplyIsolationLevel();
  } catch (...) {
    // A connection that cannot take its level back is lost; it gets it when it reopens.
  }
}

}  // namespace tersify
