#pragma once
// The statements of the pass engine, in the dialect of the provider they run on.
//
//   page     select K, F from T where K > ? order by K, so many rows a page
//            (SQL Server: select top (n); SQLite: limit n). The first page
//            takes every key that is not NULL. On SQL Server 2012 and later
//            the page may also end where its values reach the byte budget
//            (the reader asks for it where a page may reach the budget):
//              select K, F from (select top (n) K, F, sum(cast(datalength(F)
//              as bigint)) over (order by K rows unbounded preceding) as B
//              from T where K > ? order by K) as P
//              where B - coalesce(datalength(F), 0) < <budget> order by K
//            B, the bytes of the page through its row, only grows, so the
//            filter keeps a prefix of the page: the rows before the one that
//            reaches the budget, and that one. Its first row always passes.
//   update   update T set F = ? where K = ? and <guard> and
//            (select count(*) from T where K = ?) = 1
//            The count keeps one statement from ever writing two rows; being
//            part of the statement it needs no extra round trip and no lock.
//   count    select count(*) from T where K = ? (COUNT_BIG on SQL Server, as
//            every count of rows of the pass), asked only when an update
//            wrote nothing, to tell a changed row from a deleted one.
//   keys     select K from T where K > ? order by K, as a page without values,
//   row      select K, F from T where K = ?: for a pass that reads a sample.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/rtl/variant.h"

namespace tersify {

// How an update is held to the value that was read, in the same statement.
enum class TWriteGuard {
  // SQLite: F = ? with the bytes read, bound in the storage class they were
  // read in (text compares unequal to a blob of the same bytes). SQLite
  // compares values of any length, and the comparison costs no more than
  // reading the row.
  StoredValue,
  // SQLite, values of kDigestGuardBytes or more:
  // typeof(F) = 'blob' (or 'text') and hashbytes('SHA2_256', F) = ? with the
  // SHA-256 of the bytes read. SQLite still reads the stored value to hash
  // it, but the pass lets go of its own copy as soon as the new form exists:
  // one whole copy of a large value less while it is written.
  StoredDigest,
  // SQL Server 2016 (major version 13) and later:
  // HASHBYTES('SHA2_256', CAST(F AS varbinary(max))) = ? with the SHA-256 of
  // the bytes read. The statement then carries 32 bytes instead of the old
  // value, and the pass can let go of the value read as soon as its new form
  // exists.
  Digest,
  // Older SQL Server: HASHBYTES takes at most 8000 bytes there, so the
  // statement carries the value read: CAST(F AS varbinary(max)) = ?.
  StoredBytes,
};

// Values read of this many bytes or more are held by their digest on SQLite.
constexpr int64_t kDigestGuardBytes = int64_t{1} << 20;

// How the update of one row is held to the value read: the guard the
// connection uses, except that on SQLite a large value is held by its digest.
TWriteGuard GuardForValue(TWriteGuard connection_guard, int64_t stored_bytes);

// What one row's update is held to.
struct TGuardValue {
  TWriteGuard kind = TWriteGuard::StoredValue;
  bool of_text = false;  // SQLite: the value was read as TEXT
  Variant value;         // what the guard's parameter is bound to
};

// Appends the parameters that stand for the guard in an update: the guard's
// value, and for StoredBytes its length in bytes as well.
void AppendGuardParams(TGuardValue guard, std::vector<Variant>& params);

// The parameters a row's update takes with this guard: the new value, the key
// twice, and the guard's own (AppendGuardParams).
constexpr size_t UpdateParamsOf(TWriteGuard guard) { return guard == TWriteGuard::StoredBytes ? 5 : 4; }

// At most this many parameters a row's update takes.
constexpr size_t kMostUpdateParams = UpdateParamsOf(TWriteGuard::StoredBytes);

class TPassStatements {
 public:
  // provider: "sqlite" or "odbc"; server_major: the server's major version
  // (odbc only). Names are safe SQL names as the user gave them.
  TPassStatements(const std::string& provider, int server_major, const std::string& table,
                  const std::string& field, const std::string& key);

  TWriteGuard Guard() const { return guard_; }
  // SQLite's page has a third column, the storage class of F (typeof).
  bool ReadsStorageClass() const { return sqlite_; }

  // The first page has no parameter; the others take the last key read.
  // budget_bytes: where the server ends the page once its values reach it
  // (SQL Server 2012 and later; the others send every row asked for); 0 asks
  // for every row, without the running sum.
  std::string Page(bool first, int rows, int64_t budget_bytes) const;
  // The keys only, paged like Page.
  std::string KeyPage(bool first, int rows) const;
  // The row of one key, in the columns of Page. Parameter: key.
  std::string RowOfKey() const;
  // Parameters: new value, key, guard value (and length: AppendGuardParams), key. The guard is the
  // connection's, or the one a row's value asks for (of_text: the value was
  // read as TEXT, which a digest guard checks as well).
  std::string Update() const { return Update(guard_, false); }
  std::string Update(TWriteGuard guard, bool of_text) const;
  // Parameter: key.
  std::string CountKey() const;
  // Rows, and rows whose key is not NULL: select count(*), count(K) from T.
  std::string CountRows() const;
  // Rows, keys not NULL, distinct keys: for a key that is not the primary key.
  std::string CountDistinctKeys() const;

 private:
  // count(what) as a 64-bit number: COUNT_BIG on SQL Server.
  std::string Count(const std::string& what) const;

  bool sqlite_;
  bool page_keeps_to_budget_;
  TWriteGuard guard_;
  std::string table_, field_, key_;
};

// The leading number of a version text ("13.00.5000" -> 13); 0 when none.
int MajorVersion(const std::string& version);

}  // namespace tersify
