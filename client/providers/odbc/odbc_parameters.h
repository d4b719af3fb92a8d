#pragma once
// Buffers for the parameters of one statement, bound with SQLBindParameter.
// They stay where they are from binding until the statement's results are
// consumed, which is as long as a driver may read or write them.

#include "client/providers/odbc/odbc_api.h"

#include <cstdint>
#include <string>
#include <vector>

#include "client/providers/odbc/driver_traits.h"
#include "client/providers/odbc/odbc_handle.h"
#include "client/providers/provider.h"
#include "framework/rtl/variant.h"

namespace tersify::providers::odbc {

// A procedure parameter as the catalogue describes it.
struct ProcParamDetail {
  ProcParamInfo info;
  SQLSMALLINT sql_type = SQL_VARCHAR;
  SQLULEN column_size = 0;
  SQLSMALLINT decimal_digits = 0;
};

class ParameterBuffers {
 public:
  // How a null input is declared. Its own type is unknown; text converts to
  // every SQL Server type but binary, binary converts to binary columns.
  enum class NullAs { Text, Binary };

  ParameterBuffers(const DriverTraits& traits, NullAs null_as) : traits_(traits), null_as_(null_as) {}
  ParameterBuffers(const ParameterBuffers&) = delete;
  ParameterBuffers& operator=(const ParameterBuffers&) = delete;

  // An input parameter. Text and bytes are not copied: value must stay
  // unchanged until the statement has run.
  void AddInput(const Variant& value);
  // An output (or input-output) parameter of the catalogue's type; initial is
  // its input value.
  void AddOutput(const ProcParamDetail& detail, const Variant& initial);

  // Binds every parameter in order; nothing may be added afterwards.
  void Bind(const StmtHandle& stmt);
  // After SQLExecDirect/SQLExecute answered SQL_NEED_DATA: hands the driver
  // the values bound for data-at-execution, piece by piece, and returns the
  // statement's own result (as SQLParamData gives it, checked).
  SQLRETURN SendValuesAtExecution(const StmtHandle& stmt);

  // Byte values at least this long go at execution, in pieces, where the
  // driver streams them instead of copying each into a buffer of its own
  // (DriverTraits::streams_values_at_execution).
  static constexpr size_t kAtExecutionBytes = 256 * 1024;
  static constexpr size_t kPieceBytes = 1 << 20;

  bool HasNull() const;
  bool IsOutput(size_t index) const;
  // The value an output parameter received. Raises EMSError when the driver
  // had more than the buffer held.
  Variant OutputValue(size_t index) const;
  size_t Count() const { return slots_.size(); }

 private:
  struct Slot {
    std::string name;  // for messages about output parameters
    SQLSMALLINT io_type = SQL_PARAM_INPUT;
    SQLSMALLINT c_type = SQL_C_CHAR;
    SQLSMALLINT sql_type = SQL_VARCHAR;
    SQLULEN column_size = 0;
    SQLSMALLINT decimal_digits = 0;
    const char* data = nullptr;  // text or bytes, borrowed or in storage
    SQLLEN buffer_length = 0;
    SQLLEN indicator = 0;
    std::string storage;  // owned text/bytes (output buffers)
    int64_t integer = 0;
    double number = 0;
    unsigned char bit = 0;
    SQL_TIMESTAMP_STRUCT timestamp{};
    bool is_null = false;
    bool at_execution = false;  // data points at the value, handed over by SendValuesAtExecution
  };
  void SetScalar(Slot& slot, const Variant& value);

  DriverTraits traits_;
  NullAs null_as_;
  std::vector<Slot> slots_;
  bool bound_ = false;
};

// The SQL_TIMESTAMP_STRUCT of a date-time and back.
SQL_TIMESTAMP_STRUCT ToTimestamp(TDateTime value);
TDateTime FromTimestamp(const SQL_TIMESTAMP_STRUCT& ts);

}  // namespace tersify::providers::odbc
