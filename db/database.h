#pragma once
// TvrDatabase: the layer's connection component. It keeps the connection
// parameters, owns one client connection (TMSConnection) that it creates on
// demand and configures before every connect, and after each connect records
// the server's major version, the connection's server process id and the
// application user id of the login. It offers transactions and two small
// statement operations (SelectInteger, ExecSQL) to the rest of the layer.

#include <cstdint>
#include <string>

#include "client/ms_connection.h"
#include "framework/rtl/component.h"
#include "framework/rtl/method.h"
#include "framework/rtl/strings.h"

namespace tersify {

class TvrScript;

enum TvrdbType : uint8_t { vrdbtOracle, vrdbtMSSQL, vrdbtSQL };
// Only ctSDAC (SQL Server through the client library) has a client connection.
enum TvrconnType : uint8_t { ctSDAC, ctODAC, ctODACNET };

// States of the key-procedure probe (KeyProcSupport).
inline constexpr uint8_t kpsUnknown = 0;
inline constexpr uint8_t kpsAbsent = 1;
inline constexpr uint8_t kpsPresent = 2;

// Called on a transaction-log saving thread with a text the layer wants kept.
using TSaveTransToLogEvent = TMethod<void(TObject* sender, const std::string& text)>;

// The dataset settings of a database (DatasetSettings).
class TvrDatabaseTemplate : public TObject {
 public:
  bool FetchAll() const { return fetch_all_; }
  void SetFetchAll(bool value) { fetch_all_ = value; }
  // FetchRows of the datasets that automatic data-source setup creates.
  int FetchCount() const { return fetch_count_; }
  void SetFetchCount(int value) { fetch_count_ = value; }
  bool QueryRecordCount() const { return query_record_count_; }
  void SetQueryRecordCount(bool value) { query_record_count_ = value; }

 private:
  bool fetch_all_ = false;
  int fetch_count_ = 50;
  bool query_record_count_ = true;
};

class TvrDatabase : public TComponent {
 public:
  // Registers the component in DatabaseRegistry; neither connects nor touches
  // DefaultDatabase.
  explicit TvrDatabase(TComponent* owner);
  // Commits an open transaction (errors dropped), closes the client connection,
  // clears DefaultDatabase when it is this component, leaves DatabaseRegistry.
  ~TvrDatabase() override;

  // ---- published, in published order
  bool AutoSetupDataSources() const { return auto_setup_data_sources_; }
  void SetAutoSetupDataSources(bool value) { auto_setup_data_sources_ = value; }
  // Both setters disconnect first and couple the other type.
  TvrdbType DatabaseType() const { return database_type_; }
  void SetDatabaseType(TvrdbType value);
  TvrconnType ConnectionType() const { return connection_type_; }
  void SetConnectionType(TvrconnType value);
  // Read: the client connection is open. Write: connect (with the after-connect
  // queries) or disconnect; ignored while the component is being loaded.
  bool Connected() const;
  void SetConnected(bool value);
  const std::string& Username() const { return username_; }
  void SetUsername(const std::string& value) { username_ = value; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& value) { password_ = value; }
  const std::string& Server() const { return server_; }
  void SetServer(const std::string& value) { server_ = value; }
  bool Debug() const { return debug_; }
  void SetDebug(bool value) { debug_ = value; }
  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(const std::string& value) { database_name_ = value; }
  TvrDatabaseTemplate& DatasetSettings() { return *dataset_settings_; }
  bool AutoCommit() const { return auto_commit_; }
  void SetAutoCommit(bool value) { auto_commit_ = value; }
  // Copied into the client connection (a server on a non-default port).
  int Port() const { return port_; }
  void SetPort(int value) { port_ = value; }
  // How long one statement may take, in seconds (0, the default: forever).
  // Copied into the client connection when it is prepared; a client
  // connection that exists already takes it at once.
  int CommandTimeout() const { return command_timeout_; }
  void SetCommandTimeout(int seconds);
  const std::string& Schema() const { return schema_; }
  void SetSchema(const std::string& value) { schema_ = value; }
  // The client connection; none until the first PrepareConnection.
  TMSConnection* IntConnectionMS() const { return connection_; }
  bool ConnectionPrompt() const { return connection_prompt_; }
  void SetConnectionPrompt(bool value) { connection_prompt_ = value; }
  bool UseWindowsAuthentication() const { return use_windows_authentication_; }
  void SetUseWindowsAuthentication(bool value) { use_windows_authentication_ = value; }
  const std::string& CharSet() const { return char_set_; }
  void SetCharSet(const std::string& value) { char_set_ = value; }
  bool UseUnicode() const { return use_unicode_; }
  void SetUseUnicode(bool value) { use_unicode_ = value; }
  // The application user id of the login, set after each connect.
  int anUserID() const { return an_user_id_; }
  // The user's default locale id, asked from the platform at construction.
  int LCID() const { return lcid_; }
  // Through the client connection's options when one exists; the value is also
  // kept for the next connection preparation.
  bool MultipleActiveResultSets() const;
  void SetMultipleActiveResultSets(bool value);
  const std::string& ProviderName() const { return provider_name_; }
  void SetProviderName(const std::string& value) { provider_name_ = value; }
  // Provider-specific name=value lines, copied into the client connection
  // (encryption settings and the like).
  TStringList& SpecificOptions() { return *specific_options_; }
  // Copied into the client connection when assigned: their sender is the
  // TMSConnection, not this component.
  TNotifyEvent AfterConnect;
  TNotifyEvent AfterDisconnect;
  TNotifyEvent BeforeConnect;
  TNotifyEvent BeforeDisconnect;
  TDAConnectionErrorEvent OnError;
  // Called on a transaction-log saving thread while this is the default database.
  TSaveTransToLogEvent OnSaveTransToLog;

