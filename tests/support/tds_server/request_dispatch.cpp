#include "tests/support/tds_server/request_dispatch.h"

#include <strings.h>

#include <cctype>

#include "client/errors.h"
#include "tests/support/tds_server/catalog.h"
#include "tests/support/tds_server/packet_io.h"
#include "tests/support/tds_server/result_streaming.h"
#include "tests/support/tds_server/served_file.h"
#include "tests/support/tds_server/server_errors.h"
#include "tests/support/tds_server/statement_batch.h"

namespace tersify::testing::tds {
namespace {

constexpr int32_t kUserError = 50000;
constexpr size_t kMaxPrepared = 65536;

bool Is(const std::string& name, const char* wanted) {
  return strcasecmp(name.c_str(), wanted) == 0;
}

// One line of text for the log: whitespace runs folded, long texts cut.
std::string Excerpt(const std::string& text) {
  std::string line;
  for (char c : text) {
    bool space = std::isspace(static_cast<unsigned char>(c));
    if (space && (line.empty() || line.back() == ' ')) continue;
    line += space ? ' ' : c;
    if (line.size() >= 160) return line + "...";
  }
  return line;
}

std::string ParamText(const RpcRequest& request, size_t index) {
  if (index >= request.params.size())
    throw ServerError(201, "Procedure or function '" + request.procedure +
                               "' expects a parameter which was not supplied.");
  return request.params[index].value.AsString();
}

// Values of declared parameters from `first` on; named values are matched by
// name with the declarations, unnamed ones by position.
std::vector<Variant> DeclaredValues(RpcRequest& request, size_t first,
                                    const std::string& declarations) {
  std::vector<Variant> values;
  std::vector<std::string> names = DeclaredNames(declarations);
  bool named = first < request.params.size();
  for (size_t i = first; i < request.params.size(); ++i) named &= !request.params[i].name.empty();
  if (!named) {
    for (size_t i = first; i < request.params.size(); ++i)
      values.push_back(std::move(request.params[i].value));
    return values;
  }
  for (const std::string& name : names) {
    RpcParam* param = request.Named(name);
    values.push_back(param ? std::move(param->value) : Variant());
  }
  return values;
}

bool ReturnsRows(const std::string& sql) {
  size_t at = sql.find_first_not_of(" \t\r\n(");
  if (at == std::string::npos) return false;
  std::string word;
  while (at < sql.size() && std::isalpha(static_cast<unsigned char>(sql[at])))
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(sql[at++])));
  return word == "select" || word == "with" || word == "values";
}

// SQL Server's error for the session it chose as a deadlock victim.
ServerError DeadlockVictim(int spid) {
  return ServerError(1205,
                     "Transaction (Process ID " + std::to_string(spid) +
                         ") was deadlocked on lock resources with another process and has been chosen as "
                         "the deadlock victim. Rerun the transaction.",
                     13, 51);
}

}  // namespace

void RequestDispatcher::Log(const std::string& line) const {
  if (log_) log_(line);
}

void RequestDispatcher::Answer(bool procedure, const std::function<void()>& body) {
  try {
    body();
  } catch (const ConnectionClosed&) {
    throw;
  } catch (const std::exception& error) {
    if (control_ && control_->AttentionArrived()) {
      // The client cancelled: the statement stopped (SQLite undid its work)
      // and the reply is the attention's acknowledgement.
      Log(std::string("  stopped by attention (") + error.what() + ")");
      // Counted as it is answered: the client goes on once it has the answer,
      // before this session reads the attention's own packet.
      if (state_) state_->CountRequest(kAttention);
      out_.Done(kDoneAttention);
      out_.EndMessage();
      ++attentions_answered_;
      return;
    }
    Log(std::string("  error: ") + error.what());
    ErrorContext context;
    context.lock_timed_out = control_ && control_->LockTimedOut();
    context.database = rules_.database;
    context.spid = rules_.spid;
    context.access = rules_.access;
    context.sql = statement_;
    context.primary_key = [this](const std::string& table) { return provider_.PrimaryKey(table); };
    SqlServerError answer = ToSqlServerError(error, context);
    out_.Error(answer.number, answer.severity, answer.message, answer.state);
    if (answer.terminates_statement) out_.Info(kStatementTerminated, "The statement has been terminated.", 0);
    if (answer.ends_transaction && provider_.InTransaction()) {
      try {
        provider_.Rollback();
        out_.EnvChangeBytes(kEnvRollbackTransaction, "", descriptor_);
        descriptor_.clear();
      } catch (const std::exception& rollback) {
        Log(std::string("  rollback failed: ") + rollback.what());
      }
    }
    if (procedure) out_.DoneProc(kDoneError);
    else out_.Done(kDoneError);
  }
  out_.EndMessage();
}

