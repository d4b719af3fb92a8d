#pragma once
// TMSConnection: the client library's connection to SQL Server (or to the
// embedded SQLite provider), with its login prompt, events and transactions.

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "client/errors.h"
#include "client/providers/provider.h"
#include "framework/rtl/component.h"
#include "framework/rtl/method.h"
#include "framework/rtl/strings.h"

namespace tersify {

class TMSConnection;
class TCustomMSDataSet;

enum class TIsolationLevel { ilReadCommitted, ilReadUnCommitted, ilRepeatableRead, ilIsolated, ilSnapshot };
enum class TMSAuthentication { auWindows, auServer };

struct TMSConnectionOptions {
  bool MultipleActiveResultSets = false;
  bool AutoTranslate = true;
};

using TDAConnectionErrorEvent = TMethod<void(TObject* sender, EDAError& error, bool& fail)>;

// The values a login prompt may change. The prompt returns false when the user cancels.
struct TLoginValues {
  std::string username;
  std::string password;
  std::string server;
  std::string database;
};
using TLoginPromptHook = std::function<bool(TMSConnection& connection, TLoginValues& values)>;
// The process-wide login prompt, filled by the user interface; none (the
// default) counts as a cancelled prompt.
void SetLoginPromptHook(TLoginPromptHook hook);

class TMSConnection : public TComponent {
 public:
  explicit TMSConnection(TComponent* owner);
  ~TMSConnection() override;

  const std::string& Username() const { return username_; }
  void SetUsername(const std::string& v) { username_ = v; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& v) { password_ = v; }
  const std::string& Server() const { return server_; }
  void SetServer(const std::string& v) { server_ = v; }
  const std::string& Database() const { return database_; }
  void SetDatabase(const std::string& v) { database_ = v; }
  // When not 0 it wins over a port given in Server.
  int Port() const { return port_; }
  void SetPort(int v) { port_ = v; }
  bool LoginPrompt() const { return login_prompt_; }
  void SetLoginPrompt(bool v) { login_prompt_ = v; }
  TIsolationLevel IsolationLevel() const { return isolation_level_; }
  void SetIsolationLevel(TIsolationLevel v) { isolation_level_ = v; }
  // Sends IsolationLevel() to the open session at once (SetIsolationLevel
  // alone takes effect at the next open).
  void ApplyIsolationLevel();
  TMSAuthentication Authentication() const { return authentication_; }
  void SetAuthentication(TMSAuthentication v) { authentication_ = v; }
  TMSConnectionOptions& Options() { return options_; }
  // Provider-specific name=value lines (encryption settings and the like).
  TStrings& SpecificOptions() { return specific_options_; }
  int LoginTimeout() const { return login_timeout_; }
  void SetLoginTimeout(int seconds) { login_timeout_ = seconds; }
  // How long one statement may take, in seconds; 0 (the default) waits
  // forever. Applies at once, also to an open connection. A dataset's own
  // CommandTimeout, when not 0, wins for its statements.
  int CommandTimeout() const { return command_timeout_; }
  void SetCommandTimeout(int seconds);

  bool Connected() const;
  void SetConnected(bool value);
  // Fires BeforeConnect, shows the login prompt when LoginPrompt is set (its
  // cancel makes the open fail with EAbort), opens the provider, fires AfterConnect.
  // A failure raises EMSError with the provider's message (after OnError).
  void Open();
  void Close();

  // Dot-separated, major version first; opens the connection first when needed.
  std::string ServerVersion();

  // "User transaction is already in progress" while one is open; "Operation is
  // not allowed when the connection is closed" when closed.
  void StartTransaction();
  void Commit();
  // Commits and opens the next transaction at once (Provider::CommitAndStartNext).
  void CommitAndStartNext();
  // Ends a transaction in which nothing was written (Provider::EndUnusedTransaction).
  void EndUnusedTransaction();
  void Rollback();
  bool InTransaction() const;

  TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;
  TDAConnectionErrorEvent OnError;
  // For the component that owns the connection: fires after every open, after
  // AfterConnect, whoever opened it (a dataset that finds the connection
  // closed opens it itself). Its error reaches the caller of the open and
  // leaves the connection open.
  TNotifyEvent AfterOpenForOwner;

  // The open provider; raises "Operation is not allowed when the connection is
  // closed" when the connection is not open. For the client's datasets.
  providers::Provider& GetProvider();
  // Primary-key columns of a table, asked of the server once per table and kept
  // while the connection stays open (table names compared ignoring case).
  const std::vector<std::string>& PrimaryKeyOf(const std::string& table);

  // For its lifetime the connection's statements run with another time limit
  // (a dataset's CommandTimeout); 0 keeps the connection's own.
  class StatementTimeout {
   public:
    StatementTimeout(TMSConnection& connection, int seconds);
    ~StatementTimeout();
    StatementTimeout(const StatementTimeout&) = delete;
    StatementTimeout& operator=(const StatementTimeout&) = delete;

   private:
    TMSConnection& connection_;
    providers::Provider* provider_ = nullptr;  // the provider whose limit was changed
    int restore_ = 0;
  };

 private:
  friend class TCustomMSDataSet;
  // Datasets using this connection: closed when it closes, detached when it is destroyed.
  void AttachDataSet(TCustomMSDataSet* dataset);
  void DetachDataSet(TCustomMSDataSet* dataset);
  // Fires OnError with Fail true and returns Fail: the caller raises the error
  // when true, and a silent EAbort otherwise (the operation did not happen).
  bool FailOnError(EDAError& error);

  std::string username_, password_, server_, database_;
  int port_ = 0;
  bool login_prompt_ = false;
  TIsolationLevel isolation_level_ = TIsolationLevel::ilReadCommitted;
  TMSAuthentication authentication_ = TMSAuthentication::auServer;
  TMSConnectionOptions options_;
  TStringList specific_options_;
  int login_timeout_ = 15;
  int command_timeout_ = 0;
  std::unique_ptr<providers::Provider> provider_;
  std::deque<std::pair<std::string, std::vector<std::string>>> key_cache_;  // stable references
  std::vector<TCustomMSDataSet*> datasets_;
};

}  // namespace tersify
