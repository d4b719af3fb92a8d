#pragma once
// A TDS 7.4 server on 127.0.0.1 good enough for FreeTDS's ODBC driver: it
// logs clients in to one database and runs what they send on the sqlite
// provider, one SQLite connection (and one thread) per client connection.
//
//   TdsTestServer server("/tmp/db.sqlite", "tersify", "sa", "secret");
//   ... DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=<server.Port()>;DATABASE=tersify;...

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/tds_server/database_access.h"
#include "tests/support/tds_server/server_state.h"
#include "tests/support/tds_server/tls.h"

namespace tersify::testing {

// Encryption: what the server offers, its certificate (PEM files; none: a
// self-signed one made at start-up) and a tap that sees every byte read
// from a client's socket before any decryption.
struct TdsTlsOptions {
  tds::Encryption encryption = tds::Encryption::Off;
  std::string certificate_file, key_file;
  tds::WireTap wire_tap;
};

// The SQL Server the server stands in for: the database's collation
// (collation.h) and the product version it claims.
struct TdsServerRules {
  std::string collation = "SQL_Latin1_General_CP1_CI_AS";
  std::string product_version = "16.0.1000.6";
  // What the login may write (database_access.h).
  tds::DatabaseAccess access = tds::DatabaseAccess::ReadWrite;
  // The file whose number (a percentage) sys.dm_db_log_space_usage reports as
  // the log's use, read again at every query; none: 0 %.
  std::string log_space_file;
  // The server's 'user options' (sp_configure): 512 starts every session with
  // NOCOUNT on, as a server configured so does; other bits are ignored.
  int user_options = 0;
};

class TdsTestServer {
 public:
  // Receives one line per request (and per login, disconnect, error); called
  // from the connections' threads, one call at a time.
  using LogSink = std::function<void(const std::string&)>;

  using TlsOptions = TdsTlsOptions;
  using Rules = TdsServerRules;

  // Starts listening at once on 127.0.0.1:`port` (0: a free port chosen by the
  // system). Raises std::runtime_error when the port cannot be bound or the
  // certificate cannot be used, std::invalid_argument for rules it does not know.
  // Tables already in the file are given the server's column rules at once
  // (served_file.h).
  TdsTestServer(std::string database_file, std::string database, std::string user,
                std::string password, int port = 0, LogSink log = nullptr, TlsOptions tls = {},
                Rules rules = {});
  // Stops: closes the listener and every connection and joins all threads.
  ~TdsTestServer();
  TdsTestServer(const TdsTestServer&) = delete;
  TdsTestServer& operator=(const TdsTestServer&) = delete;

  int Port() const { return port_; }
  // The server's certificate in PEM form; empty when encryption is off.
  std::string CertificatePem() const;

  // While frozen the server answers nothing: every message a client sends
  // (attention included) waits, sockets stay open and new clients are
  // accepted but not logged in. Thawing answers what waited, in order.
  void SetFrozen(bool frozen);
  // The next query whose text holds `containing` fails with error 601 ("Could
  // not continue scan with NOLOCK due to data movement"), once.
  void FailNextRead(const std::string& containing);
  // Of the requests whose text holds `containing`, the `times` after `skip`
  // others fail with error 1205 (chosen as the deadlock victim), their
  // transaction rolled back.
  void DeadlockNextWrite(const std::string& containing, int skip = 0, int times = 1);
  // Of the statements holding `containing`, counted one by one across
  // requests, the `times` after `skip` others fail with error 1205 as they are
  // about to run: in a request of several statements those before it have
  // run and been answered, those after it do not run, and the open
  // transaction is rolled back (without one, what ran before stays committed).
  void DeadlockNextStatement(const std::string& containing, int skip = 0, int times = 1);
  // What the catalogue views say of a table beyond what SQLite knows
  // (catalog_views.h), for every session from its next request on.
  void MarkTable(const std::string& table, const tds::TableMarks& marks);
  // The requests (SQL batches, RPCs, transaction-manager messages) clients
  // have sent since the server started, over all connections.
  tds::RequestCounts Requests() const;
  // Counts, from 0, the rows sent in the results of statements (a batch or a
  // call of one statement) whose text holds `containing`; RowsSentFor reads
  // the count. A row goes out whether or not the client reads it: a result
  // let go of before its end is still sent to the client, which reads it off.
  void CountRowsSentFor(const std::string& containing);
  uint64_t RowsSentFor() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

}  // namespace tersify::testing
