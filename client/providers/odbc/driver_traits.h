#pragma once
// What differs between ODBC drivers for SQL Server, probed once after
// connecting (SQLGetInfo driver and DBMS names) and kept in one place.

#include "client/providers/odbc/odbc_api.h"

#include <string>

#include "client/providers/odbc/connection_string.h"
#include "client/providers/odbc/odbc_handle.h"

namespace tersify::providers::odbc {

struct DriverTraits {
  std::string driver_name;   // SQL_DRIVER_NAME, e.g. "libtdsodbc.so"
  std::string driver_version;
  std::string dbms_name;     // SQL_DBMS_NAME, e.g. "Microsoft SQL Server"
  std::string dbms_version;  // SQL_DBMS_VER, e.g. "16.00.1000"
  DriverKind kind = DriverKind::Other;

  // FreeTDS cuts SQL_VARBINARY values to the column size (at most 8000) and
  // sends SQL_LONGVARBINARY as varbinary(max); Microsoft's driver wants
  // SQL_VARBINARY with column size 0 for an unlimited value.
  SQLSMALLINT long_binary_sql_type = SQL_LONGVARBINARY;
  bool long_binary_column_size_zero = false;
  // Switching autocommit back on sends a ROLLBACK (FreeTDS): end the
  // transaction first.
  bool autocommit_on_rolls_back = true;
  // The TCP connect is bounded by SQL_ATTR_CONNECTION_TIMEOUT (FreeTDS); in
  // Microsoft's driver that attribute bounds every request instead.
  bool connection_timeout_bounds_connect = true;
  // A long value handed over at execution (SQLPutData in pieces) goes to the
  // wire as it comes. FreeTDS 1.3 gathers the pieces into a copy of the whole
  // value first (measured with bench_large_value: no memory saved), so it gets
  // the value bound whole.
  bool streams_values_at_execution = false;

  // The traits a driver family is known for, before anything is probed.
  static DriverTraits ForKind(DriverKind kind);
};

// Probes an open connection: names and versions, and the family from the
// driver's own name when the connection string's driver name did not tell.
DriverTraits ProbeDriverTraits(const DbcHandle& dbc, DriverKind configured);

// A text answer of SQLGetInfo.
std::string GetInfoText(const DbcHandle& dbc, SQLUSMALLINT info, const char* call);

}  // namespace tersify::providers::odbc
