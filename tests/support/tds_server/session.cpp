#include "tests/support/tds_server/session.h"

#include <strings.h>

#include "client/providers/sqlite/sqlite_provider.h"
#include "tests/support/tds_server/login.h"
#include "tests/support/tds_server/packet_io.h"
#include "tests/support/tds_server/token_writer.h"

namespace tersify::testing::tds {
namespace {

constexpr int32_t kLoginFailed = 18456;
constexpr int32_t kCannotOpenDatabase = 4060;
constexpr size_t kDefaultPacketSize = 4096;
constexpr size_t kMinPacketSize = 512;
constexpr size_t kMaxPacketSize = 32767;
const char kServerName[] = "tds-test-server";
constexpr int kLockWaitSeconds = 10;

}  // namespace

void Session::Log(const std::string& line) const {
  if (log_) log_(client_ + line);
}

bool Session::NextMessage(PacketReader& reader, Message& message) {
  if (!reader.Read(message)) return false;
  if (!state_.WaitWhileFrozen()) return false;
  state_.CountRequest(message.type);
  return true;
}

void Session::Run() noexcept {
  try {
    Serve();
  } catch (const ConnectionClosed&) {
    Log("disconnected");
  } catch (const std::exception& error) {
    Log(std::string("dropped: ") + error.what());
  } catch (...) {
    Log("dropped");
  }
}

void Session::Serve() {
  PacketReader reader(fd_);
  MessageWriter writer(fd_);
  TokenWriter tokens(writer, kServerName);
  Message message;

  if (!NextMessage(reader, message)) return;
  if (message.type == kPrelogin) {
    Log("prelogin");
    writer.Write(PreloginReply());
    writer.EndMessage();
    if (!NextMessage(reader, message)) return;
  }
  if (message.type != kLogin7) throw ProtocolError("expected LOGIN7");
  LoginRequest login = DecodeLogin7(message.payload);
  Log("login " + login.user_name + " to '" + login.database + "' from " + login.app_name);

  if (login.user_name != settings_.user || login.password != settings_.password) {
    tokens.Error(kLoginFailed, 14, "Login failed for user '" + login.user_name + "'.");
    tokens.Done(kDoneError);
    tokens.EndMessage();
    Log("login failed");
    return;
  }
  if (!login.database.empty() && strcasecmp(login.database.c_str(), settings_.database.c_str()) != 0) {
    tokens.Error(kCannotOpenDatabase, 11,
                 "Cannot open database \"" + login.database +
                     "\" requested by the login. The login failed.");
    tokens.Done(kDoneError);
    tokens.EndMessage();
    Log("unknown database");
    return;
  }

  providers::SqliteProvider provider;
  try {
    providers::ConnectionSettings connection;
    connection.server = "sqlite";
    connection.database = settings_.database_file;
    // A file locked elsewhere is waited for a while, as a server would; the
    // client's own time limit usually ends the wait sooner.
    connection.command_timeout_seconds = kLockWaitSeconds;
    provider.Open(connection);
  } catch (const std::exception& error) {
    tokens.Error(kCannotOpenDatabase, 11, error.what());
    tokens.Done(kDoneError);
    tokens.EndMessage();
    return;
  }
  client_ = "spid " + std::to_string(provider.Spid()) + ": ";
  writer.SetSpid(static_cast<uint16_t>(provider.Spid()));

  size_t packet_size = login.packet_size >= kMinPacketSize && login.packet_size <= kMaxPacketSize
                           ? login.packet_size
                           : kDefaultPacketSize;
  writer.SetPacketSize(packet_size);
  tokens.EnvChange(kEnvDatabase, settings_.database, "master");
  tokens.EnvChangeBytes(kEnvCollation, std::string(kCollation, 5), "");
  tokens.EnvChange(kEnvLanguage, "us_english", "");
  tokens.LoginAck(login.tds_version, "Microsoft SQL Server", kProgramVersion);
  tokens.EnvChange(kEnvPacketSize, std::to_string(packet_size), std::to_string(packet_size));
  tokens.Done(kDoneFinal);
  tokens.EndMessage();

  RequestDispatcher dispatcher(provider, tokens, settings_.database,
                               [this](const std::string& line) { Log(line); });
  struct RollbackOnExit {
    RequestDispatcher& dispatcher;
    ~RollbackOnExit() { dispatcher.Disconnected(); }
  } rollback_on_exit{dispatcher};

  while (NextMessage(reader, message)) {
    switch (message.type) {
      case kSqlBatch: dispatcher.Batch(message.payload); break;
      case kRpc: dispatcher.Rpc(message.payload); break;
      case kTransactionManager: dispatcher.Transaction(message.payload); break;
      case kAttention: dispatcher.Attention(); break;
      default:
        throw ProtocolError("unexpected message type " + std::to_string(message.type));
    }
  }
  Log("disconnected");
}

}  // namespace tersify::testing::tds
