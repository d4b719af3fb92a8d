#include "tests/tool/pass_child_fixture.h"

#include <sqlite3.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <regex>
#include <stdexcept>
#include <thread>

#include "tests/support/tds_server/served_file.h"

namespace tersify::testing {

// ---- Values ---------------------------------------------------------------

std::string RowText(const std::string& tag, size_t n) {
  std::mt19937 random(static_cast<unsigned>(std::hash<std::string>()(tag)));
  std::string text;
  text.reserve(n + 128);
  char line[128];
  while (text.size() < n) {
    const int written =
        std::snprintf(line, sizeof line, "<TfrxMemoView Name=\"%s\" Left=\"%u\" Top=\"%u\"/>\r\n",
                      tag.c_str(), static_cast<unsigned>(random() % 800),
                      static_cast<unsigned>(random() % 1200));
    text.append(line, static_cast<size_t>(written));
  }
  text.resize(n);
  return text;
}

std::string ZlibEnvelope(const std::string& plain) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  std::string payload(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(payload.data()), &size,
                reinterpret_cast<const Bytef*>(plain.data()), static_cast<uLong>(plain.size()),
                6) != Z_OK)
    throw std::runtime_error("compress2 failed");
  payload.resize(size);
  std::string header = "PKZ#900Z";
  const uint32_t length = static_cast<uint32_t>(plain.size());
  for (int i = 0; i < 4; ++i) header += static_cast<char>((length >> (8 * i)) & 0xFF);
  header += std::string(4, '\0');
  return header + payload;
}

std::optional<std::string> OpenEnvelope(const std::string& stored) {
  if (stored.size() < 16 || stored.compare(0, 8, "PKZ#900Z") != 0) return std::nullopt;
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i)
    length |= static_cast<uint32_t>(static_cast<unsigned char>(stored[8 + i])) << (8 * i);
  std::string plain(length, '\0');
  uLongf plain_size = length;
  if (uncompress(reinterpret_cast<Bytef*>(plain.data()), &plain_size,
                 reinterpret_cast<const Bytef*>(stored.data() + 16),
                 static_cast<uLong>(stored.size() - 16)) != Z_OK ||
      plain_size != length)
    return std::nullopt;
  return plain;
}

bool Holds(const std::string& stored, const std::string& plain) {
  if (stored == plain) return true;
  const std::optional<std::string> opened = OpenEnvelope(stored);
  return opened && *opened == plain;
}

// ---- The table ------------------------------------------------------------

struct LiveTable::Handle {
  sqlite3* db = nullptr;
  ~Handle() { sqlite3_close(db); }

  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
  }

  using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;
  Statement Prepare(const std::string& sql) const {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) Fail("prepare " + sql);
    return Statement(raw, sqlite3_finalize);
  }
  void Exec(const std::string& sql) const {
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    if (rc != SQLITE_OK) throw std::runtime_error(message + " in: " + sql);
  }
  // One statement with text and blob parameters, in a write transaction of its own.
  void Write(const std::string& sql, const std::vector<std::string>& texts,
             const std::string* blob) const {
    Exec("begin immediate");
    try {
      Statement statement = Prepare(sql);
      int index = 1;
      if (blob)
        sqlite3_bind_blob64(statement.get(), index++, blob->data(), blob->size(), SQLITE_STATIC);
      for (const std::string& t : texts)
        sqlite3_bind_text(statement.get(), index++, t.c_str(), static_cast<int>(t.size()),
                          SQLITE_STATIC);
      if (sqlite3_step(statement.get()) != SQLITE_DONE) Fail(sql);
      statement.reset();
      Exec("commit");
    } catch (...) {
      sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
      throw;
    }
  }
};

