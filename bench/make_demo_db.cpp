// Creates the demo database: the application's catalogue tables describing a
// few tables (some with blob columns, one without) and tqz_reports holding a
// few hundred report definitions of varied size: a few of 100 bytes or less, a
// few already stored as envelopes, a few that do not compress.
//
//   tersify-demo-db FILE [ROWS]     FILE must not exist yet

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/report_data.h"
#include "blob/cblob_stream.h"

namespace {

using tersify::bench::ReportGenerator;

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error(message);
  }
}

Stmt Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
    throw std::runtime_error(sqlite3_errmsg(db));
  return Stmt(stmt);
}

void Step(sqlite3* db, sqlite3_stmt* stmt) {
  if (sqlite3_step(stmt) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
}

// The value as the data layer stores it with compression on.
std::string AsEnvelope(const std::string& plain) {
  auto target = std::make_unique<tersify::TMemoryStream>();
  tersify::TMemoryStream* stored = target.get();
  std::string result;
  {
    tersify::TCBlobStream envelope(*stored, true);
    envelope.SetCompressed(true);
    envelope.WriteString(plain);
    envelope.Close();
  }
  return stored->Bytes();
}

const char kSchema[] = R"sql(
create table tqz_systables(
  acTableName varchar(60) not null primary key,
  acTabletype char(1) not null,
  acDescription varchar(200));
create table tqz_systablestr(
  acTablename varchar(60) not null,
  acFieldName varchar(60) not null,
  acOraDatatype varchar(30) not null,
  anSeqNo int not null,
  primary key(acTablename, acFieldName));
create table tqz_reports(
  acReport varchar(60) not null primary key,
  acTitle varchar(200),
  acReportData blob,
  adTimeChg datetime);
create table tqz_documents(
  anDocID int not null primary key,
  acName varchar(100),
  acContent blob);
create table tqz_pictures(
  anPictureID int not null primary key,
  acCaption varchar(100),
  acPicture blob);
create table tqz_users(
  anUserID int not null primary key,
  acName varchar(60));

insert into tqz_systables values
  ('tqz_reports', 'N', 'Report definitions'),
  ('tqz_documents', 'N', 'Attached documents'),
  ('tqz_pictures', 'N', 'Pictures'),
  ('tqz_users', 'N', 'Users of the application');
insert into tqz_systablestr values
  ('tqz_reports', 'acReport', 'varchar2', 1),
  ('tqz_reports', 'acTitle', 'varchar2', 2),
  ('tqz_reports', 'acReportData', 'blob', 3),
  ('tqz_reports', 'adTimeChg', 'date', 4),
  ('tqz_documents', 'anDocID', 'number', 1),
  ('tqz_documents', 'acName', 'varchar2', 2),
  ('tqz_documents', 'acContent', 'blob', 3),
  ('tqz_pictures', 'anPictureID', 'number', 1),
  ('tqz_pictures', 'acCaption', 'varchar2', 2),
  ('tqz_pictures', 'acPicture', 'blob', 3),
  ('tqz_users', 'anUserID', 'number', 1),
  ('tqz_users', 'acName', 'varchar2', 2);
insert into tqz_users values (1, 'Administrator'), (17, 'Accounting'), (23, 'Warehouse');
)sql";

void Fill(sqlite3* db, int rows) {
  ReportGenerator data(20261209);
  Exec(db, "begin");
  Exec(db, kSchema);

  Stmt report = Prepare(db, "insert into tqz_reports values (?, ?, ?, datetime('now'))");
  for (int i = 1; i <= rows; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "RPT%04d", i);
    std::string value;
    if (i % 60 == 7) {
      value = std::string("<TfrxReport/>").substr(0, data.Between(5, 13)) +
              std::string(data.Between(0, 80), ' ');  // 100 bytes or less
    } else if (i % 50 == 11) {
      value = data.Incompressible(data.Between(2000, 40000));
    } else {
      value = data.Report(name, data.Between(600, 120000));
      if (i % 25 == 3) value = AsEnvelope(value);  // already stored compressed
    }
    std::string title = std::string("Report ") + name;
    sqlite3_bind_text(report.get(), 1, name, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(report.get(), 2, title.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob64(report.get(), 3, value.data(), value.size(), SQLITE_TRANSIENT);
    Step(db, report.get());
  }

  Stmt document = Prepare(db, "insert into tqz_documents values (?, ?, ?)");
  for (int i = 1; i <= 20; ++i) {
    std::string value = data.Report("Document" + std::to_string(i), data.Between(300, 20000));
    sqlite3_bind_int(document.get(), 1, i);
    sqlite3_bind_text(document.get(), 2, ("Document " + std::to_string(i)).c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob64(document.get(), 3, value.data(), value.size(), SQLITE_TRANSIENT);
    Step(db, document.get());
  }
  Stmt picture = Prepare(db, "insert into tqz_pictures values (?, ?, ?)");
  for (int i = 1; i <= 10; ++i) {
    std::string value = data.Incompressible(data.Between(1000, 30000));
    sqlite3_bind_int(picture.get(), 1, i);
    sqlite3_bind_text(picture.get(), 2, ("Picture " + std::to_string(i)).c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob64(picture.get(), 3, value.data(), value.size(), SQLITE_TRANSIENT);
    Step(db, picture.get());
  }
  Exec(db, "commit");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FILE [ROWS]\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  const int rows = argc == 3 ? std::atoi(argv[2]) : 300;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    std::fprintf(stderr, "%s exists already; not touched\n", path.c_str());
    return 1;
  }
  if (rows < 1) {
    std::fprintf(stderr, "ROWS must be a positive number\n");
    return 2;
  }
  const std::string partial = path + ".partial";
  std::remove(partial.c_str());
  try {
    {
      sqlite3* raw = nullptr;
      int rc = sqlite3_open_v2(partial.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
      Db db(raw);
      if (rc != SQLITE_OK) throw std::runtime_error(raw ? sqlite3_errmsg(raw) : "cannot open");
      Fill(db.get(), rows);
    }
    // Only a complete database takes the final name.
    if (std::rename(partial.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot rename");
  } catch (const std::exception& e) {
    std::remove(partial.c_str());
    std::fprintf(stderr, "cannot create %s: %s\n", path.c_str(), e.what());
    return 1;
  }
  std::printf("created %s with %d report definitions\n", path.c_str(), rows);
  return 0;
}
