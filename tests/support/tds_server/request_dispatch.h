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
#include <optional>
#include <string>
#include <vector>

#include "client/providers/provider.h"
#include "tests/support/tds_server/requests.h"
#include "tests/support/tds_server/result_streaming.h"
#include "tests/support/tds_server/server_sql.h"
#include "tests/support/tds_server/server_state.h"
#include "tests/support/tds_server/statement_control.h"
#include "tests/support/tds_server/sql_parameters.h"
#include "tests/support/tds_server/token_writer.h"

namespace tersify::testing::tds {

using RequestLog = std::function<void(const std::string&)>;

class RequestDispatcher {
 public:
  // control: the session's lock waits and attention (may be null: none).
  RequestDispatcher(providers::Provider& provider, TokenWriter& out, SqlRules rules, RequestLog log,
                    StatementControl* control = nullptr, ServerState* state = nullptr)
      : provider_(provider), out_(out), rules_(std::move(rules)), log_(std::move(log)), control_(control),
        state_(state), nocount_(rules_.nocount) {}

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
    std::optional<bool> nocount;  // set by a SET NOCOUNT in the text, until the call returns
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
  // A client's statement as SQLite runs it (server_sql.h); a SET LOCK_TIMEOUT
  // in it changes how long the session's statements wait for a lock.
  std::string ServerStatement(const std::string& sql);
  // Rows written since, as control_ counts them (0 without control_).
  int64_t TotalChanges() const { return control_ ? control_->TotalChanges() : 0; }
  // The counts of the rows a statement's triggers wrote, as SQL Server sends
  // them before the statement's own: DONEINPROC, unless NOCOUNT is on.
  // Only a text of one statement is told apart from its triggers.
  void SendTriggerCounts(const std::string& sql, int64_t changes_before, const StreamedResult& result);
  // A DONE status without its count while SET NOCOUNT is on.
  uint16_t Counted(uint16_t status) const;
  // Raises the 601 the server was told to raise for this query, if any.
  void CheckReadFailure(const std::string& sql) const;
  // Raises the 1205 the server was told to raise for this request, if any.
  void CheckWriteDeadlock(const std::string& sql) const;
  // Raises the 1205 the server was told to raise for one of the statements
  // of text, if any, once the statements before it ran and were answered.
  void CheckStatementDeadlock(const std::string& text, const std::vector<Variant>& values, bool in_procedure,
                              bool& nocount);
  // A parameterised statement as SQLite runs it: nvarchar values compare
  // under the Unicode collation, as SQL Server converts a varchar column to
  // compare it with an nvarchar value.
  Prepared ServerProcedure(const std::string& sql, const std::string& declarations);
  // ServerStatement's text, with the session options the text sets left in `options`.
  std::string ServerText(const std::string& sql, SessionOptions& options);
  void Log(const std::string& line) const;

  providers::Provider& provider_;
  TokenWriter& out_;
  SqlRules rules_;
  RequestLog log_;
  std::string statement_;  // the text of the statement running, for error messages
  StatementControl* control_;
  ServerState* state_;
  bool nocount_ = false;                 // SET NOCOUNT
  std::vector<std::string> savepoints_;  // SAVE TRANSACTION names of the open transaction
  // Attentions already answered by the reply of the statement they stopped.
  int attentions_answered_ = 0;
  std::map<int32_t, Prepared> prepared_;
  int32_t next_handle_ = 1;
  uint64_t transactions_ = 0;
  std::string descriptor_;  // of the open transaction
};

}  // namespace tersify::testing::tds
