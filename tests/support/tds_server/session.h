#pragma once
// One client connection from PRELOGIN to end of stream: login checks, then
// every request handed to the dispatcher, on its own SQLite connection.

#include <memory>
#include <string>

#include "tests/support/tds_server/channel.h"
#include "tests/support/tds_server/collation.h"
#include "tests/support/tds_server/database_access.h"
#include "tests/support/tds_server/packet_io.h"
#include "tests/support/tds_server/product_version.h"
#include "tests/support/tds_server/request_dispatch.h"
#include "tests/support/tds_server/server_state.h"
#include "tests/support/tds_server/tls.h"

namespace tersify::testing::tds {

struct ServerSettings {
  std::string database_file;  // the SQLite file behind the database
  std::string database;       // the name clients log in to
  std::string user;
  std::string password;
  Encryption encryption = Encryption::Off;
  std::shared_ptr<const TlsCredentials> credentials;  // set unless encryption is Off
  WireTap wire_tap;                                   // optional
  DatabaseCollation collation;  // of the string columns of tables it creates
  ProductVersion version;       // the SQL Server version it claims to be
  DatabaseAccess access = DatabaseAccess::ReadWrite;
  std::string log_space_file;   // what sys.dm_db_log_space_usage reports (catalog_views.h)
  bool nocount = false;         // every session starts with NOCOUNT on
};

// The server's ENCRYPTION answer to a client's, for the server's setting.
uint8_t EncryptionAnswer(Encryption server, uint8_t client);

class Session {
 public:
  Session(int fd, const ServerSettings& settings, ServerState& state, RequestLog log)
      : fd_(fd), settings_(settings), state_(state), log_(std::move(log)) {}
  // Serves the connection until the client leaves or breaks the protocol.
  // Never throws.
  void Run() noexcept;

 private:
  void Serve();
  void Log(const std::string& line) const;
  // The next client message, held back while the server is frozen; false at
  // the end of the stream or when the server stops.
  bool NextMessage(PacketReader& reader, Message& message);

  int fd_;
  const ServerSettings& settings_;
  ServerState& state_;
  RequestLog log_;
  std::string client_;
};

}  // namespace tersify::testing::tds