void RequestDispatcher::Batch(const std::string& payload) {
  Answer(false, [&] {
    std::string sql = DecodeBatch(payload);
    Log("batch: " + Excerpt(sql));
    CheckReadFailure(sql);
    CheckWriteDeadlock(sql);
    const std::string text = ServerStatement(sql);
    CheckStatementDeadlock(text, {}, false, nocount_);
    if (IsSingleStatement(text)) {
      const int64_t changes_before = TotalChanges();
      std::unique_ptr<providers::Cursor> cursor = provider_.Execute(text, {});
      StreamedResult result = StreamCursor(*cursor, out_);
      cursor.reset();
      if (state_ && result.has_columns) state_->RowsSent(sql, result.rows);
      SendTriggerCounts(text, changes_before, result);
      out_.Done(Counted(CountStatus(result)), CountRows(result));
    } else {
      const LastDone last = AnswerStatements(provider_, out_, text, {}, false, nocount_);
      out_.Done(last.status, last.rows);
    }
    if (control_ && text.find(kUnpaddedMark) != std::string::npos) TrimUnpaddedColumns(control_->Db());
  });
}

void RequestDispatcher::Rpc(const std::string& payload) {
  Answer(true, [&] {
    RpcRequest request = DecodeRpc(payload);
    const std::string& name = request.procedure;
    if (Is(name, "sp_executesql")) ExecuteSql(request);
    else if (Is(name, "sp_prepexec")) PrepExec(request);
    else if (Is(name, "sp_execute")) Execute(request);
    else if (Is(name, "sp_prepare")) Prepare(request);
    else if (Is(name, "sp_unprepare")) Unprepare(request);
    else if (IsCatalogProcedure(name)) Catalog(request);
    else Procedure(request);
  });
}

void RequestDispatcher::Run(const Prepared& statement, RpcRequest& request, size_t first,
                            const RpcParam* handle, int32_t handle_value) {
  CheckReadFailure(statement.statement.sql);
  CheckWriteDeadlock(statement.statement.sql);
  std::vector<Variant> values =
      BindValues(statement.statement, DeclaredValues(request, first, statement.declarations));
  // A SET NOCOUNT inside the procedure's text holds until it returns.
  const bool session_nocount = nocount_;
  nocount_ = statement.nocount.value_or(nocount_);
  struct RestoreNocount {
    bool& setting;
    bool value;
    ~RestoreNocount() { setting = value; }
  } restore{nocount_, session_nocount};
  {
    bool nocount = nocount_;
    CheckStatementDeadlock(statement.statement.sql, values, true, nocount);
  }
  if (IsSingleStatement(statement.statement.sql)) {
    const int64_t changes_before = TotalChanges();
    std::unique_ptr<providers::Cursor> cursor = provider_.Execute(statement.statement.sql, values);
    StreamedResult result = StreamCursor(*cursor, out_);
    cursor.reset();
    if (state_ && result.has_columns) state_->RowsSent(statement.statement.sql, result.rows);
    SendTriggerCounts(statement.statement.sql, changes_before, result);
    out_.DoneInProc(kDoneMore | Counted(CountStatus(result)), CountRows(result));
  } else {
    bool nocount = nocount_;
    AnswerStatements(provider_, out_, statement.statement.sql, values, true, nocount);
  }
  out_.ReturnStatus(0);
  if (handle) out_.ReturnValue(0, handle->name, IntType(4), Variant(handle_value));
  out_.DoneProc(kDoneFinal);
}

void RequestDispatcher::ExecuteSql(RpcRequest& request) {
  std::string sql = ParamText(request, 0);
  std::string declarations = request.params.size() > 1 ? request.params[1].value.AsString() : "";
  Log("rpc sp_executesql: " + Excerpt(sql));
  Run(ServerProcedure(sql, declarations), request, 2, nullptr, 0);
}

void RequestDispatcher::PrepExec(RpcRequest& request) {
  std::string declarations = ParamText(request, 1);
  std::string sql = ParamText(request, 2);
  Log("rpc sp_prepexec: " + Excerpt(sql));
  if (prepared_.size() >= kMaxPrepared) throw ServerError(kUserError, "too many prepared statements");
  int32_t handle = next_handle_++;
  Prepared& statement = prepared_[handle] = ServerProcedure(sql, declarations);
  try {
    Run(statement, request, 3, &request.params[0], handle);
  } catch (...) {
    prepared_.erase(handle);
    throw;
  }
}

