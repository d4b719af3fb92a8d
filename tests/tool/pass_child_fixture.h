#pragma once
// Running the real tersify program over a table that the test reads and
// writes behind its back, straight on the SQLite file: the fixture of the
// live-database suites (a second writer, failures, cancel, kill -9).

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/provider_matrix.h"

namespace tersify::testing {

// ---- Values ---------------------------------------------------------------

// Compressible text of exactly n bytes, different for every tag.
std::string RowText(const std::string& tag, size_t n);

// An envelope made with zlib itself: "PKZ#900Z", the plain length, four zero
// bytes, the zlib stream.
std::string ZlibEnvelope(const std::string& plain);

// The plain bytes of a stored envelope, decoded with zlib; nothing when the
// value is no envelope or does not decode to its stated length.
std::optional<std::string> OpenEnvelope(const std::string& stored);

// Whether a stored value is plain as given, or an envelope that decodes to it.
bool Holds(const std::string& stored, const std::string& plain);

// ---- The table, read and written past the program ---------------------------

// One table "tqz_live (acKey varchar(20) primary key, acData blob)" in a
// SQLite file, through a connection of the test's own.
class LiveTable {
 public:
  explicit LiveTable(const std::string& file);
  ~LiveTable();
  LiveTable(const LiveTable&) = delete;
  LiveTable& operator=(const LiveTable&) = delete;

  void Exec(const std::string& sql);
  // Opens a transaction that holds the file for this connection alone
  // ("begin exclusive"), taken at the first moment another process lets go of
  // it: tried without waiting, again and again, so that a process that takes
  // the file row after row cannot win every race for it. False when that did
  // not happen within the time given.
  bool TakeFileExclusively(std::chrono::milliseconds within);
  // Each write is a transaction of its own, committed on return.
  void Insert(const std::string& key, const std::string& value);
  // A row whose key is NULL (SQLite allows that in a primary key that is no
  // INTEGER one).
  void InsertNullKey(const std::string& value);
  void Put(const std::string& key, const std::string& value);
  void Delete(const std::string& key);
  // The stored bytes, nothing when the row is gone.
  std::optional<std::string> Stored(const std::string& key);
  // The stored bytes of every row whose value selects with where_clause
  // (for "acKey is null" and the like), in rowid order.
  std::vector<std::string> StoredWhere(const std::string& where_clause);
  // The stored length of every row's value by key (read without the values).
  std::map<std::string, int64_t> Lengths();
  // Rows whose value is shorter than limit bytes (the stored length is read
  // without the value itself, so polling stays cheap).
  int CountShorterThan(int64_t limit);
  int CountRows();

 private:
  struct Handle;
  std::unique_ptr<Handle> db_;
};

inline const char kLiveTable[] = "tqz_live";

// "K000", "K001", ...
std::string LiveKey(int i);

// ---- Summary lines --------------------------------------------------------

struct PassCounts {
  int processed = -1;
  int skipped = -1;
};

// The two numbers of "<lead>N records processed, M records skipped<tail>"
// when text is exactly that; nothing otherwise.
std::optional<PassCounts> ParseCounts(const std::string& text, const std::string& lead,
                                      const std::string& tail);

// The number N of a line "N rows were changed by another session ..." in
// text, 0 when there is none.
int ChangedByAnotherSession(const std::string& text);

// ---- The fixture ----------------------------------------------------------

// A fresh test database of one provider holding the live table, and the
// program run over it as a child.
class PassChildDatabase {
 public:
  explicit PassChildDatabase(const std::string& provider);
  ~PassChildDatabase();

  // The connection arguments for this database.
  std::vector<std::string> ConnectionArguments() const;
  // Starts "tersify <command> /GUI=0 <connection> /TABLE=tqz_live /FIELD=acData
  // /KEY=acKey <extra>".
  std::unique_ptr<ChildProcess> StartPass(const std::string& command,
                                          const std::vector<std::string>& extra = {}) const;

  // Fills the table with rows LiveKey(0..count-1) of size (+ the row's number)
  // bytes each, stored plainly or as envelopes. Returns the plain values by key.
  std::map<std::string, std::string> Fill(int count, size_t size, bool as_envelopes = false);

  const std::string& File() const { return database_->FilePath(); }
  LiveTable& Table() { return *table_; }
  // Closes the test's own connection to the file (before it goes away).
  void CloseTable() { table_.reset(); }

 private:
  std::unique_ptr<TestDatabase> database_;
  std::unique_ptr<LiveTable> table_;
};

// Starts the program with exactly these arguments.
std::unique_ptr<ChildProcess> StartTersify(const std::vector<std::string>& args);

// Starts "tersify <command> /GUI=0 <connection> /TABLE=tqz_live /FIELD=acData
// /KEY=acKey <extra>".
std::unique_ptr<ChildProcess> StartPassOver(const std::vector<std::string>& connection,
                                            const std::string& command,
                                            const std::vector<std::string>& extra = {});

// The counts of the line "N records processed, M records skipped before the
// error" in text, nothing when there is no such line.
std::optional<PassCounts> CountsBeforeTheError(const std::string& text);

// Waits (bounded) until at least rows rows are stored shorter than limit, or
// the pass has ended; true when the rows are there and the pass still runs.
bool WaitForRowsBelow(LiveTable& table, ChildProcess& pass, int rows, int64_t limit);

// Scratch databases in memory-backed /dev/shm unless TMPDIR says otherwise:
// per-row commits do not wait on a busy disk.
void PreferMemoryBackedTemp();

// How long a child may take before a test gives up on it.
inline constexpr std::chrono::seconds kChildLimit{60};

}  // namespace tersify::testing