LiveTable::LiveTable(const std::string& file) : db_(std::make_unique<Handle>()) {
  if (sqlite3_open_v2(file.c_str(), &db_->db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    db_->Fail("cannot open " + file);
  // The program holds the file for the length of one row's write at most.
  sqlite3_busy_timeout(db_->db, 60000);
  // The file may be served by the TDS test server, whose tables compare
  // their strings under its collations.
  tds::PrepareServedConnection(db_->db);
}

LiveTable::~LiveTable() = default;

void LiveTable::Exec(const std::string& sql) { db_->Exec(sql); }

bool LiveTable::TakeFileExclusively(std::chrono::milliseconds within) {
  sqlite3_busy_timeout(db_->db, 0);
  const auto give_up = std::chrono::steady_clock::now() + within;
  int rc = SQLITE_BUSY;
  while (true) {
    rc = sqlite3_exec(db_->db, "begin exclusive", nullptr, nullptr, nullptr);
    if (rc != SQLITE_BUSY || std::chrono::steady_clock::now() >= give_up) break;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  sqlite3_busy_timeout(db_->db, 60000);
  if (rc != SQLITE_OK && rc != SQLITE_BUSY) db_->Fail("begin exclusive");
  return rc == SQLITE_OK;
}

void LiveTable::Insert(const std::string& key, const std::string& value) {
  db_->Write(std::string("insert into ") + kLiveTable + " (acData, acKey) values (?, ?)", {key},
             &value);
}

void LiveTable::InsertNullKey(const std::string& value) {
  db_->Write(std::string("insert into ") + kLiveTable + " (acData, acKey) values (?, null)", {},
             &value);
}

void LiveTable::Put(const std::string& key, const std::string& value) {
  db_->Write(std::string("update ") + kLiveTable + " set acData = ? where acKey = ?", {key}, &value);
}

void LiveTable::Delete(const std::string& key) {
  db_->Write(std::string("delete from ") + kLiveTable + " where acKey = ?", {key}, nullptr);
}

std::optional<std::string> LiveTable::Stored(const std::string& key) {
  Handle::Statement statement =
      db_->Prepare(std::string("select acData from ") + kLiveTable + " where acKey = ?");
  sqlite3_bind_text(statement.get(), 1, key.c_str(), static_cast<int>(key.size()), SQLITE_STATIC);
  const int rc = sqlite3_step(statement.get());
  if (rc == SQLITE_DONE) return std::nullopt;
  if (rc != SQLITE_ROW) db_->Fail("read " + key);
  const void* bytes = sqlite3_column_blob(statement.get(), 0);
  const int size = sqlite3_column_bytes(statement.get(), 0);
  return bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)) : std::string();
}

std::vector<std::string> LiveTable::StoredWhere(const std::string& where_clause) {
  Handle::Statement statement = db_->Prepare(std::string("select acData from ") + kLiveTable +
                                             " where " + where_clause + " order by rowid");
  std::vector<std::string> values;
  int rc;
  while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
    const void* bytes = sqlite3_column_blob(statement.get(), 0);
    const int size = sqlite3_column_bytes(statement.get(), 0);
    values.push_back(bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size))
                           : std::string());
  }
  if (rc != SQLITE_DONE) db_->Fail("read where " + where_clause);
  return values;
}

int LiveTable::CountShorterThan(int64_t limit) {
  Handle::Statement statement = db_->Prepare(std::string("select count(*) from ") + kLiveTable +
                                             " where length(acData) < ?");
  sqlite3_bind_int64(statement.get(), 1, limit);
  if (sqlite3_step(statement.get()) != SQLITE_ROW) db_->Fail("count");
  return sqlite3_column_int(statement.get(), 0);
}

std::map<std::string, int64_t> LiveTable::Lengths() {
  Handle::Statement statement =
      db_->Prepare(std::string("select acKey, length(acData) from ") + kLiveTable);
  std::map<std::string, int64_t> lengths;
  int rc;
  while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
    const unsigned char* key = sqlite3_column_text(statement.get(), 0);
    lengths[key ? reinterpret_cast<const char*>(key) : ""] = sqlite3_column_int64(statement.get(), 1);
  }
  if (rc != SQLITE_DONE) db_->Fail("lengths");
  return lengths;
}

int LiveTable::CountRows() {
  Handle::Statement statement = db_->Prepare(std::string("select count(*) from ") + kLiveTable);
  if (sqlite3_step(statement.get()) != SQLITE_ROW) db_->Fail("count");
  return sqlite3_column_int(statement.get(), 0);
}

std::string LiveKey(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "K%03d", i);
  return name;
}

