#include "client/providers/sqlite/sqlite_functions.h"

#include <time.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <vector>

#include "client/errors.h"
#include "client/providers/sqlite/sqlite_handles.h"
#include "client/providers/sqlite/sqlite_hashbytes.h"
#include "client/providers/sqlite/sqlite_values.h"
#include "client/providers/sqlite/tsql_rewrites.h"
#include "framework/rtl/platform.h"

namespace tersify::providers {
namespace {

// Registered objects get ids above those of tables (rows of sqlite_master).
constexpr int64_t kRegisteredIdBase = 1'000'000'000;

std::string Folded(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void Spid(sqlite3_context* context, int, sqlite3_value**) {
  sqlite3_result_int64(context, reinterpret_cast<intptr_t>(sqlite3_user_data(context)));
}

void TranCount(sqlite3_context* context, int, sqlite3_value**) {
  sqlite3_result_int(context, sqlite3_get_autocommit(sqlite3_context_db_handle(context)) ? 0 : 1);
}

void ParseNameFunction(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const Variant text = FunctionArgument(argv[0]);
  std::string part;
  if (ParseName(text.AsString(), sqlite3_value_int(argv[1]), part))
    sqlite3_result_text64(context, part.data(), part.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  else
    sqlite3_result_null(context);
}

void ObjectId(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const std::string name = UnqualifiedName(FunctionArgument(argv[0]).AsString());
  sqlite3* db = sqlite3_context_db_handle(context);
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(
      db,
      "select rowid from sqlite_master where type in ('table','view') and name = ?1 "
      "collate nocase",
      -1, &raw, nullptr);
  SqliteStatement stmt(raw);
  if (rc != SQLITE_OK) {
    sqlite3_result_error(context, sqlite3_errmsg(db), -1);
    return;
  }
  sqlite3_bind_text64(stmt.get(), 1, name.data(), name.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  rc = sqlite3_step(stmt.get());
  if (rc == SQLITE_ROW) {
    sqlite3_result_int64(context, sqlite3_column_int64(stmt.get(), 0));
    return;
  }
  if (rc != SQLITE_DONE) {
    sqlite3_result_error(context, sqlite3_errmsg(db), -1);
    return;
  }
  if (auto procedure = FindProcedure(name)) {
    sqlite3_result_int64(context, RegisteredObjectId(procedure->id));
  } else if (auto function = FindScalarFunction(name)) {
    sqlite3_result_int64(context, RegisteredObjectId(function->id));
  } else {
    sqlite3_result_null(context);
  }
}

void GetDate(sqlite3_context* context, int, sqlite3_value**) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const time_t seconds = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::tm local = LocalTimeOf(seconds);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ms));
  sqlite3_result_text(context, buf, -1, SQLITE_TRANSIENT);
}

// A registered function: the connection owns a reference to its entry, so a
// statement still running keeps the body alive after the entry is released.
void CallRegistered(sqlite3_context* context, int argc, sqlite3_value** argv) {
  auto* entry = static_cast<std::shared_ptr<const RegisteredFunction>*>(sqlite3_user_data(context));
  try {
    std::vector<Variant> args;
    args.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) args.push_back(FunctionArgument(argv[i]));
    SetFunctionResult(context, (*entry)->body(args));
  } catch (const std::exception& e) {
    sqlite3_result_error(context, e.what(), -1);
  }
}

using EntryHolder = std::shared_ptr<const RegisteredFunction>;

void ReleaseEntry(void* p) { std::unique_ptr<EntryHolder> owned(static_cast<EntryHolder*>(p)); }

void Check(sqlite3* db, int rc) {
  if (rc != SQLITE_OK) RaiseSqliteError(db, rc);
}

}  // namespace

bool ParseName(const std::string& text, int part, std::string& out) {
  if (part < 1 || part > 4) return false;
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string::npos ? dot : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (parts.size() > 4 || static_cast<size_t>(part) > parts.size()) return false;
  out = parts[parts.size() - static_cast<size_t>(part)];
  return !out.empty();
}

int64_t RegisteredObjectId(int64_t registration_id) { return kRegisteredIdBase + registration_id; }

void InstallBuiltinFunctions(sqlite3* db, int spid) {
  const int flags = SQLITE_UTF8;
  Check(db, sqlite3_create_function_v2(db, "tersify_spid", 0, flags | SQLITE_DETERMINISTIC,
                                       reinterpret_cast<void*>(static_cast<intptr_t>(spid)), Spid,
                                       nullptr, nullptr, nullptr));
  Check(db, sqlite3_create_function_v2(db, "tersify_trancount", 0, flags, nullptr, TranCount,
                                       nullptr, nullptr, nullptr));
  Check(db, sqlite3_create_function_v2(db, "parsename", 2, flags | SQLITE_DETERMINISTIC, nullptr,
                                       ParseNameFunction, nullptr, nullptr, nullptr));
  for (int argc : {1, 2}) {
    Check(db, sqlite3_create_function_v2(db, "object_id", argc, flags, nullptr, ObjectId, nullptr,
                                         nullptr, nullptr));
  }
  Check(db, sqlite3_create_function_v2(db, "getdate", 0, flags, nullptr, GetDate, nullptr,
                                       nullptr, nullptr));
  InstallHashBytes(db);
}

void RegisteredFunctions::Sync(sqlite3* db) {
  const uint64_t generation = ScalarFunctionGeneration();
  if (generation == generation_) return;
  std::map<std::string, std::shared_ptr<const RegisteredFunction>> wanted;
  for (auto& f : ScalarFunctions()) wanted[Folded(f->name)] = f;
  // SQLite refuses changes while a statement of the connection runs; what it
  // refused is tried again at the next call.
  bool complete = true;

  for (auto it = installed_.begin(); it != installed_.end();) {
    if (wanted.count(it->first) == 0 &&
        sqlite3_create_function_v2(db, it->second->name.c_str(), -1, SQLITE_UTF8, nullptr,
                                   nullptr, nullptr, nullptr, nullptr) == SQLITE_OK) {
      it = installed_.erase(it);
    } else {
      complete = complete && wanted.count(it->first) != 0;
      ++it;
    }
  }
  for (auto& [key, entry] : wanted) {
    auto found = installed_.find(key);
    if (found != installed_.end() && found->second == entry) continue;
    auto user_data = std::make_unique<EntryHolder>(entry);
    // From here SQLite owns the holder and calls ReleaseEntry, also when it refuses.
    if (sqlite3_create_function_v2(db, entry->name.c_str(), -1, SQLITE_UTF8, user_data.release(),
                                   CallRegistered, nullptr, nullptr, ReleaseEntry) == SQLITE_OK)
      installed_[key] = entry;
    else
      complete = false;
  }
  if (complete) generation_ = generation;
}

}  // namespace tersify::providers
