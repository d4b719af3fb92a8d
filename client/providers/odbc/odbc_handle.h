#pragma once
// Typed ODBC handles and the one checking wrapper every ODBC call goes through.
// A handle knows its own type, so a diagnostic is always read from the right
// kind of handle; the deleter never throws.

#include "client/providers/odbc/odbc_api.h"

#include <string>
#include <vector>

namespace tersify::providers::odbc {

// One diagnostic record of a handle.
struct OdbcDiagnostic {
  std::string sql_state;
  int native_error = 0;
  std::string message;
};

// All diagnostic records of a handle (at most a bounded number of them).
std::vector<OdbcDiagnostic> ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle);

// Raises EMSError unless rc succeeded: the message is the driver's own text (all
// records, one a line), SQLSTATE and native error come from the first record.
// Returns rc (SQL_SUCCESS, SQL_SUCCESS_WITH_INFO or SQL_NO_DATA) otherwise.
SQLRETURN CheckOdbc(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle, const char* call);

// Whether TERSIFY_ODBC_TRACE=1 asks for calls to be traced to stderr.
bool OdbcTraceEnabled();
void TraceOdbc(const char* call, SQLRETURN rc);

// The name of a return code ("SQL_SUCCESS_WITH_INFO").
const char* ReturnCodeName(SQLRETURN rc);

template <SQLSMALLINT Type>
struct OdbcParent;
template <>
struct OdbcParent<SQL_HANDLE_DBC> {
  static constexpr SQLSMALLINT type = SQL_HANDLE_ENV;
};
template <>
struct OdbcParent<SQL_HANDLE_STMT> {
  static constexpr SQLSMALLINT type = SQL_HANDLE_DBC;
};

template <SQLSMALLINT Type>
class OdbcHandle {
 public:
  OdbcHandle() = default;
  ~OdbcHandle() { Free(); }
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;
  OdbcHandle(OdbcHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = SQL_NULL_HANDLE; }
  OdbcHandle& operator=(OdbcHandle&& other) noexcept {
    if (this != &other) {
      Free();
      handle_ = other.handle_;
      other.handle_ = SQL_NULL_HANDLE;
    }
    return *this;
  }

  // The environment handle (ODBC 3 behaviour).
  static OdbcHandle AllocateEnvironment()
    requires(Type == SQL_HANDLE_ENV)
  {
    OdbcHandle h;
    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h.handle_);
    TraceOdbc("SQLAllocHandle(ENV)", rc);
    if (!SQL_SUCCEEDED(rc)) {
      h.handle_ = SQL_NULL_HANDLE;
      CheckOdbc(rc, SQL_HANDLE_ENV, SQL_NULL_HANDLE, "SQLAllocHandle(ENV)");
    }
    h.Check(SQLSetEnvAttr(h.handle_, SQL_ATTR_ODBC_VERSION,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(SQL_OV_ODBC3)), 0),
            "SQLSetEnvAttr(SQL_ATTR_ODBC_VERSION)");
    return h;
  }

  // A connection or statement handle under its parent.
  template <SQLSMALLINT ParentType>
  static OdbcHandle Allocate(const OdbcHandle<ParentType>& parent)
    requires(Type != SQL_HANDLE_ENV && ParentType == OdbcParent<Type>::type)
  {
    OdbcHandle h;
    SQLRETURN rc = SQLAllocHandle(Type, parent.get(), &h.handle_);
    TraceOdbc("SQLAllocHandle", rc);
    if (!SQL_SUCCEEDED(rc)) {
      h.handle_ = SQL_NULL_HANDLE;
      CheckOdbc(rc, ParentType, parent.get(), "SQLAllocHandle");
    }
    return h;
  }

  SQLHANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }

  // Checks the result of a call made on this handle.
  SQLRETURN Check(SQLRETURN rc, const char* call) const {
    return CheckOdbc(rc, Type, handle_, call);
  }

  // Gives up the handle without freeing it (the driver manager already did).
  void Abandon() { handle_ = SQL_NULL_HANDLE; }

  void Free() noexcept {
    if (handle_ != SQL_NULL_HANDLE) {
      SQLRETURN rc = SQLFreeHandle(Type, handle_);
      TraceOdbc("SQLFreeHandle", rc);
      handle_ = SQL_NULL_HANDLE;
    }
  }

 private:
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

using EnvHandle = OdbcHandle<SQL_HANDLE_ENV>;
using DbcHandle = OdbcHandle<SQL_HANDLE_DBC>;
using StmtHandle = OdbcHandle<SQL_HANDLE_STMT>;

}  // namespace tersify::providers::odbc