void RequestDispatcher::Execute(RpcRequest& request) {
  if (request.params.empty()) ParamText(request, 0);
  int32_t handle = request.params[0].value.AsInteger();
  auto found = prepared_.find(handle);
  if (found == prepared_.end())
    throw ServerError(8179, "Could not find prepared statement with handle " +
                                std::to_string(handle) + ".");
  Log("rpc sp_execute " + std::to_string(handle) + ": " + Excerpt(found->second.statement.sql));
  Run(found->second, request, 1, nullptr, 0);
}

void RequestDispatcher::Prepare(const RpcRequest& request) {
  std::string declarations = ParamText(request, 1);
  std::string sql = ParamText(request, 2);
  Log("rpc sp_prepare: " + Excerpt(sql));
  if (prepared_.size() >= kMaxPrepared) throw ServerError(kUserError, "too many prepared statements");
  Prepared statement = ServerProcedure(sql, declarations);
  // The columns of a query are described without fetching: it runs with null
  // values and only its description is sent. Other statements are not run.
  if (ReturnsRows(statement.statement.sql)) {
    std::vector<Variant> nulls(statement.statement.value_index.size());
    std::unique_ptr<providers::Cursor> cursor = provider_.Execute(statement.statement.sql, nulls);
    SendColumns(*cursor, out_);
  }
  int32_t handle = next_handle_++;
  prepared_[handle] = std::move(statement);
  out_.ReturnStatus(0);
  out_.ReturnValue(0, request.params[0].name, IntType(4), Variant(handle));
  out_.DoneProc(kDoneFinal);
}

void RequestDispatcher::Unprepare(const RpcRequest& request) {
  if (request.params.empty()) ParamText(request, 0);
  int32_t handle = request.params[0].value.AsInteger();
  Log("rpc sp_unprepare " + std::to_string(handle));
  prepared_.erase(handle);
  out_.ReturnStatus(0);
  out_.DoneProc(kDoneFinal);
}

void RequestDispatcher::Catalog(const RpcRequest& request) {
  std::string line = "rpc " + request.procedure;
  for (const RpcParam& param : request.params) line += " " + param.name + "=" + param.value.AsString();
  Log(line);
  int64_t rows = SendCatalog(provider_, request, rules_.database, out_);
  out_.DoneInProc(kDoneMore | kDoneCount, static_cast<uint64_t>(rows));
  out_.ReturnStatus(0);
  out_.DoneProc(kDoneFinal);
}

void RequestDispatcher::Procedure(const RpcRequest& request) {
  Log("rpc " + request.procedure + " (" + std::to_string(request.params.size()) + " parameters)");
  std::vector<Variant> values;
  values.reserve(request.params.size());
  for (const RpcParam& param : request.params) values.push_back(param.value);
  std::string name = request.procedure;
  if (name.size() > 4 && Is(name.substr(0, 4), "dbo.")) name = name.substr(4);
  std::unique_ptr<providers::Cursor> cursor = provider_.ExecuteProcedure(name, values);
  StreamedResult result;
  if (cursor) result = StreamCursor(*cursor, out_);
  cursor.reset();
  out_.DoneInProc(kDoneMore | CountStatus(result), CountRows(result));
  out_.ReturnStatus(0);
  for (size_t i = 0; i < request.params.size(); ++i) {
    const RpcParam& param = request.params[i];
    if (param.IsOutput())
      out_.ReturnValue(static_cast<uint16_t>(i), param.name, param.type,
                       i < values.size() ? values[i] : Variant());
  }
  out_.DoneProc(kDoneFinal);
}

void RequestDispatcher::SendTriggerCounts(const std::string& sql, int64_t changes_before,
                                          const StreamedResult& result) {
  if (nocount_ || result.has_columns || result.rows < 0 || !IsSingleStatement(sql)) return;
  const int64_t by_triggers = TotalChanges() - changes_before - result.rows;
  if (by_triggers > 0) out_.DoneInProc(kDoneMore | kDoneCount, static_cast<uint64_t>(by_triggers));
}

uint16_t RequestDispatcher::Counted(uint16_t status) const {
  return nocount_ ? static_cast<uint16_t>(status & ~kDoneCount) : status;
}

void RequestDispatcher::CheckReadFailure(const std::string& sql) const {
  if (state_ && ReturnsRows(sql) && state_->TakeReadFailure(sql))
    throw ServerError(601, "Could not continue scan with NOLOCK due to data movement.", 12, 3);
}

