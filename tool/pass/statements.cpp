#include "tool/pass/statements.h"

#include <cctype>

#include "tool/identifier_check.h"

namespace tersify {

TPassStatements::TPassStatements(const std::string& provider, int server_major,
                                 const std::string& table, const std::string& field,
                                 const std::string& key)
    : sqlite_(provider == "sqlite"),
      // Window aggregates with a ROWS frame came with SQL Server 2012 (major 11).
      page_keeps_to_budget_(!sqlite_ && server_major >= 11),
      table_(table),
      field_(field),
      key_(key) {
  if (sqlite_)
    guard_ = TWriteGuard::StoredValue;
  else
    guard_ = server_major >= 13 ? TWriteGuard::Digest : TWriteGuard::StoredBytes;
}

std::string TPassStatements::Page(bool first, int rows, int64_t budget_bytes) const {
  const std::string where = first ? " where " + key_ + " is not null" : " where " + key_ + " > ?";
  const std::string n = std::to_string(rows);
  // SQLite steps a row only when the reader asks for it: a page the reader
  // cuts short at the budget reads nothing past its cut, so the page needs no
  // bound of its own there.
  if (sqlite_)
    return "select " + key_ + ", " + field_ + ", typeof(" + field_ + ") from " + table_ + where +
           " order by " + key_ + " limit " + n;
  const std::string columns = key_ + ", " + field_;
  if (!page_keeps_to_budget_ || budget_bytes <= 0)
    return "select top (" + n + ") " + columns + " from " + table_ + where + " order by " + key_;
  // The server sends no row past the budget, rather than rows the reader
  // would throw away and ask for again. The TOP stays inside, so that the
  // scan stops after n rows. Outside, the columns go by their bare names,
  // which is all the derived table knows them by.
  const std::string outer_key = "[" + BareSqlName(key_) + "]";
  const std::string outer_columns = outer_key + ", [" + BareSqlName(field_) + "]";
  const std::string through = "tersify_bytes_through";
  return "select " + outer_columns + " from (select top (" + n + ") " + columns + ", sum(cast(datalength(" +
         field_ + ") as bigint)) over (order by " + key_ + " rows unbounded preceding) as " + through +
         " from " + table_ + where + " order by " + key_ + ") as tersify_page where " + through +
         " - coalesce(datalength([" + BareSqlName(field_) + "]), 0) < " +
         std::to_string(budget_bytes) + " order by " + outer_key;
}

std::string TPassStatements::KeyPage(bool first, int rows) const {
  const std::string where = first ? " where " + key_ + " is not null" : " where " + key_ + " > ?";
  const std::string n = std::to_string(rows);
  if (sqlite_) return "select " + key_ + " from " + table_ + where + " order by " + key_ + " limit " + n;
  return "select top (" + n + ") " + key_ + " from " + table_ + where + " order by " + key_;
}

std::string TPassStatements::RowOfKey() const {
  const std::string storage_class = sqlite_ ? ", typeof(" + field_ + ")" : "";
  return "select " + key_ + ", " + field_ + storage_class + " from " + table_ + " where " + key_ + " = ?";
}

TWriteGuard GuardForValue(TWriteGuard connection_guard, int64_t stored_bytes) {
  if (connection_guard == TWriteGuard::StoredValue && stored_bytes >= kDigestGuardBytes)
    return TWriteGuard::StoredDigest;
  return connection_guard;
}

std::string TPassStatements::Update(TWriteGuard kind, bool of_text) const {
  std::string guard;
  switch (kind) {
    // Byte for byte, whatever collation the column declares (NOCASE, RTRIM):
    // a change of case or of trailing blanks is a change.
    case TWriteGuard::StoredValue: guard = field_ + " = ? collate binary"; break;
    case TWriteGuard::StoredDigest:
      guard = std::string("typeof(") + field_ + ") = '" + (of_text ? "text" : "blob") +
              "' and hashbytes('SHA2_256', " + field_ + ") = ?";
      break;
    case TWriteGuard::Digest:
      guard = "HASHBYTES('SHA2_256', CAST(" + field_ + " AS varbinary(max))) = ?";
      break;
    // Servers before 2016 ignore trailing 0x00 bytes when they compare
    // varbinary values: the length makes bytes appended by another session a change.
    case TWriteGuard::StoredBytes:
      guard = "CAST(" + field_ + " AS varbinary(max)) = ? and DATALENGTH(" + field_ + ") = ?";
      break;
  }
  return "update " + table_ + " set " + field_ + " = ? where " + key_ + " = ? and " + guard +
         " and (select count(*) from " + table_ + " where " + key_ + " = ?) = 1";
}

void AppendGuardParams(TGuardValue guard, std::vector<Variant>& params) {
  const bool with_length = guard.kind == TWriteGuard::StoredBytes;
  const int64_t length = with_length ? static_cast<int64_t>(guard.value.RawString().size()) : 0;
  params.push_back(std::move(guard.value));
  if (with_length) params.emplace_back(length);
}

// SQL Server's count(*) is an int, which overflows past 2^31 - 1 rows.
std::string TPassStatements::Count(const std::string& what) const {
  return (sqlite_ ? "count(" : "COUNT_BIG(") + what + ")";
}

std::string TPassStatements::CountKey() const {
  return "select " + Count("*") + " from " + table_ + " where " + key_ + " = ?";
}

std::string TPassStatements::CountRows() const {
  return "select " + Count("*") + ", " + Count(key_) + " from " + table_;
}

std::string TPassStatements::CountDistinctKeys() const {
  return "select " + Count("*") + ", " + Count(key_) + ", " + Count("distinct " + key_) + " from " + table_;
}

int MajorVersion(const std::string& version) {
  int major = 0;
  for (char c : version) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    major = major * 10 + (c - '0');
    if (major > 100000) break;
  }
  return major;
}

}  // namespace tersify
