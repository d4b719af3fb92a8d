#pragma once
// What the server does with each request of a logged-in client: SQL batches,
// remote procedure calls (sp_executesql, the prepare/execute family, the
// catalogue procedures, stored procedures by name), transaction-manager
// requests and attention. Every request is run on the connection's provider
// and answered with exactly one reply message; provider errors become ERROR
// tokens carrying the provider's message.

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "client/providers/provider.h"
#include "tests/support/tds_server/requests.h"
#include "tests/support/tds_server/sql_parameters.h"
#include "tests/support/tds_server/token_writer.h"

namespace tersify::testing::tds {

using RequestLog = std::function<void(const std::string&)>;

class RequestDispatcher {
 public:
  RequestDispatcher(providers::Provider& provider, TokenWriter& out, std::string database,
                    RequestLog log)
      : provider_(provider), out_(out), database_(std::move(database)), log_(std::move(log)) {}

  void Batch(const std::string& payload);
  void Rpc(const std::string& payload);
  void Transaction(const std::string& payload);
  void Attention();
  // The client went away: an open transaction is rolled back.
  void Disconnected() noexcept;

 private:
  struct Prepared {
    PositionalStatement statement;
    std::string declarations;
  };

  // Runs `body`; an error it raises becomes ERROR + a final DONE (or DONEPROC) with the error bit.
  void Answer(bool procedure, const std::function<void()>& body);
  void ExecuteSql(RpcRequest& request);
  void PrepExec(RpcRequest& request);
  void Execute(RpcRequest& request);
  void Prepare(const RpcRequest& request);
  void Unprepare(const RpcRequest& request);
  void Catalog(const RpcRequest& request);
  void Procedure(const RpcRequest& request);
  // Runs a prepared or direct statement with the request's values (from
  // parameter `first` on, moved out of the request) and writes the rest of the reply; `handle` is the
  // output parameter that receives the prepared handle, if any.
  void Run(const Prepared& statement, RpcRequest& request, size_t first,
           const RpcParam* handle, int32_t handle_value);
  std::string NewDescriptor();
  void Log(const std::string& line) const;

  providers::Provider& provider_;
  TokenWriter& out_;
  std::string database_;
  RequestLog log_;
  std::map<int32_t, Prepared> prepared_;
  int32_t next_handle_ = 1;
  uint64_t transactions_ = 0;
  std::string descriptor_;  // of the open transaction
  bool nocount_ = false;    // SET NOCOUNT ON was run by a SQL batch of the session
};

}  // namespace tersify::testing::tds
