#pragma once
// One open ODBC connection: environment and connection handles, the driver's
// traits, and the statements running on it. Cursors share it, so the handles
// live as long as anything that reads from them.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/providers/odbc/connection_string.h"
#include "client/providers/odbc/driver_traits.h"
#include "client/providers/odbc/odbc_handle.h"
#include "client/providers/odbc/request_watchdog.h"
#include "client/errors.h"
#include "client/providers/provider.h"

namespace tersify::providers::odbc {

class OdbcConnection {
 public:
  // Connects, probes the driver and lifts the text size limit. Raises EMSError
  // with the driver's message when the server cannot be reached or refuses.
  static std::shared_ptr<OdbcConnection> Connect(const ConnectionSettings& settings,
                                                 const ConnectionStringOptions& options);
  ~OdbcConnection();
  OdbcConnection(const OdbcConnection&) = delete;
  OdbcConnection& operator=(const OdbcConnection&) = delete;

  // Frees the statements still open, rolls back an open transaction and
  // disconnects. Raises EMSError when the driver reports a failure.
  void Disconnect(bool rollback_first);

  // A new statement on this connection; Disconnect frees it if it still lives.
  std::shared_ptr<StmtHandle> NewStatement();

  // Runs a statement that returns nothing of interest.
  void ExecuteSimple(const std::string& sql);

  // The query timeout given to every new statement; 0 waits forever. It
  // bounds every request (Bounded), transaction control included.
  void SetCommandTimeout(int seconds) { command_timeout_ = seconds; }
  int CommandTimeout() const { return command_timeout_; }

  // Runs one request on the connection within the command timeout plus a
  // second, however long the server takes to answer, and ends it a second
  // after a cancel was asked for. A request cut off raises "the server did not
  // answer within N s" (HYT00) or "the request was cancelled" (HY008); that,
  // or any other loss of the connection, leaves the connection closed.
  template <class Call>
  auto Bounded(Call&& call) -> decltype(call()) {
    RequestWatchdog::Watch watch(*watchdog_, command_timeout_);
    try {
      return call();
    } catch (const EMSError& e) {
      RaiseFailure(e, watch);
    }
  }

  // The connection is gone under a request: it counts as closed from now on,
  // and the next request raises this error again.
  void MarkLost(const EMSError& error);

  bool Connected() const { return connected_ && !lost_; }
  // What made the connection count as lost; nullptr while it is not.
  const EMSError* LostError() const { return lost_error_ ? &*lost_error_ : nullptr; }
  const DriverTraits& Traits() const { return traits_; }
  const DbcHandle& Dbc() const { return dbc_; }

 private:
  OdbcConnection() = default;
  void ExecuteSimpleUnbounded(const std::string& sql);
  [[noreturn]] void RaiseFailure(const EMSError& error, const RequestWatchdog::Watch& watch);

  EnvHandle env_;
  DbcHandle dbc_;
  DriverTraits traits_;
  bool connected_ = false;
  bool lost_ = false;
  std::optional<EMSError> lost_error_;
  std::unique_ptr<RequestWatchdog> watchdog_;
  int command_timeout_ = 0;
  std::vector<std::weak_ptr<StmtHandle>> statements_;
};

}  // namespace tersify::providers::odbc