  // ---- not published
  int ServerMajorVersion() const { return server_major_version_; }
  int SPID() const { return spid_; }
  // Read by TvrDataset before it opens: 0 leaves FetchAll alone, 1 turns it
  // off, 2 turns it on. Nothing in the layer changes it.
  uint8_t FetchMode() const { return fetch_mode_; }
  void SetFetchMode(uint8_t value) { fetch_mode_ = value; }
  // Read by TvrDataset's FetchAll setter. Nothing in the layer changes it.
  bool PartialFetchAllowed() const { return partial_fetch_allowed_; }
  void SetPartialFetchAllowed(bool value) { partial_fetch_allowed_ = value; }
  // kpsUnknown, kpsAbsent or kpsPresent: the key-procedure probe's state.
  uint8_t KeyProcSupport() const { return key_proc_support_; }
  void SetKeyProcSupport(uint8_t value) { key_proc_support_ = value; }

  // Nothing when connected or not ctSDAC; otherwise creates the client
  // connection when there is none and copies the settings into it.
  void PrepareConnection();
  // The client connection when ConnectionType is ctSDAC, else none.
  TMSConnection* ClientConnection() const;

  bool InTransaction() const;
  // -1 when not connected or not ctSDAC; otherwise "select @@TRANCOUNT".
  int TransactionCount();
  // A refused start is reported to the transaction-log thread and dropped.
  void StartTransaction();
  void Commit();
  void Rollback();

  // The first field of the first row of SQL as an integer; Default when the
  // query returns no row. Errors propagate.
  int SelectInteger(const std::string& sql, int default_value);
  // Runs SQL through a script; nothing when SQL is blank or not connected.
  void ExecSQL(const std::string& sql);
  // A new script owned by owner (by this component when owner is none),
  // attached to this component.
  TvrScript* CreateScript(TComponent* owner);
  // Reads USERNAME, PASSWORD, DATABASE, SERVER, DATABASE_TYPE, CONNECTION_TYPE
  // and WINDOWS_AUTH from section of the INI file, in that order, each through
  // its property's setter (db/developer_settings.cpp).
  void LoadSettings(const std::string& file_name, const std::string& section);

 private:
  void Connect();
  void Disconnect();
  // Runs after every open of the client connection, whoever opened it:
  // records the server's major version, the SPID and anUserID, then sets up
  // the data sources (AutoSetupDataSources).
  void AfterClientConnect(TObject* sender);

  bool auto_setup_data_sources_ = true;
  TvrdbType database_type_ = vrdbtMSSQL;
  TvrconnType connection_type_ = ctSDAC;
  std::string username_, password_, server_;
  bool debug_ = false;
  std::string database_name_;
  std::unique_ptr<TvrDatabaseTemplate> dataset_settings_;
  bool auto_commit_ = true;
  int port_ = 0;
  int command_timeout_ = 0;
  std::string schema_;
  TMSConnection* connection_ = nullptr;  // owned as a component of this one
  bool connection_prompt_ = false;
  bool use_windows_authentication_ = false;
  std::string char_set_;
  bool use_unicode_ = false;
  int an_user_id_ = 0;
  int lcid_ = 0;
  bool multiple_active_result_sets_ = false;
  std::string provider_name_;
  std::unique_ptr<TStringList> specific_options_;

  int server_major_version_ = 0;
  int spid_ = 0;
  uint8_t fetch_mode_ = 0;
  bool partial_fetch_allowed_ = false;
  uint8_t key_proc_support_ = kpsUnknown;
};

// The user-id query sent after connecting to any database but "master".
inline constexpr const char* kUserIdQuery =
    "if object_id('dbo.fQZ_UserGetCurrentUserID') is not null   SELECT dbo.fQZ_UserGetCurrentUserID() "
    "else   SELECT 0";

// Called by datasets in design mode only: when the developer settings file
// exists (db/developer_settings.h) and there is no default database, makes a
// TvrDatabase without owner the default database and loads its settings from
// the file's "DATABASE" section.
void LoadDesignTimeDefaultDatabase();

// " from dual" for the Oracle connection types, empty for SQL Server.
std::string DualTableSuffix();

}  // namespace tersify
