#pragma once
// SQL functions every sqlite connection carries, standing in for SQL Server's:
//
//   tersify_spid()        the connection's id (what "select @@SPID" answers)
//   tersify_trancount()   1 inside a transaction, else 0 ("select @@TRANCOUNT")
//   parsename(text, n)    SQL Server's PARSENAME: the n-th dot-separated part from
//                         the right (1..4), NULL when there is no such part
//   object_id(name[, type])  an id for an existing table or view ([dbo.] and
//                         [brackets] allowed) or a registered procedure or scalar
//                         function, NULL otherwise
//   getdate()             the local date and time, "YYYY-MM-DD HH:MM:SS.mmm"
//   hashbytes(alg, value) SQL Server's HASHBYTES (sqlite_hashbytes.h)
//
// plus the registered scalar functions (sqlite_registry.h), kept up to date by
// RegisteredFunctions::Sync.

#include <sqlite3.h>

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "client/providers/sqlite/sqlite_registry.h"

namespace tersify::providers {

// Raises EMSError when SQLite refuses a function.
void InstallBuiltinFunctions(sqlite3* db, int spid);

// The registered scalar functions installed on one connection.
class RegisteredFunctions {
 public:
  // Installs what was registered since the last call and removes what was
  // released; cheap when nothing changed.
  void Sync(sqlite3* db);
  void Clear() {
    installed_.clear();
    generation_ = kNever;
  }

 private:
  static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
  uint64_t generation_ = kNever;
  std::map<std::string, std::shared_ptr<const RegisteredFunction>> installed_;  // by folded name
};

// SQL Server's PARSENAME over a dot-separated text; false when there is no such part.
bool ParseName(const std::string& text, int part, std::string& out);

// The id Object_ID gives a registered procedure or function.
int64_t RegisteredObjectId(int64_t registration_id);

}  // namespace tersify::providers
