// TMSConnection: connecting through a provider, the login prompt, the
// connection events, transactions and the per-table key cache.

#include "client/ms_connection.h"

#include <algorithm>

#include "client/login_prompt.h"
#include "client/ms_dataset.h"
#include "framework/rtl/platform.h"

namespace tersify {
namespace {

constexpr const char* kConnectionClosed = "Operation is not allowed when the connection is closed";
constexpr const char* kTransactionInProgress = "User transaction is already in progress";

const char* IsolationLevelText(TIsolationLevel level) {
  switch (level) {
    case TIsolationLevel::ilReadUnCommitted: return "READ UNCOMMITTED";
    case TIsolationLevel::ilRepeatableRead: return "REPEATABLE READ";
    case TIsolationLevel::ilIsolated: return "SERIALIZABLE";
    case TIsolationLevel::ilSnapshot: return "SNAPSHOT";
    case TIsolationLevel::ilReadCommitted: break;
  }
  return "READ COMMITTED";
}

std::string IsolationLevelStatement(TIsolationLevel level) {
  return std::string("SET TRANSACTION ISOLATION LEVEL ") + IsolationLevelText(level);
}

}  // namespace

TMSConnection::TMSConnection(TComponent* owner) : TComponent(owner) {}

TMSConnection::~TMSConnection() {
  Destroying();
  // Datasets outlive their connection only closed and detached; closing a
  // dataset never reaches the server, so nothing here can fail half-way.
  std::vector<TCustomMSDataSet*> datasets;
  datasets.swap(datasets_);
  for (TCustomMSDataSet* dataset : datasets) {
    try {
      if (dataset->Active()) dataset->Close();
    } catch (...) {
      // A dataset's close event failing must not stop the connection's destruction.
    }
    dataset->connection_ = nullptr;
  }
  if (provider_) {
    try {
      provider_->Close();
    } catch (...) {
      // The server is gone either way; a destructor cannot report it.
    }
  }
}

bool TMSConnection::Connected() const { return provider_ && provider_->IsOpen(); }

void TMSConnection::SetConnected(bool value) {
  if (value)
    Open();
  else
    Close();
}

bool TMSConnection::FailOnError(EDAError& error) {
  bool fail = true;
  if (OnError) OnError(this, error, fail);
  return fail;
}

void TMSConnection::Open() {
  if (Connected()) return;
  if (BeforeConnect) BeforeConnect(this);

  if (login_prompt_) {
    TLoginValues values{username_, password_, server_, database_};
    if (!RunLoginPrompt(*this, values)) throw EAbort("Operation aborted");
    username_ = values.username;
    password_ = values.password;
    server_ = values.server;
    database_ = values.database;
  }

  providers::ConnectionSettings settings;
  settings.server = server_;
  settings.database = database_;
  settings.username = username_;
  settings.password = password_;
  settings.port = port_;
  settings.windows_authentication = authentication_ == TMSAuthentication::auWindows;
  settings.multiple_active_result_sets = options_.MultipleActiveResultSets;
  settings.login_timeout_seconds = login_timeout_;
  settings.command_timeout_seconds = command_timeout_;
  for (int i = 0; i < specific_options_.Count(); ++i) {
    if (!Trim(specific_options_[i]).empty()) settings.specific_options.push_back(specific_options_[i]);
  }
  // Every statement of the connection runs at this level; it goes with the
  // provider's own settings, one request (the sqlite provider reads the SET
  // statement and ignores it).
  settings.session_settings = IsolationLevelStatement(isolation_level_);

  std::unique_ptr<providers::Provider> provider;
  try {
    provider = providers::CreateProvider(settings);
    provider->Open(settings);
  } catch (EDAError& e) {
    if (FailOnError(e)) throw;
    throw EAbort("Operation aborted");
  }
  provider_ = std::move(provider);
  key_cache_.clear();

  if (AfterConnect) AfterConnect(this);
  if (AfterOpenForOwner) AfterOpenForOwner(this);
}

void TMSConnection::ApplyIsolationLevel() {
  std::unique_ptr<providers::Cursor> cursor = GetProvider().Execute(IsolationLevelStatement(isolation_level_), {});
  while (cursor->Next()) {
  }
}

void TMSConnection::Close() {
  if (!provider_) return;
  if (BeforeDisconnect) BeforeDisconnect(this);
  // Copy: closing a dataset may run handlers that attach or detach datasets.
  const std::vector<TCustomMSDataSet*> datasets = datasets_;
  for (TCustomMSDataSet* dataset : datasets) {
    if (std::find(datasets_.begin(), datasets_.end(), dataset) != datasets_.end() &&
        dataset->Active()) {
      dataset->Close();
    }
  }
  std::unique_ptr<providers::Provider> provider = std::move(provider_);
  key_cache_.clear();
  provider->Close();
  if (AfterDisconnect) AfterDisconnect(this);
}

void TMSConnection::SetCommandTimeout(int seconds) {
  command_timeout_ = seconds < 0 ? 0 : seconds;
  if (provider_) provider_->SetCommandTimeout(command_timeout_);
}

TMSConnection::StatementTimeout::StatementTimeout(TMSConnection& connection, int seconds)
    : connection_(connection) {
  if (seconds <= 0 || !connection.provider_) return;
  provider_ = connection.provider_.get();
  restore_ = provider_->CommandTimeout();
  provider_->SetCommandTimeout(seconds);
}

TMSConnection::StatementTimeout::~StatementTimeout() {
  // A connection closed meanwhile got its own limit back when it reopened.
  if (provider_ && connection_.provider_.get() == provider_) provider_->SetCommandTimeout(restore_);
}

std::string TMSConnection::ServerVersion() {
  if (!Connected()) Open();
  return GetProvider().ServerVersion();
}

providers::Provider& TMSConnection::GetProvider() {
  if (!Connected()) throw EDAError(kConnectionClosed);
  return *provider_;
}

void TMSConnection::StartTransaction() {
  providers::Provider& provider = GetProvider();
  if (provider.InTransaction()) throw EDAError(kTransactionInProgress);
  provider.StartTransaction();
}

void TMSConnection::Commit() { GetProvider().Commit(); }

void TMSConnection::CommitAndStartNext() { GetProvider().CommitAndStartNext(); }

void TMSConnection::EndUnusedTransaction() { GetProvider().EndUnusedTransaction(); }

void TMSConnection::Rollback() { GetProvider().Rollback(); }

bool TMSConnection::InTransaction() const { return Connected() && provider_->InTransaction(); }

const std::vector<std::string>& TMSConnection::PrimaryKeyOf(const std::string& table) {
  const std::string key = LowerCase(table);
  for (const auto& [name, columns] : key_cache_)
    if (name == key) return columns;
  std::vector<std::string> columns = GetProvider().PrimaryKey(table);
  key_cache_.emplace_back(key, std::move(columns));
  return key_cache_.back().second;
}

void TMSConnection::AttachDataSet(TCustomMSDataSet* dataset) {
  if (std::find(datasets_.begin(), datasets_.end(), dataset) == datasets_.end())
    datasets_.push_back(dataset);
}

void TMSConnection::DetachDataSet(TCustomMSDataSet* dataset) {
  datasets_.erase(std::remove(datasets_.begin(), datasets_.end(), dataset), datasets_.end());
}

}  // namespace tersify
