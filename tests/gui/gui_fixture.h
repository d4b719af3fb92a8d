#pragma once
// Fixtures of the window's suite: one QApplication on the offscreen platform
// (no display needed), the database layer started for each test, a SQLite
// database holding the application's catalogue tables and a blob table, and a
// user interface that records the message boxes it is asked to show.

#include <QApplication>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "blob/cblob_stream.h"
#include "db/database.h"
#include "db/layer_unit.h"
#include "db/registries.h"
#include "framework/rtl/stream.h"
#include "tests/support/provider_matrix.h"
#include "tool/user_interface.h"

namespace tersify::testing {

// The process's QApplication, made on first use on the offscreen platform.
inline QApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "tersify_gui_tests";
  static char* argv[] = {name, nullptr};
  // Never destroyed: at static destruction Qt's own globals (input devices
  // made once a widget had the focus) may be gone before it.
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QApplication(argc, argv);
  }();
  return *app;
}

struct ShownMessage {
  std::string caption;
  std::string text;
  TMsgDlgType kind;
};

class RecordingUserInterface : public UserInterface {
 public:
  void ShowMessage(const std::string& Caption, const std::string& Text, TMsgDlgType Kind) override {
    messages.push_back({Caption, Text, Kind});
  }
  bool LoginPrompt(std::string&, std::string&, std::string&, std::string&) override { return false; }
  void CreateMainWindow(const std::string&, const std::string&, const std::string&) override {
    throw std::logic_error("no window in this test");
  }
  void RunMessageLoop() override {}

  std::vector<ShownMessage> messages;
};

// The value as the data layer stores it with compression on.
inline std::string AsEnvelope(const std::string& plain) {
  TMemoryStream stored;
  {
    TCBlobStream envelope(stored, true);
    envelope.SetCompressed(true);
    envelope.WriteString(plain);
    envelope.Close();
  }
  return stored.Bytes();
}

// A report text of about size bytes that compresses well.
inline std::string ReportText(int row, size_t size) {
  std::string text;
  while (text.size() < size)
    text += "report " + std::to_string(row) + ": line " + std::to_string(text.size()) + " of the layout;";
  text.resize(size);
  return text;
}

// The raw stored bytes of the first column of the first row of sql.
inline std::string RawValue(const std::string& file, const std::string& sql) {
  return tersify::testing::ReadStoredBytes(file, sql);
}

// The catalogue lists these tables with blob columns, in this order:
//   Archive      (listed, but no such table exists)
//   TAsks        blob acNote; keys anTask, acTitle
//   orders       blob acScan only: no key candidates
//   tally        blobs acBody, acAttachment; key anTally
//   tqz_reports  blobs acReportData, acLayout; keys acReport, acTitle
// and leaves out tqz_users (no blob column) and tqz_view (type 'V').
// tqz_reports holds kReportRows rows: kShortRows of 100 bytes or less, the next
// kEnvelopeRows stored as envelopes, the rest plain and compressible.
inline constexpr int kReportRows = 30;
inline constexpr int kShortRows = 2;
inline constexpr int kEnvelopeRows = 4;

inline void CreateCatalogue(const TestDatabase& db) {
  db.ExecDirect(
      "create table tqz_systables(acTableName varchar(60) not null, acTabletype char(1) not null);"
      "create table tqz_systablestr(acTablename varchar(60) not null, acFieldName varchar(60) not null,"
      " acOraDatatype varchar(30) not null, anSeqNo int not null);"
      "insert into tqz_systables values ('Archive','N'),('TAsks','N'),('orders','N'),('tally','N'),"
      " ('tqz_reports','N'),('tqz_users','N'),('tqz_view','V');"
      "insert into tqz_systablestr values"
      " ('Archive','anID','number',1),('Archive','acData','blob',2),"
      " ('TAsks','acTitle','varchar2',2),('TAsks','anTask','number',1),('TAsks','acNote','blob',3),"
      " ('orders','acScan','blob',1),"
      " ('tally','anTally','number',1),('tally','acBody','blob',2),('tally','acAttachment','blob',3),"
      " ('tqz_reports','acReport','varchar2',1),('tqz_reports','acReportData','blob',3),"
      " ('tqz_reports','acTitle','varchar2',2),('tqz_reports','acLayout','blob',4),"
      " ('tqz_users','anUserID','number',1),('tqz_users','acName','varchar2',2),"
      " ('tqz_view','acText','blob',1);"
      "create table tqz_reports(acReport varchar(60) not null primary key, acTitle varchar(200),"
      " acReportData blob, acLayout blob);"
      "create table orders(anOrder int not null primary key, acScan blob);"
      "create table tqz_users(anUserID int not null primary key, acName varchar(60))");
  std::string rows = "begin;";
  for (int i = 0; i < kReportRows; ++i) {
    const std::string plain = i < kShortRows ? ReportText(i, 100) : ReportText(i, 300 + 37 * i);
    const std::string stored =
        i >= kShortRows && i < kShortRows + kEnvelopeRows ? AsEnvelope(plain) : plain;
    rows += "insert into tqz_reports values ('R" + std::to_string(100 + i) + "','Report " +
            std::to_string(i) + "'," + HexLiteral(stored) + ",null);";
  }
  for (int i = 1; i <= 3; ++i)
    rows += "insert into orders values (" + std::to_string(i) + "," +
            HexLiteral(ReportText(i, 500)) + ");";
  db.ExecDirect(rows + "commit");
}

// The layer started, a connected default database on a fresh catalogue, and a
// recording user interface installed.
class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    layer_ = std::make_unique<TDatabaseLayerScope>();
    test_db_ = std::make_unique<TestDatabase>("sqlite");
    CreateCatalogue(*test_db_);
    database_ = std::make_unique<TvrDatabase>(nullptr);
    database_->SetServer("sqlite");
    database_->SetDatabaseName(test_db_->FilePath());
    database_->SetUsername("clerk");
    database_->SetPassword("s3cret");
    database_->SetConnected(true);
    DefaultDatabase = database_.get();
    auto ui = std::make_unique<RecordingUserInterface>();
    ui_ = ui.get();
    previous_ui_ = SetCurrentUserInterface(std::move(ui));
  }

  void TearDown() override {
    SetCurrentUserInterface(std::move(previous_ui_));
    database_.reset();  // clears DefaultDatabase
    test_db_.reset();
    layer_.reset();
  }

  const std::string& FilePath() const { return test_db_->FilePath(); }

  RecordingUserInterface* ui_ = nullptr;
  std::unique_ptr<TvrDatabase> database_;

 private:
  std::unique_ptr<TDatabaseLayerScope> layer_;
  std::unique_ptr<TestDatabase> test_db_;
  std::unique_ptr<UserInterface> previous_ui_;
};

}  // namespace tersify::testing
