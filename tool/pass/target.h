#pragma once
// What every pass over one blob column settles before it reads a row: the
// names are plain SQL names, the column exists and holds blobs, the key that
// singles out each row is resolved, and the statements are built in the
// dialect of the provider. The rewriting pass, the verification and the
// estimate all start here, so they refuse the same things with the same words.

#include <string>

#include "client/ms_connection.h"
#include "tool/pass/key.h"
#include "tool/pass/statements.h"

namespace tersify {

struct TPassTarget {
  TMSConnection* connection = nullptr;  // the default database's, open
  std::string provider_name;            // "sqlite" or "odbc"
  std::string field_name;               // the column's name as the table reports it
  TPassKey key;
  TPassStatements statements;
  providers::ColumnInfo key_column;  // as the table describes it: the type a /FROM= key is read in
  // The most bytes the column stores (a varbinary(n) on SQL Server); 0 when
  // nothing but the server's own limit bounds a value.
  int64_t max_stored_bytes = 0;
  // A key field that no index begins with (one line for standard error); empty otherwise.
  std::string key_warning;
};

// The default database's connection, opened when it is closed; raises when
// there is no default database.
TMSConnection& PassConnection();

// Resolves Table.Field on the default database (Key empty: the table's primary
// key). Raises with a clear message when a name is unsafe, the field is missing
// or holds no blobs, cannot keep an envelope's bytes as written (binary(n),
// a varbinary column created with ANSI_PADDING OFF), or no usable key is found.
TPassTarget ResolvePassTarget(const std::string& table, const std::string& field, const std::string& key);

// For its lifetime every statement on the connection runs with a pass's time
// limit (TRecompressOptions::timeout_seconds: 0 waits for ever, negative keeps
// the connection's own); the connection's limit comes back afterwards.
class TPassTimeLimit {
 public:
  TPassTimeLimit(TMSConnection& connection, int seconds);
  ~TPassTimeLimit();
  TPassTimeLimit(const TPassTimeLimit&) = delete;
  TPassTimeLimit& operator=(const TPassTimeLimit&) = delete;

 private:
  TMSConnection& connection_;
  bool changed_ = false;
  int restore_ = 0;
};


}  // namespace tersify
