#include "client/providers/odbc/driver_traits.h"

#include <algorithm>
#include <vector>

namespace tersify::providers::odbc {

DriverTraits DriverTraits::ForKind(DriverKind kind) {
  DriverTraits t;
  t.kind = kind;
  if (kind == DriverKind::FreeTDS) {
    t.long_binary_sql_type = SQL_LONGVARBINARY;
    t.long_binary_column_size_zero = false;
    t.autocommit_on_rolls_back = true;
    t.connection_timeout_bounds_connect = true;
    t.streams_values_at_execution = false;
  } else {
    t.long_binary_sql_type = SQL_VARBINARY;
    t.long_binary_column_size_zero = true;
    t.autocommit_on_rolls_back = false;
    t.connection_timeout_bounds_connect = false;
    t.streams_values_at_execution = true;
  }
  return t;
}

std::string GetInfoText(const DbcHandle& dbc, SQLUSMALLINT info, const char* call) {
  std::vector<char> buffer(256);
  SQLSMALLINT length = 0;
  dbc.Check(SQLGetInfo(dbc.get(), info, buffer.data(), static_cast<SQLSMALLINT>(buffer.size()),
                       &length),
            call);
  if (length >= static_cast<SQLSMALLINT>(buffer.size())) {
    buffer.resize(static_cast<size_t>(length) + 1);
    dbc.Check(SQLGetInfo(dbc.get(), info, buffer.data(), static_cast<SQLSMALLINT>(buffer.size()),
                         &length),
              call);
  }
  return std::string(buffer.data(), std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)),
                                                     buffer.size() - 1));
}

DriverTraits ProbeDriverTraits(const DbcHandle& dbc, DriverKind configured) {
  const std::string driver_name = GetInfoText(dbc, SQL_DRIVER_NAME, "SQLGetInfo(SQL_DRIVER_NAME)");
  DriverKind kind = configured;
  if (kind == DriverKind::Other) kind = DriverKindOf(driver_name);
  DriverTraits t = DriverTraits::ForKind(kind);
  t.driver_name = driver_name;
  t.driver_version = GetInfoText(dbc, SQL_DRIVER_VER, "SQLGetInfo(SQL_DRIVER_VER)");
  t.dbms_name = GetInfoText(dbc, SQL_DBMS_NAME, "SQLGetInfo(SQL_DBMS_NAME)");
  t.dbms_version = GetInfoText(dbc, SQL_DBMS_VER, "SQLGetInfo(SQL_DBMS_VER)");
  return t;
}

}  // namespace tersify::providers::odbc
