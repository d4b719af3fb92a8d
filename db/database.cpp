#include "db/database.h"

#include <cstdlib>
#include <memory>

#include "common/vr_common.h"
#include "db/data_source_setup.h"
#include "db/dataset.h"
#include "db/registries.h"
#include "db/script.h"
#include "db/trans_log_thread.h"
#include "framework/rtl/exception.h"
#include "framework/rtl/platform.h"

namespace tersify {

namespace {

// The integer value of a version field; 0 when it is not a decimal integer.
int VersionNumber(const std::string& text) {
  if (text.empty()) return 0;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0') return 0;
  return static_cast<int>(value);
}

}  // namespace

TvrDatabase::TvrDatabase(TComponent* owner) : TComponent(owner) {
  specific_options_ = std::make_unique<TStringList>();
  RegisterIn(DatabaseRegistry, this);
  auto_setup_data_sources_ = true;
  dataset_settings_ = std::make_unique<TvrDatabaseTemplate>();
  database_type_ = vrdbtMSSQL;
  connection_type_ = ctSDAC;
  lcid_ = GetUserDefaultLCID();
}

TvrDatabase::~TvrDatabase() {
  Destroying();
  // An open transaction is committed; neither the check nor the commit may
  // keep the component from going away.
  try {
    if (InTransaction()) Commit();
  } catch (const std::exception&) {
  }
  // A destructor cannot pass an error on, so a failure while closing the
  // client connection is dropped as well; callers that must know close the
  // connection (Connected := false) before destroying the component.
  if (connection_type_ == ctSDAC && connection_) {
    try {
      connection_->SetConnected(false);
    } catch (const std::exception&) {
    }
  }
  dataset_settings_.reset();
  TvrDatabase* self = this;
  DefaultDatabase.compare_exchange_strong(self, nullptr);
  UnregisterFrom(DatabaseRegistry, this);
  ForgetDataSourceDatabase(this);
  // Datasets still attached forget this component, so that none is left
  // holding a destroyed database (a later open attaches the default again).
  if (DatasetRegistry) {
    for (TvrDataset* dataset : DatasetRegistry->List())
      if (dataset->Database() == this) dataset->SetDatabase(nullptr);
  }
  specific_options_.reset();
  // The base destructor destroys the owned client connection.
}

void TvrDatabase::SetDatabaseType(TvrdbType value) {
  if (Connected()) Disconnect();
  database_type_ = value;
  if (value == vrdbtOracle) {
    if (connection_type_ != ctODAC && connection_type_ != ctODACNET) connection_type_ = ctODACNET;
  } else if (value == vrdbtMSSQL) {
    connection_type_ = ctSDAC;
  }
}

void TvrDatabase::SetConnectionType(TvrconnType value) {
  if (Connected()) Disconnect();
  connection_type_ = value;
  database_type_ = value == ctSDAC ? vrdbtMSSQL : vrdbtOracle;
}

bool TvrDatabase::Connected() const {
  TMSConnection* client = ClientConnection();
  return client && client->Connected();
}

void TvrDatabase::SetConnected(bool value) {
  // Form loading: a stored Connected is ignored, and nothing connects the
  // component once loading ends.
  if (IsLoading()) return;
  if (value) {
    if (!Connected()) Connect();
  } else {
    Disconnect();
  }
}

void TvrDatabase::Connect() {
  PrepareConnection();
  if (connection_type_ == ctSDAC) {
    database_type_ = vrdbtMSSQL;
    // AfterClientConnect runs from the open.
    connection_->Open();
    return;
  }
  // A connection type that does not connect still sets up its data sources.
  if (auto_setup_data_sources_) SetupDataSources(*this);
}

void TvrDatabase::AfterClientConnect(TObject* /*sender*/) {
  server_major_version_ = VersionNumber(TcString::GetToken(connection_->ServerVersion(), 1, '.', -1));
  spid_ = SelectInteger("select @@SPID", 0);
  if (LowerCase(database_name_) == "master") {
    an_user_id_ = 0;
  } else {
    try {
      an_user_id_ = SelectInteger(kUserIdQuery, -1);
    } catch (const Exception&) {
      an_user_id_ = 0;
    }
  }
  // The data sources bound to this component get their datasets.
  if (auto_setup_data_sources_) SetupDataSources(*this);
}

void TvrDatabase::Disconnect() {
  if (Connected()) connection_->SetConnected(false);
}

bool TvrDatabase::MultipleActiveResultSets() const {
  if (connection_) return connection_->Options().MultipleActiveResultSets;
  return multiple_active_result_sets_;
}

void TvrDatabase::SetMultipleActiveResultSets(bool value) {
  multiple_active_result_sets_ = value;
  if (connection_) connection_->Options().MultipleActiveResultSets = value;
}

void TvrDatabase::PrepareConnection() {
  if (Connected() || connection_type_ != ctSDAC) return;
  if (!connection_) {
    connection_ = MakeComponent<TMSConnection>(this);
    connection_->AfterOpenForOwner = TNotifyEvent::Bind<&TvrDatabase::AfterClientConnect>(this);
  }
  connection_->SetUsername(username_);
  connection_->SetPassword(password_);
  connection_->SetServer(server_);
  connection_->SetDatabase(database_name_);
  // Port and SpecificOptions reach the client too, so that a SQL Server on a
  // non-default port and the driver's encryption options can be used.
  connection_->SetPort(port_);
  connection_->SetCommandTimeout(command_timeout_);
  connection_->SpecificOptions().Assign(*specific_options_);
  connection_->SetLoginPrompt(connection_prompt_);
  // Every statement on the connection reads uncommitted data: the pass may,
  // because every write it makes is held to the value it read. /verify and
  // /estimate, which count what is stored, read committed data for their run
  // (tool/pass/committed_reads.h).
  connection_->SetIsolationLevel(TIsolationLevel::ilReadUnCommitted);
  connection_->Options().MultipleActiveResultSets = multiple_active_result_sets_;
  connection_->Options().AutoTranslate = false;
  if (AfterConnect) connection_->AfterConnect = AfterConnect;
  if (BeforeConnect) connection_->BeforeConnect = BeforeConnect;
  if (AfterDisconnect) connection_->AfterDisconnect = AfterDisconnect;
  if (BeforeDisconnect) connection_->BeforeDisconnect = BeforeDisconnect;
  if (OnError) connection_->OnError = OnError;
  connection_->SetAuthentication(use_windows_authentication_ ? TMSAuthentication::auWindows
                                                             : TMSAuthentication::auServer);
}

void TvrDatabase::SetCommandTimeout(int seconds) {
  command_timeout_ = seconds < 0 ? 0 : seconds;
  if (connection_) connection_->SetCommandTimeout(command_timeout_);
}

TMSConnection* TvrDatabase::ClientConnection() const {
  return connection_type_ == ctSDAC ? connection_ : nullptr;
}

bool TvrDatabase::InTransaction() const {
  return Connected() && connection_->InTransaction();
}

int TvrDatabase::TransactionCount() {
  if (!Connected()) return -1;
  return SelectInteger("select @@TRANCOUNT", 0);
}

void TvrDatabase::StartTransaction() {
  if (!Connected()) return;
  try {
    connection_->StartTransaction();
  } catch (const Exception&) {
    // The caller goes on as if the transaction had started; the refusal is
    // handed to the application's transaction log.
    TSaveTransLogThread::LogText(
        Format("Overlapped StartTransaction, TransactionCount = %d", TransactionCount()));
  }
}

void TvrDatabase::Commit() {
  if (Connected()) connection_->Commit();
}

void TvrDatabase::Rollback() {
  if (Connected()) connection_->Rollback();
}

int TvrDatabase::SelectInteger(const std::string& sql, int default_value) {
  // Owned by this component and destroyed here in every case; destroying a
  // component takes it out of its owner's list.
  std::unique_ptr<TvrDataset> query(MakeComponent<TvrDataset>(this));
  query->SetDatabase(this);
  query->SetSQLText(sql);
  query->Open();
  if (query->RecordCount() > 0) return query->Fields(0)->AsInteger();
  return default_value;
}

void TvrDatabase::ExecSQL(const std::string& sql) {
  if (Trim(sql).empty() || !Connected()) return;
  std::unique_ptr<TvrScript> script(CreateScript(nullptr));
  TStringList lines;
  lines.SetText(sql);
  script->SetSQL(lines);
  script->Execute();
}

TvrScript* TvrDatabase::CreateScript(TComponent* owner) {
  CreatingScript = {true, connection_type_};
  struct ClearCreating {
    ~ClearCreating() { CreatingScript = {}; }
  } clear;
  TvrScript* script = MakeComponent<TvrScript>(owner ? owner : this);
  script->SetDatabase(this);
  return script;
}

std::string DualTableSuffix() {
  return DefaultConnectionType == ctSDAC ? std::string() : std::string(" from dual");
}

}  // namespace tersify