// ---- Summary lines --------------------------------------------------------

std::optional<PassCounts> ParseCounts(const std::string& text, const std::string& lead,
                                      const std::string& tail) {
  if (text.size() < lead.size() + tail.size() || text.compare(0, lead.size(), lead) != 0 ||
      text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
    return std::nullopt;
  static const std::regex counts("([0-9]+) records processed, ([0-9]+) records skipped");
  const std::string inner = text.substr(lead.size(), text.size() - lead.size() - tail.size());
  std::smatch match;
  if (!std::regex_match(inner, match, counts)) return std::nullopt;
  return PassCounts{std::stoi(match[1]), std::stoi(match[2])};
}

int ChangedByAnotherSession(const std::string& text) {
  static const std::regex line(
      "(^|\n)([0-9]+) (rows were|row was) changed by another session during the pass and left as "
      "(they are|it is); run the pass again to include (them|it)\r?\n");
  std::smatch match;
  return std::regex_search(text, match, line) ? std::stoi(match[2]) : 0;
}

// ---- The fixture ----------------------------------------------------------

void PreferMemoryBackedTemp() {
  if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", /*overwrite=*/0);
}

PassChildDatabase::PassChildDatabase(const std::string& provider)
    : database_(std::make_unique<TestDatabase>(provider)) {
  database_->ExecDirect(std::string("create table ") + kLiveTable +
                        " (acKey varchar(20) primary key, acData blob)");
  table_ = std::make_unique<LiveTable>(database_->FilePath());
}

PassChildDatabase::~PassChildDatabase() = default;

std::vector<std::string> PassChildDatabase::ConnectionArguments() const {
  const providers::ConnectionSettings& s = database_->Settings();
  if (database_->Provider() == "sqlite") return {"/IP=sqlite", "/DB=" + s.database};
  return {"/IP=" + s.server + "," + std::to_string(s.port), "/DB=" + s.database, "/U=" + s.username,
          "/P=" + s.password};
}

std::unique_ptr<ChildProcess> StartTersify(const std::vector<std::string>& args) {
  // Console runs never need a display: the child gets none to find.
  ChildEnvironment environment;
  environment.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  return std::make_unique<ChildProcess>(TERSIFY_EXE, args, environment);
}

std::unique_ptr<ChildProcess> StartPassOver(const std::vector<std::string>& connection,
                                            const std::string& command,
                                            const std::vector<std::string>& extra) {
  std::vector<std::string> args = {command, "/GUI=0"};
  for (const std::string& a : connection) args.push_back(a);
  args.push_back(std::string("/TABLE=") + kLiveTable);
  args.push_back("/FIELD=acData");
  args.push_back("/KEY=acKey");
  for (const std::string& a : extra) args.push_back(a);
  return StartTersify(args);
}

std::unique_ptr<ChildProcess> PassChildDatabase::StartPass(const std::string& command,
                                                           const std::vector<std::string>& extra) const {
  return StartPassOver(ConnectionArguments(), command, extra);
}

std::optional<PassCounts> CountsBeforeTheError(const std::string& text) {
  static const std::regex line(
      "(^|\n)([0-9]+) records? processed, ([0-9]+) records? skipped before the error\r?(\n|$)");
  std::smatch match;
  if (!std::regex_search(text, match, line)) return std::nullopt;
  return PassCounts{std::stoi(match[2]), std::stoi(match[3])};
}

bool WaitForRowsBelow(LiveTable& table, ChildProcess& pass, int rows, int64_t limit) {
  PollUntil([&] { return !pass.Running() || table.CountShorterThan(limit) >= rows; }, kChildLimit);
  return pass.Running() && table.CountShorterThan(limit) >= rows;
}

std::map<std::string, std::string> PassChildDatabase::Fill(int count, size_t size, bool as_envelopes) {
  std::map<std::string, std::string> values;
  for (int i = 0; i < count; ++i) {
    const std::string key = LiveKey(i);
    values[key] = RowText("original " + key, size + static_cast<size_t>(i));
    table_->Insert(key, as_envelopes ? ZlibEnvelope(values[key]) : values[key]);
  }
  return values;
}

}  // namespace tersify::testing
