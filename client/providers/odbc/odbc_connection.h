#pragma once
// One open ODBC connection: environment and connection handles, the driver's
// traits, and the statements running on it. Cursors share it, so the handles
// live as long as anything that reads from them.

#include <memory>
#include <string>
#include <vector>

#include "client/providers/odbc/connection_string.h"
#include "client/providers/odbc/driver_traits.h"
#include "client/providers/odbc/odbc_handle.h"
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

  // The query timeout given to every new statement; 0 waits forever.
  void SetCommandTimeout(int seconds) { command_timeout_ = seconds; }
  int CommandTimeout() const { return command_timeout_; }

  bool Connected() const { return connected_; }
  const DriverTraits& Traits() const { return traits_; }
  const DbcHandle& Dbc() const { return dbc_; }

 private:
  OdbcConnection() = default;

  EnvHandle env_;
  DbcHandle dbc_;
  DriverTraits traits_;
  bool connected_ = false;
  int command_timeout_ = 0;
  std::vector<std::weak_ptr<StmtHandle>> statements_;
};

}  // namespace tersify::providers::odbc
