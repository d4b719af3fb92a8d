#include "tests/support/tds_server/session.h"

#include <strings.h>

#include "client/providers/sqlite/sqlite_provider.h"
#include "tests/support/tds_server/catalog_views.h"
#include "tests/support/tds_server/login.h"
#include "tests/support/tds_server/packet_io.h"
#include "tests/support/tds_server/served_file.h"
#include "tests/support/tds_server/token_writer.h"

namespace tersify::testing::tds {
namespace {

constexpr int32_t kLoginFailed = 18456;
constexpr int32_t kCannotOpenDatabase = 4060;
constexpr size_t kDefaultPacketSize = 4096;
constexpr size_t kMinPacketSize = 512;
constexpr size_t kMaxPacketSize = 32767;
const char kServerName[] = "tds-test-server";

const char* EncryptionName(uint8_t value) {
  switch (value) {
    case kEncryptOff: return "login only";
    case kEncryptOn: return "on";
    case kEncryptNotSupported: return "not supported";
    case kEncryptRequired: return "required";
    default: return "unknown";
  }
}

}  // namespace

uint8_t EncryptionAnswer(Encryption server, uint8_t client) {
  switch (server) {
    case Encryption::Off: return kEncryptNotSupported;
    case Encryption::Required: return kEncryptRequired;
    case Encryption::On:
      if (client == kEncryptNotSupported || client == kEncryptOff) return client;
      return kEncryptOn;
  }
  return kEncryptNotSupported;
}

void Session::Log(const std::string& line) const {
  if (log_) log_(client_ + line);
}

bool Session::NextMessage(PacketReader& reader, Message& message) {
  if (!reader.Read(message)) return false;
  if (!state_.WaitWhileFrozen()) return false;
  // An attention is counted where it is answered (RequestDispatcher).
  if (message.type != kAttention) state_.CountRequest(message.type);
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
  Channel channel(fd_, settings_.wire_tap);
  PacketReader reader(channel);
  MessageWriter writer(channel);
  TokenWriter tokens(writer, kServerName);
  Message message;

  if (!NextMessage(reader, message)) return;
  std::unique_ptr<TlsSession> tls;
  bool login_only = false;
  if (message.type == kPrelogin) {
    const uint8_t asked = ClientEncryption(message.payload);
    const uint8_t answer = EncryptionAnswer(settings_.encryption, asked);
    Log(std::string("prelogin, encryption asked ") + EncryptionName(asked) + ", answered " + EncryptionName(answer));
    writer.Write(PreloginReply(answer, settings_.version.WireVersion()));
    writer.EndMessage();
    if (answer != kEncryptNotSupported) {
      if (asked == kEncryptNotSupported) {
        Log("refused: this server requires encryption");
        return;
      }
      tls = std::make_unique<TlsSession>(channel, *settings_.credentials);
      login_only = answer == kEncryptOff;
      Log("tls handshake done");
    }
    if (!NextMessage(reader, message)) return;
  } else if (settings_.encryption == Encryption::Required) {
    throw ProtocolError("a login without PRELOGIN cannot be encrypted");
  }
  if (message.type != kLogin7) throw ProtocolError("expected LOGIN7");
  LoginRequest login = DecodeLogin7(message.payload);
  // Encrypting the login only: the rest of the session is plain again.
  if (login_only) tls.reset();
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
    // A lock is waited for as long as it is held (SET LOCK_TIMEOUT aside):
    // the client's own time limit decides, as with SQL Server.
    connection.command_timeout_seconds = 0;
    provider.Open(connection);
    PrepareServedConnection(provider.NativeHandle());
    for (const std::string& refused : AdoptTables(provider.NativeHandle(), settings_.collation))
      Log("table keeps SQLite's rules: " + refused);
    InstallCatalogViews(provider.NativeHandle(), [this](const std::string& table) { return state_.MarksOf(table); },
                        settings_.log_space_file);
    ApplyDatabaseAccess(provider.NativeHandle(), settings_.database, settings_.access);
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
  tokens.LoginAck(login.tds_version, "Microsoft SQL Server", settings_.version.WireVersion());
  tokens.EnvChange(kEnvPacketSize, std::to_string(packet_size), std::to_string(packet_size));
  tokens.Done(kDoneFinal);
  tokens.EndMessage();

  SqlRules rules;
  rules.database = settings_.database;
  rules.collation = settings_.collation;
  rules.version = settings_.version;
  rules.nocount = settings_.nocount;
  rules.spid = provider.Spid();
  rules.access = settings_.access;
  StatementControl control(provider.NativeHandle());
  tokens.SetAttentionCheck([&control] { return control.AttentionPending(); });
  RequestDispatcher dispatcher(provider, tokens, rules,
                               [this](const std::string& line) { Log(line); }, &control, &state_);
  struct RollbackOnExit {
    RequestDispatcher& dispatcher;
    ~RollbackOnExit() { dispatcher.Disconnected(); }
  } rollback_on_exit{dispatcher};
  // The check must not outlive the control it asks.
  struct ForgetAttentionCheck {
    TokenWriter& tokens;
    ~ForgetAttentionCheck() { tokens.SetAttentionCheck(nullptr); }
  } forget_attention_check{tokens};

  while (NextMessage(reader, message)) {
    switch (message.type) {
      case kSqlBatch: {
        StatementControl::Watch watch(control, fd_);
        dispatcher.Batch(message.payload);
        break;
      }
      case kRpc: {
        StatementControl::Watch watch(control, fd_);
        dispatcher.Rpc(message.payload);
        break;
      }
      case kTransactionManager: {
        StatementControl::Watch watch(control, fd_);
        dispatcher.Transaction(message.payload);
        break;
      }
      case kAttention: dispatcher.Attention(); break;
      default:
        throw ProtocolError("unexpected message type " + std::to_string(message.type));
    }
  }
  Log("disconnected");
}

}  // namespace tersify::testing::tds
