#include "tests/support/forwarding_provider.h"

#include <utility>

namespace tersify::testing {

using providers::Cursor;

ForwardingProvider::ForwardingProvider(std::unique_ptr<providers::Provider> inner, ExecuteHook on_execute)
    : inner_(std::move(inner)), on_execute_(std::move(on_execute)) {}

std::string ForwardingProvider::Name() const { return inner_->Name(); }
void ForwardingProvider::Open(const providers::ConnectionSettings& settings) { inner_->Open(settings); }
void ForwardingProvider::Close() { inner_->Close(); }
bool ForwardingProvider::IsOpen() const { return inner_->IsOpen(); }
void ForwardingProvider::SetCommandTimeout(int seconds) { inner_->SetCommandTimeout(seconds); }
int ForwardingProvider::CommandTimeout() const { return inner_->CommandTimeout(); }

std::unique_ptr<Cursor> ForwardingProvider::Execute(const std::string& sql, const std::vector<Variant>& params) {
  std::unique_ptr<Cursor> cursor = inner_->Execute(sql, params);
  return on_execute_ ? on_execute_(std::move(cursor)) : std::move(cursor);
}

std::unique_ptr<Cursor> ForwardingProvider::ExecuteEach(const std::string& sql, const std::vector<Variant>& params) {
  return inner_->ExecuteEach(sql, params);
}

void ForwardingProvider::StartTransaction() { inner_->StartTransaction(); }
void ForwardingProvider::Commit() { inner_->Commit(); }
void ForwardingProvider::CommitAndStartNext() { inner_->CommitAndStartNext(); }
void ForwardingProvider::EndUnusedTransaction() { inner_->EndUnusedTransaction(); }
void ForwardingProvider::Rollback() { inner_->Rollback(); }
bool ForwardingProvider::InTransaction() const { return inner_->InTransaction(); }
std::string ForwardingProvider::ServerVersion() { return inner_->ServerVersion(); }
std::vector<std::string> ForwardingProvider::PrimaryKey(const std::string& table) {
  return inner_->PrimaryKey(table);
}
std::vector<providers::ProcParamInfo> ForwardingProvider::ProcedureParams(const std::string& procedure) {
  return inner_->ProcedureParams(procedure);
}
std::unique_ptr<Cursor> ForwardingProvider::ExecuteProcedure(const std::string& procedure,
                                                           std::vector<Variant>& params) {
  return inner_->ExecuteProcedure(procedure, params);
}

}  // namespace tersify::testing