void RequestDispatcher::CheckWriteDeadlock(const std::string& sql) const {
  if (state_ && state_->TakeWriteDeadlock(sql)) throw DeadlockVictim(rules_.spid);
}

void RequestDispatcher::CheckStatementDeadlock(const std::string& text, const std::vector<Variant>& values,
                                               bool in_procedure, bool& nocount) {
  // Most requests run with no statement to fail: their text is not split.
  if (!state_ || !state_->StatementDeadlockArmed()) return;
  const std::vector<std::string> statements = SplitStatements(text);
  const std::optional<size_t> victim = state_->TakeStatementDeadlock(statements);
  if (!victim) return;
  AnswerLeadingStatements(provider_, out_, statements, values, *victim, in_procedure, nocount);
  Log("  deadlock victim: statement " + std::to_string(*victim + 1) + " of " + std::to_string(statements.size()) +
      ", after " + std::to_string(*victim) + " ran");
  throw DeadlockVictim(rules_.spid);
}

std::string RequestDispatcher::ServerStatement(const std::string& sql) {
  SessionOptions options;
  std::string text = ServerText(sql, options);
  if (options.nocount) nocount_ = *options.nocount;
  return text;
}

std::string RequestDispatcher::ServerText(const std::string& sql, SessionOptions& options) {
  statement_ = sql;
  std::string text = TakeSetStatements(sql, options);
  if (options.lock_timeout_ms && control_) control_->SetLockTimeout(*options.lock_timeout_ms);
  if (options.ansi_padding) rules_.ansi_padding = *options.ansi_padding;
  if (options.textsize) out_.SetTextSize(*options.textsize);
  return ServerSql(TransactionStatements(text, savepoints_), rules_);
}

RequestDispatcher::Prepared RequestDispatcher::ServerProcedure(const std::string& sql,
                                                              const std::string& declarations) {
  Prepared prepared{ToPositional(sql, declarations, IsExec(sql) ? "" : rules_.collation.ColumnCollation(true)),
                    declarations, std::nullopt};
  // A SET NOCOUNT in the text is the procedure's own, not the session's.
  SessionOptions options;
  prepared.statement.sql = ServerText(prepared.statement.sql, options);
  prepared.nocount = options.nocount;
  statement_ = sql;
  return prepared;
}

std::string RequestDispatcher::NewDescriptor() {
  ByteWriter descriptor;
  descriptor.U64(++transactions_);
  return descriptor.Take();
}

void RequestDispatcher::Transaction(const std::string& payload) {
  Answer(false, [&] {
    TmRequest request = DecodeTm(payload);
    switch (request.kind) {
      case TmKind::Begin:
        Log("tm begin");
        provider_.StartTransaction();
        descriptor_ = NewDescriptor();
        out_.EnvChangeBytes(kEnvBeginTransaction, descriptor_, "");
        break;
      case TmKind::Commit:
      case TmKind::Rollback: {
        bool commit = request.kind == TmKind::Commit;
        Log(std::string(commit ? "tm commit" : "tm rollback") +
            (request.begin_next ? " and begin" : ""));
        if (provider_.InTransaction()) {
          if (commit) provider_.Commit();
          else provider_.Rollback();
          out_.EnvChangeBytes(commit ? kEnvCommitTransaction : kEnvRollbackTransaction, "",
                              descriptor_);
          descriptor_.clear();
        } else if (commit) {
          throw ServerError(3902, "The COMMIT TRANSACTION request has no corresponding BEGIN "
                                  "TRANSACTION.");
        }
        if (request.begin_next) {
          provider_.StartTransaction();
          descriptor_ = NewDescriptor();
          out_.EnvChangeBytes(kEnvBeginTransaction, descriptor_, "");
        }
        break;
      }
      case TmKind::Other:
        Log("tm request " + std::to_string(request.code));
        throw ServerError(kUserError, "transaction request " + std::to_string(request.code) +
                                          " is not supported");
    }
    out_.Done(kDoneFinal);
  });
}

void RequestDispatcher::Attention() {
  if (attentions_answered_ > 0) {
    --attentions_answered_;
    Log("attention (answered: it stopped a statement)");
    return;
  }
  Log("attention");
  if (state_) state_->CountRequest(kAttention);
  out_.Done(kDoneAttention);
  out_.EndMessage();
}

void RequestDispatcher::Disconnected() noexcept {
  try {
    if (provider_.InTransaction()) provider_.Rollback();
  } catch (...) {
    // The connection is gone either way; closing the provider discards the transaction.
  }
}

}  // namespace tersify::testing::tds
