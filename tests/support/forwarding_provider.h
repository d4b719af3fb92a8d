#pragma once
// A provider that hands every call to an inner one, for a test that watches
// what a component reads: the cursor of each Execute goes through a hook
// that may wrap it (to count the rows fetched, say); ExecuteEach and the rest
// are the inner provider's own.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/providers/provider.h"

namespace tersify::testing {

class ForwardingProvider final : public providers::Provider {
 public:
  // Called with each cursor Execute opened; what it returns is handed out.
  using ExecuteHook = std::function<std::unique_ptr<providers::Cursor>(std::unique_ptr<providers::Cursor>)>;

  ForwardingProvider(std::unique_ptr<providers::Provider> inner, ExecuteHook on_execute);

  std::string Name() const override;
  void Open(const providers::ConnectionSettings& settings) override;
  void Close() override;
  bool IsOpen() const override;
  void SetCommandTimeout(int seconds) override;
  int CommandTimeout() const override;
  std::unique_ptr<providers::Cursor> Execute(const std::string& sql, const std::vector<Variant>& params) override;
  std::unique_ptr<providers::Cursor> ExecuteEach(const std::string& sql,
                                                 const std::vector<Variant>& params) override;
  void StartTransaction() override;
  void Commit() override;
  void CommitAndStartNext() override;
  void EndUnusedTransaction() override;
  void Rollback() override;
  bool InTransaction() const override;
  std::string ServerVersion() override;
  std::vector<std::string> PrimaryKey(const std::string& table) override;
  std::vector<providers::ProcParamInfo> ProcedureParams(const std::string& procedure) override;
  std::unique_ptr<providers::Cursor> ExecuteProcedure(const std::string& procedure,
                                                      std::vector<Variant>& params) override;

 private:
  std::unique_ptr<providers::Provider> inner_;
  ExecuteHook on_execute_;
};

}  // namespace tersify::testing
