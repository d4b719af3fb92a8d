// The start-up sequence as users meet it: the real tersify program run as a
// child process against every provider (the odbc one served by the TDS test
// server in this process while the child runs), its standard output, standard
// error and exit code, the progress line on a terminal, and the demo database
// generator.

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/db/layer_fixture.h"
#include "tests/support/provider_matrix.h"
#include "tests/tool/program_runner.h"
#include "tests/support/tds_server/tds_test_server.h"
#include "client/ms_connection.h"
#include "db/database.h"
#include "db/layer_unit.h"
#include "db/registries.h"
#include "framework/rtl/application.h"
#include "tool/console/command_line.h"
#include "tool/pass/savings.h"
#include "tool/startup.h"
#include "tool/user_interface.h"

namespace tersify::testing {
namespace {

const std::string kSummary = "Command completed successfully, ";
const std::string kUnableToConnect = "Unable to connect - Missing or incorrect database params";

// ---- Running a program ----------------------------------------------------

// Scratch databases of this executable go to memory when the machine has
// /dev/shm and no TMPDIR is set: every post of a pass is a transaction of its
// own, and syncing each one to a busy disk would make the suite slow.
class ScratchInMemory : public ::testing::Environment {
 public:
  void SetUp() override {
    if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", /*overwrite=*/0);
  }
};
[[maybe_unused]] ::testing::Environment* const kScratchInMemory =
    ::testing::AddGlobalTestEnvironment(new ScratchInMemory);

std::string SummaryLine(int processed, int skipped) {
  return kSummary + std::to_string(processed) + " records processed, " + std::to_string(skipped) +
         " records skipped\n";
}

std::string UsageWith(const std::string& message) { return message + "\r\n\r\n" + UsageText + "\n"; }

// ---- Stored values --------------------------------------------------------

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReportText(const std::string& name, size_t n) {
  std::string text;
  while (text.size() < n) text += "<TfrxMemoView Name=\"" + name + "\" Text=\"[Sum]\"/>\r\n";
  text.resize(n);
  return text;
}

std::string Key(int i) {
  char name[8];
  std::snprintf(name, sizeof name, "R%02d", i);
  return name;
}

// ---- The program against every provider -----------------------------------

// tqz_reports with twelve rows: ten long values and two of 100 bytes or less.
class TersifyProgram : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db_ = std::make_unique<TestDatabase>(GetParam());
    db_->ExecDirect(
        "create table tqz_reports (acReport varchar(20) primary key, acTitle text, acReportData blob)");
  }
  void Fill() {
    for (int i = 1; i <= 12; ++i) {
      const std::string value = ReportText(Key(i), i == 4 || i == 9 ? 100 : 150 + 211 * static_cast<size_t>(i));
      db_->ExecDirect("insert into tqz_reports values ('" + Key(i) + "', 'Title " + Key(i) + "', " +
                      HexLiteral(value) + ")");
    }
  }
  std::map<std::string, std::string> Stored() const {
    return AllValues(db_->FilePath(), "select acReport, acReportData from tqz_reports");
  }
  std::vector<std::string> Args(std::vector<std::string> args) const { return args + ConnectionArgs(*db_); }
  int64_t ColumnBytes() const {
    int64_t bytes = 0;
    for (const auto& [key, stored] : Stored()) bytes += static_cast<int64_t>(stored.size());
    return bytes;
  }
  // Standard error after a pass that took the column from `before` bytes to
  // what it holds now: one line that tells the change and, when the column
  // shrank, how to get the freed space back on this kind of server.
  void ExpectSavingsLines(const std::string& err, int64_t before) const {
    const int64_t after = ColumnBytes();
    const providers::ConnectionSettings& s = db_->Settings();
    const bool sqlite = GetParam() == "sqlite";
    const std::string place =
        sqlite ? "on " + db_->FilePath() : "in " + s.database + " on " + s.server + "," + std::to_string(s.port);
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(err.back(), '\n');
    EXPECT_EQ(lines[0].rfind("tqz_reports.acReportData " + place + ": " + StoredSizeText(before) + " -> " +
                                 StoredSizeText(after) + ", ",
                             0),
              0u)
        << lines[0];
    const char* change = after < before ? " % smaller" : after > before ? " % larger" : ", unchanged";
    EXPECT_NE(lines[0].find(change), std::string::npos) << lines[0];
    // A SQLite file whose values shrank within their pages holds no free page.
    const bool freed = after < before && (!sqlite || RawValue(*db_, "select freelist_count from pragma_freelist_count()") !=
                                                         RawValue(*db_, "select 0"));
    ASSERT_EQ(lines.size(), 1u) << err;
    const size_t advice = lines[0].find(" smaller; ");
    if (!freed) {
      EXPECT_EQ(advice, std::string::npos) << lines[0];
      return;
    }
    ASSERT_NE(advice, std::string::npos) << lines[0];
    const std::string rest = lines[0].substr(advice + std::string(" smaller; ").size());
    if (sqlite) {
      EXPECT_EQ(rest.rfind(db_->FilePath() + " keeps ", 0), 0u) << rest;
      EXPECT_NE(rest.find(" inside the file: VACUUM gives them back (sqlite3 " + db_->FilePath() +
                          " VACUUM; advice, never run by tersify"),
                std::string::npos)
          << rest;
    } else {
      EXPECT_EQ(rest,
                "SQL Server gives the freed pages back only after LOB compaction: ALTER INDEX ALL ON tqz_reports "
                "REORGANIZE WITH (LOB_COMPACTION = ON), then a file shrink (DBCC SHRINKFILE) if the file itself "
                "should shrink (advice, never run by tersify: both are work for a maintenance window)");
    }
  }

  std::unique_ptr<TestDatabase> db_;
};

TEST_P(TersifyProgram, CompressesTheDefaultTableAndPrintsTheSummary) {
  Fill();
  const auto before = Stored();
  const int64_t bytes_before = ColumnBytes();
  const RunResult r = RunTersify(Args({"/GUI=0", "/c"}));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, SummaryLine(10, 2));
  ExpectSavingsLines(r.err, bytes_before);
  const auto after = Stored();
  ASSERT_EQ(after.size(), 12u);
  for (const auto& [key, stored] : after) {
    EXPECT_EQ(HasEnvelopeHeader(stored), before.at(key).size() > 100) << key;
    EXPECT_EQ(PlainOf(stored), before.at(key)) << key;
  }
}

TEST_P(TersifyProgram, AKeyGivenAloneIsReplacedByTheDefaultKey) {
  Fill();
  const int64_t bytes_before = ColumnBytes();
  const RunResult r = RunTersify(Args({"/GUI=0", "/KEY=acMissing", "/compress"}));
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out, SummaryLine(10, 2));
  ExpectSavingsLines(r.err, bytes_before);
}

TEST_P(TersifyProgram, CompressThenDecompressRestoresEveryValue) {
  Fill();
  const auto before = Stored();
  const RunResult compress = RunTersify(Args({"/GUI=0", "-c", "/TABLE=tqz_reports", "/FIELD=acReportData",
                                              "/KEY=acReport"}));
  ASSERT_EQ(compress.exit_code, 0) << compress.out;
  const RunResult again = RunTersify(Args({"/GUI=0", "/c"}));
  EXPECT_EQ(again.out, SummaryLine(0, 12));
  const RunResult decompress = RunTersify(Args({"/GUI=0", "/decompress", "/table=tqz_reports",
                                                "/field=acReportData", "/key=acReport"}));
  EXPECT_EQ(decompress.exit_code, 0);
  EXPECT_EQ(decompress.out, SummaryLine(10, 2));
  EXPECT_EQ(Stored(), before);
}

// Standard output keeps its one summary line; standard error tells what the
// pass did to the column's bytes. A second compress pass writes nothing at
// all: the file stays byte for byte the same.
TEST_P(TersifyProgram, SavingsFollowTheSummaryAndASecondCompressPassWritesNothing) {
  Fill();
  db_->ExecDirect("insert into tqz_reports values ('R13', 'noise', " + HexLiteral(Incompressible(900, 13)) + ")");
  // A value of many pages, so that the file holds free pages afterwards.
  db_->ExecDirect("insert into tqz_reports values ('R14', 'long', " + HexLiteral(ReportText("R14", 300000)) + ")");
  const int64_t plain = ColumnBytes();
  const RunResult compress = RunTersify(Args({"/GUI=0", "/c"}));
  ASSERT_EQ(compress.exit_code, 0) << compress.err;
  EXPECT_EQ(compress.out, SummaryLine(11, 3));
  ExpectSavingsLines(compress.err, plain);
  EXPECT_LT(ColumnBytes(), plain);
  EXPECT_NE(compress.err.find(GetParam() == "sqlite" ? "VACUUM" : "LOB_COMPACTION"), std::string::npos)
      << compress.err;

  const int64_t compressed = ColumnBytes();
  const std::string file = FileBytes(db_->FilePath());
  const RunResult again = RunTersify(Args({"/GUI=0", "/c"}));
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_EQ(again.out, SummaryLine(0, 14));
  ExpectSavingsLines(again.err, compressed);
  EXPECT_TRUE(FileBytes(db_->FilePath()) == file) << "the second compress pass changed the file";

  const RunResult decompress = RunTersify(Args({"/GUI=0", "/d"}));
  EXPECT_EQ(decompress.out, SummaryLine(11, 3));
  ExpectSavingsLines(decompress.err, compressed);
  EXPECT_EQ(ColumnBytes(), plain);
}

TEST_P(TersifyProgram, AnEmptyTableReportsNoRows) {
  const RunResult r = RunTersify(Args({"/GUI=0", "/d"}));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, SummaryLine(0, 0));
  ExpectSavingsLines(r.err, 0);
}

struct HaltCase {
  const char* title;
  std::vector<std::string> args;
  const char* message;
};

// Table or field missing is found only after a successful connection.
TEST_P(TersifyProgram, MissingTableOrFieldAfterConnectingPrintsUsage) {
  Fill();
  const auto before = Stored();
  const HaltCase cases[] = {
      {"FieldOnly", {"/GUI=0", "/d", "/FIELD=acReportData"}, "Missing tablename"},
      {"TableOnly", {"/GUI=0", "/c", "/TABLE=tqz_reports"}, "Missing fieldname"},
      {"TableAndKey", {"/GUI=0", "/c", "/TABLE=tqz_reports", "/KEY=acReport"}, "Missing fieldname"},
      {"EmptyTableValue", {"/GUI=0", "/c", "/TABLE=", "/FIELD=acReportData"}, "Missing tablename"},
  };
  for (const HaltCase& c : cases) {
    SCOPED_TRACE(c.title);
    const RunResult r = RunTersify(Args(c.args));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, UsageWith(c.message));
    EXPECT_EQ(r.err, "");
    // The same without a connection stops at connecting.
    const RunResult unconnected = RunTersify(c.args + FailingConnectionArgs(*db_));
    EXPECT_EQ(unconnected.exit_code, 1);
    EXPECT_EQ(unconnected.out, UsageWith(kUnableToConnect));
  }
  EXPECT_EQ(Stored(), before);
}

TEST_P(TersifyProgram, AFailedConnectionPrintsUsageAndExitsWithOne) {
  Fill();
  const auto before = Stored();
  for (bool console : {true, false}) {
    SCOPED_TRACE(console ? "console" : "interactive");
    std::vector<std::string> args = {"/c", "/TABLE=tqz_reports", "/FIELD=acReportData"};
    if (console) args.insert(args.begin(), "/GUI=0");
    // Without a display the message box text goes to standard output too.
    const RunResult r = RunTersify(args + FailingConnectionArgs(*db_));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, UsageWith(kUnableToConnect));
    // The reason goes to standard error, beneath the fixed message.
    EXPECT_EQ(r.err.rfind("Connection failed: ", 0), 0u) << r.err;
  }
  EXPECT_EQ(Stored(), before);
  // Connecting never creates a database file.
  EXPECT_FALSE(std::filesystem::exists(db_->FilePath() + ".missing"));
}

// A misspelt switch or two commands end the run before it connects: no
// statement reaches the server and no row changes, in either mode.
TEST_P(TersifyProgram, RefusedArgumentsEndTheRunBeforeAnyStatement) {
  Fill();
  const auto before = Stored();
  const HaltCase cases[] = {
      {"Typos", {"/GUI=0", "/c", "/TABEL=tqz_documents", "/FEILD=acContent"},
       "Unknown argument '/TABEL=tqz_documents' (did you mean /TABLE=?)\n"
       "Unknown argument '/FEILD=acContent' (did you mean /FIELD=?)\n"},
      {"InteractiveTypo", {"/c", "/KEY=acReport", "/FIELDS=acReportData"},
       "Unknown argument '/FIELDS=acReportData' (did you mean /FIELD=?)\n"},
      {"CompressAndDecompress", {"/GUI=0", "/c", "/d"},
       "Conflicting commands '/c' (compress) and '/d' (decompress): give only one of /c, /d, /verify and "
       "/estimate\n"},
      {"EstimateAndDecompress", {"/GUI=0", "/estimate", "/d"},
       "Conflicting commands '/estimate' (estimate) and '/d' (decompress): give only one of /c, /d, /verify "
       "and /estimate\n"},
  };
  for (const HaltCase& c : cases) {
    SCOPED_TRACE(c.title);
    const RunResult r = RunTersify(Args(c.args));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.message);
  }
  EXPECT_EQ(Stored(), before);
  if (GetParam() != "sqlite") {
    EXPECT_EQ(db_->ServerRequests().Total(), 0u) << "a statement reached the server";
  }
}

// The same switch twice: the later value wins, as it always did.
TEST_P(TersifyProgram, OfASwitchGivenTwiceTheLaterValueWins) {
  Fill();
  const RunResult r = RunTersify(Args({"/GUI=0", "/c", "/TABLE=tqz_other", "/FIELD=acTitle", "/TABLE=tqz_reports",
                                       "/FIELD=acReportData", "-compress"}));
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, SummaryLine(10, 2));
}

TEST_P(TersifyProgram, AnUnsafeNameEndsThePassAndChangesNothing) {
  Fill();
  const auto before = Stored();
  const RunResult r = RunTersify(Args({"/GUI=0", "/c", "/TABLE=tqz_reports; drop table tqz_reports",
                                       "/FIELD=acReportData"}));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "Critical error occured:\nInvalid table name: tqz_reports; drop table tqz_reports\n");
  EXPECT_EQ(r.err, "0 records processed, 0 records skipped before the error\n");
  EXPECT_EQ(Stored(), before);

  const RunResult key = RunTersify(Args({"/GUI=0", "/c", "/TABLE=tqz_reports", "/FIELD=acReportData",
                                         "/KEY=acReport--"}));
  EXPECT_EQ(key.exit_code, 1);
  EXPECT_EQ(key.out, "Critical error occured:\nInvalid key field name: acReport--\n");
  EXPECT_EQ(Stored(), before);
}

TEST_P(TersifyProgram, ACommandWithTheInteractiveFlagOnRunsThePassAtOnce) {
  Fill();
  const int64_t bytes_before = ColumnBytes();
  const RunResult r = RunTersify(Args({"/c", "/TABLE=tqz_reports", "/FIELD=acReportData", "/KEY=acReport"}));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, SummaryLine(10, 2));
  ExpectSavingsLines(r.err, bytes_before);

  // A pass error goes to a message box (its text, without a display, to
  // standard output) and not to the console lines.
  const RunResult error = RunTersify(Args({"/d", "/TABLE=tqz_reports", "/FIELD=acTitle"}));
  EXPECT_EQ(error.exit_code, 1);
  EXPECT_EQ(error.out, "Field acTitle from table tqz_reports can't be compressed\n");
  // Why, beside the fixed message: the column's type, as declared (the server
  // describes a text column as text).
  EXPECT_EQ(error.err,
            std::string("The column acTitle has the type text") +
            "; only a binary large object column (varbinary(max), image, blob) can hold compressed values\n"
            "0 records processed, 0 records skipped before the error\n");
}

TEST_P(TersifyProgram, TheProgressLineIsShownOnlyOnATerminal) {
  if (!PseudoTerminalAvailable()) GTEST_SKIP() << "no pseudo-terminal";
  Fill();
  const RunResult r = RunTersify(Args({"/GUI=0", "/c"}), Terminal::Stderr);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, SummaryLine(10, 2));
  EXPECT_NE(r.err.find("12 of 12 rows (100 %), "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" elapsed"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Command completed"), std::string::npos) << r.err;

  // A pass that fails before its query opens draws nothing; standard error
  // holds only how far the pass got.
  const RunResult refused = RunTersify(Args({"/GUI=0", "/c", "/TABLE=a b", "/FIELD=acReportData"}), Terminal::Stderr);
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.err, "0 records processed, 0 records skipped before the error\r\n");
}

// On one terminal for both streams the progress line ends before the error
// lines of a failed pass begin, and is not drawn again after them.
TEST_P(TersifyProgram, APassErrorStartsOnALineOfItsOwnBelowTheProgressLine) {
  if (!PseudoTerminalAvailable()) GTEST_SKIP() << "no pseudo-terminal";
  Fill();
  db_->ExecDirect(
      "create trigger refuse_tenth before update on tqz_reports "
      "when NEW.acReport = 'R10' begin select raise(abort, 'tenth row refused'); end");
  const RunResult r = RunTersify(Args({"/GUI=0", "/c"}), Terminal::Both);
  EXPECT_EQ(r.exit_code, 1);
  const size_t error = r.out.find("Critical error occured:");
  ASSERT_NE(error, std::string::npos) << r.out;
  ASSERT_GT(error, 0u);
  EXPECT_EQ(r.out[error - 1], '\n') << r.out;
  const size_t progress = r.out.rfind(" of 12 rows (", error);
  ASSERT_NE(progress, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(" elapsed", error), std::string::npos) << "progress drawn after the error: " << r.out;
  EXPECT_NE(r.out.find("tenth row refused", error), std::string::npos) << r.out;
}

// The pass's own switches change how it runs, not what it prints; a bad value
// ends the run on standard error before anything is touched.
TEST_P(TersifyProgram, PassSwitchesKeepTheSummaryAndBadValuesEndOnStandardError) {
  Fill();
  const auto before = Stored();
  const int64_t bytes_before = ColumnBytes();
  const RunResult tuned = RunTersify(Args({"/GUI=0", "/c", "/THREADS=3", "/BATCH=5", "/TIMEOUT=0",
                                              "/MAXRATE=500"}));
  EXPECT_EQ(tuned.exit_code, 0);
  EXPECT_EQ(tuned.out, SummaryLine(10, 2));
  ExpectSavingsLines(tuned.err, bytes_before);
  const RunResult back = RunTersify(Args({"/GUI=0", "/d", "-threads=1"}));
  EXPECT_EQ(back.out, SummaryLine(10, 2));
  EXPECT_EQ(Stored(), before);

  for (const char* bad : {"/THREADS=0", "/BATCH=-1", "/TIMEOUT=soon", "/MAXRATE=0", "/MAXRATE=fast",
                          "/LOGLIMIT=100", "/LOGLIMIT=0"}) {
    SCOPED_TRACE(bad);
    const RunResult r = RunTersify(Args({"/GUI=0", "/c", bad}));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(std::string("Invalid value for ") + std::string(bad).substr(0, std::string(bad).find('=') + 1), 0),
              0u)
        << r.err;
  }
  EXPECT_EQ(Stored(), before);
}

// The console cases run once more over a connection the server encrypts.
INSTANTIATE_TEST_SUITE_P(Providers, TersifyProgram, ::testing::ValuesIn(AvailableProvidersWithTls()), ProviderName());


// ---- The start-up sequence in this process ---------------------------------

struct Halted {
  int code;
};

struct LoginCall {
  std::string username, password, server, database;
};

// An interactive user interface that records what it is asked; its login
// prompt either cancels or answers with the values it was given.
class ScriptedUserInterface : public UserInterface {
 public:
  struct Box {
    std::string caption, text;
    TMsgDlgType kind;
  };
  std::vector<Box> boxes;
  std::vector<LoginCall> logins;
  std::vector<std::vector<std::string>> windows;
  bool answer_login = false;
  // Whether a refused prompt counts as the user's cancel (a window's prompt)
  // or as no prompt at all (the console's).
  bool user_cancels = false;
  LoginCall answer;
  std::vector<std::string> noted_failures;

  void ShowMessage(const std::string& Caption, const std::string& Text, TMsgDlgType Kind) override {
    boxes.push_back({Caption, Text, Kind});
  }
  bool LoginPrompt(std::string& Username, std::string& Password, std::string& Server,
                   std::string& Database) override {
    logins.push_back({Username, Password, Server, Database});
    if (!answer_login) return false;
    Username = answer.username;
    Password = answer.password;
    Server = answer.server;
    Database = answer.database;
    return true;
  }
  void NoteFailedLogin(const std::string& Reason) override { noted_failures.push_back(Reason); }
  bool LoginCancelledByUser() const override { return user_cancels && !answer_login; }
  void CreateMainWindow(const std::string& Table, const std::string& Field, const std::string& Key) override {
    windows.push_back({Table, Field, Key});
  }
  void RunMessageLoop() override {}
};

struct StartupResult {
  int halt_code = -1;  // -1: RunFromCommandLine returned
  std::string out;
};

// RunFromCommandLine with the program's wiring (application object, layer,
// login prompt through the user interface) and a halt that throws.
class StartupSequence : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    CreateApplication();
    StartDatabaseLayer();
    db_ = std::make_unique<TestDatabase>(GetParam());
    db_->ExecDirect("create table tqz_reports (acReport varchar(20) primary key, acReportData blob)");
    for (int i = 1; i <= 3; ++i)
      db_->ExecDirect("insert into tqz_reports values ('" + Key(i) + "', " +
                      HexLiteral(ReportText(Key(i), i == 2 ? 50 : 700)) + ")");
    previous_halt_ = SetHaltFunction([](int code) { throw Halted{code}; });
    SetLoginPromptHook([](TMSConnection&, TLoginValues& v) {
      return CurrentUserInterface().LoginPrompt(v.username, v.password, v.server, v.database);
    });
    auto ui = std::make_unique<ScriptedUserInterface>();
    ui_ = ui.get();
    SetCurrentUserInterface(std::move(ui));
  }
  void TearDown() override {
    SetLoginPromptHook(nullptr);
    SetCurrentUserInterface(nullptr);
    SetHaltFunction(previous_halt_);
    SetProcessArguments(0, nullptr);
    ShutdownDatabaseLayer();  // destroys the default database the sequence made
    db_.reset();
  }

  StartupResult Start(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"tersify"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    SetProcessArguments(static_cast<int>(argv.size()), argv.data());
    StartupResult r;
    std::ostringstream out;
    std::streambuf* saved = std::cout.rdbuf(out.rdbuf());
    try {
      RunFromCommandLine();
    } catch (const Halted& h) {
      r.halt_code = h.code;
    } catch (...) {
      std::cout.rdbuf(saved);
      throw;
    }
    std::cout.rdbuf(saved);
    r.out = out.str();
    return r;
  }

  // The values of ConnectionArgs, as a login prompt would give them.
  LoginCall GoodLogin() const {
    const providers::ConnectionSettings& s = db_->Settings();
    if (db_->Provider() == "sqlite") return {"", "", "sqlite", s.database};
    return {s.username, s.password, s.server + "," + std::to_string(s.port), s.database};
  }

  std::unique_ptr<TestDatabase> db_;
  ScriptedUserInterface* ui_ = nullptr;
  HaltFunction previous_halt_ = nullptr;
};

TEST_P(StartupSequence, WritesTheConnectionValuesIntoTheDefaultDatabase) {
  const StartupResult r = Start(ConnectionArgs(*db_) + std::vector<std::string>{"/GUI=0", "/c"});
  EXPECT_EQ(r.halt_code, 0);
  EXPECT_EQ(r.out, SummaryLine(2, 1));
  TvrDatabase* database = DefaultDatabase;
  ASSERT_NE(database, nullptr);
  EXPECT_EQ(database->Owner(), Application);
  EXPECT_TRUE(database->Connected());
  const LoginCall want = GoodLogin();
  EXPECT_EQ(database->Server(), want.server);
  EXPECT_EQ(database->DatabaseName(), want.database);
  EXPECT_EQ(database->Username(), want.username);
  EXPECT_EQ(database->Password(), want.password);
  EXPECT_TRUE(ui_->logins.empty());
  EXPECT_TRUE(ui_->boxes.empty());
}

TEST_P(StartupSequence, InteractiveModeRetriesOnceThroughTheLoginPrompt) {
  ui_->answer_login = true;
  ui_->answer = GoodLogin();
  const StartupResult r = Start(FailingConnectionArgs(*db_) + std::vector<std::string>{"/c"});
  EXPECT_EQ(r.halt_code, 0);
  EXPECT_EQ(r.out, SummaryLine(2, 1));
  ASSERT_EQ(ui_->logins.size(), 1u);
  // The prompt starts from the values of the command line.
  EXPECT_EQ(ui_->logins[0].database, db_->Provider() == "sqlite" ? db_->Settings().database + ".missing"
                                                                  : db_->Settings().database);
  EXPECT_TRUE(ui_->boxes.empty());
}

TEST_P(StartupSequence, ALoginPromptThatCannotBeShownEndsWithTheUsageInAMessageBox) {
  const StartupResult r = Start(FailingConnectionArgs(*db_) + std::vector<std::string>{"/c"});
  EXPECT_EQ(r.halt_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ui_->logins.size(), 1u);
  ASSERT_EQ(ui_->boxes.size(), 1u);
  EXPECT_EQ(ui_->boxes[0].caption, "Error");
  EXPECT_EQ(ui_->boxes[0].text, kUnableToConnect + "\r\n\r\n" + UsageText);
  EXPECT_EQ(ui_->boxes[0].kind, TMsgDlgType::mtCustom);
  EXPECT_TRUE(ui_->windows.empty());
}

TEST_P(StartupSequence, ALoginCancelledByTheUserEndsWithoutTheUsageAndThePromptKnewWhy) {
  ui_->user_cancels = true;
  const StartupResult r = Start(FailingConnectionArgs(*db_) + std::vector<std::string>{"/c"});
  EXPECT_EQ(r.halt_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(ui_->boxes.empty()) << ui_->boxes[0].text;
  EXPECT_EQ(ui_->logins.size(), 1u);
  // The prompt was told the reason of the first attempt.
  ASSERT_EQ(ui_->noted_failures.size(), 1u);
  EXPECT_FALSE(ui_->noted_failures[0].empty());
  EXPECT_TRUE(ui_->windows.empty());
}

TEST_P(StartupSequence, ConsoleModeMakesOneAttemptWithoutAPrompt) {
  ui_->answer_login = true;
  ui_->answer = GoodLogin();
  const StartupResult r = Start(FailingConnectionArgs(*db_) + std::vector<std::string>{"/GUI=0", "/c"});
  EXPECT_EQ(r.halt_code, 1);
  EXPECT_EQ(r.out, UsageWith(kUnableToConnect));
  EXPECT_TRUE(ui_->logins.empty());
  EXPECT_TRUE(ui_->boxes.empty());
}

struct WindowCase {
  const char* title;
  std::vector<std::string> args;
  std::vector<std::string> window;  // table, field, key
};

TEST_P(StartupSequence, WithoutACompleteCommandInteractiveModeOpensTheWindow) {
  const WindowCase cases[] = {
      {"NoCommand", {}, {"tqz_reports", "acReportData", "acReport"}},
      {"KeyAlone", {"/KEY=id"}, {"tqz_reports", "acReportData", "acReport"}},
      {"Names", {"/TABLE=t", "/FIELD=f", "/KEY=k"}, {"t", "f", "k"}},
      {"CommandWithoutField", {"/c", "/TABLE=tqz_reports"}, {"tqz_reports", "", ""}},
  };
  for (const WindowCase& c : cases) {
    SCOPED_TRACE(c.title);
    ui_->windows.clear();
    const StartupResult r = Start(ConnectionArgs(*db_) + c.args);
    EXPECT_EQ(r.halt_code, -1) << "the sequence returns to run the message loop";
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(ui_->windows.size(), 1u);
    EXPECT_EQ(ui_->windows[0], c.window);
    // Each run made its own default database; the previous one goes with the layer.
    ShutdownDatabaseLayer();
    StartDatabaseLayer();
  }
  // No pass ran.
  EXPECT_EQ(PlainOf(RawValue(*db_, "select acReportData from tqz_reports where acReport = 'R01'")),
            RawValue(*db_, "select acReportData from tqz_reports where acReport = 'R01'"));
}

TEST_P(StartupSequence, APassErrorInInteractiveModeIsShownAndEndsWithOne) {
  const StartupResult r = Start(ConnectionArgs(*db_) +
                                std::vector<std::string>{"/d", "/TABLE=tqz_reports", "/FIELD=acReport"});
  EXPECT_EQ(r.halt_code, 1);
  EXPECT_EQ(r.out, "") << "no summary";
  ASSERT_EQ(ui_->boxes.size(), 1u);
  EXPECT_EQ(ui_->boxes[0].text, "Field acReport from table tqz_reports can't be compressed");
  EXPECT_EQ(ui_->boxes[0].kind, TMsgDlgType::mtError);
  EXPECT_TRUE(ui_->windows.empty());
}

INSTANTIATE_TEST_SUITE_P(Providers, StartupSequence, ::testing::ValuesIn(AvailableProviders()), ProviderName());

// ---- The demo database ----------------------------------------------------

#ifdef TERSIFY_DEMO_DB_EXE


std::string Scalar(const std::string& file, const std::string& sql) {
  auto values = AllValues(file, "select (" + sql + "), null");
  return values.empty() ? std::string() : values.begin()->first;
}

TEST(CancelExitCode, IsTheSignalAbove128AndAnInterruptOtherwise) {
  EXPECT_EQ(CancelExitCode(SIGINT), 130);
  EXPECT_EQ(CancelExitCode(SIGTERM), 143);
  EXPECT_EQ(CancelExitCode(0), 130);
  EXPECT_EQ(CancelExitCode(1000), 130);
}


TEST(DemoDatabase, HoldsTheCatalogueAndThreeHundredReports) {
  TempDir dir;
  const std::string file = dir.File("demo.db");
  const RunResult r = RunProgram(TERSIFY_DEMO_DB_EXE, {file});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "created " + file + " with 300 report definitions\n");
  EXPECT_EQ(Scalar(file, "select count(*) from tqz_reports"), "300");
  EXPECT_EQ(Scalar(file, "select count(*) from tqz_systables"), "4");
  EXPECT_EQ(Scalar(file, "select count(*) from tqz_systablestr where acOraDatatype = 'blob'"), "3");
  // Every table the catalogue names exists.
  EXPECT_EQ(Scalar(file, "select count(*) from tqz_systables where acTableName not in "
                         "(select name from sqlite_master where type = 'table')"),
            "0");
  // Some values are short, some already envelopes, most plain and long.
  const auto values = AllValues(file, "select acReport, acReportData from tqz_reports");
  int short_values = 0, envelopes = 0, long_plain = 0;
  for (const auto& [key, stored] : values) {
    if (HasEnvelopeHeader(stored)) ++envelopes;
    else if (stored.size() <= 100) ++short_values;
    else ++long_plain;
  }
  EXPECT_GT(short_values, 0);
  EXPECT_GT(envelopes, 0);
  EXPECT_GT(long_plain, 200);
  EXPECT_FALSE(std::filesystem::exists(file + ".partial"));
}

TEST(DemoDatabase, RefusesToOverwriteAFile) {
  TempDir dir;
  const std::string file = dir.File("demo.db");
  { std::ofstream(file) << "keep me"; }
  const RunResult r = RunProgram(TERSIFY_DEMO_DB_EXE, {file});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.err.find("exists already"), std::string::npos) << r.err;
  EXPECT_EQ(ReadWhole(file), "keep me");
}

class DemoRoundTrip : public ::testing::TestWithParam<std::string> {};

// Sixty rows hold every kind of value the demo makes (short, incompressible,
// already compressed, long reports) and keep the run short.
TEST_P(DemoRoundTrip, CompressThenDecompressKeepsEveryValue) {
  TempDir dir;
  const std::string file = dir.File("demo.db");
  const int rows = 60;
  ASSERT_EQ(RunProgram(TERSIFY_DEMO_DB_EXE, {file, std::to_string(rows)}).exit_code, 0);
  std::vector<std::string> connection = {"/IP=sqlite", "/DB=" + file};
  std::unique_ptr<TdsTestServer> server;
  if (GetParam() == "odbc") {
    server = std::make_unique<TdsTestServer>(file, "demo", "demo_user", "Demo;pw}1");
    connection = {"/IP=127.0.0.1," + std::to_string(server->Port()), "/U=demo_user", "/P=Demo;pw}1", "/DB=demo"};
  }
  const auto original = AllValues(file, "select acReport, acReportData from tqz_reports");
  ASSERT_EQ(original.size(), static_cast<size_t>(rows));
  int to_compress = 0;
  for (const auto& [key, stored] : original)
    if (!HasEnvelopeHeader(stored) && stored.size() > 100) ++to_compress;

  const RunResult compress = RunTersify(std::vector<std::string>{"/GUI=0", "/c"} + connection);
  ASSERT_EQ(compress.exit_code, 0) << compress.out;
  const auto compressed = AllValues(file, "select acReport, acReportData from tqz_reports");
  // Only the rows whose stored bytes changed count as processed: a value that
  // does not shrink is not written.
  int changed = 0;
  for (const auto& [key, stored] : compressed) changed += stored != original.at(key) ? 1 : 0;
  EXPECT_EQ(compress.out, SummaryLine(changed, rows - changed));
  int to_decompress = 0, stayed_plain = 0, were_envelopes = 0;
  for (const auto& [key, stored] : compressed) {
    EXPECT_EQ(PlainOf(stored), PlainOf(original.at(key))) << key;
    if (HasEnvelopeHeader(stored) && PlainOf(stored).size() > 100) ++to_decompress;
    if (!HasEnvelopeHeader(stored) && stored.size() > 100) ++stayed_plain;  // did not shrink
    if (HasEnvelopeHeader(original.at(key))) {
      ++were_envelopes;
      EXPECT_EQ(stored, original.at(key)) << key << ": an envelope was re-encoded";
    }
  }
  EXPECT_GT(to_decompress, to_compress / 2);
  EXPECT_GT(stayed_plain, 0);
  EXPECT_EQ(changed, to_compress - stayed_plain);
  EXPECT_GT(were_envelopes, 0);

  const RunResult decompress = RunTersify(std::vector<std::string>{"/GUI=0", "/d"} + connection);
  ASSERT_EQ(decompress.exit_code, 0) << decompress.out;
  EXPECT_EQ(decompress.out, SummaryLine(to_decompress, rows - to_decompress));
  const auto restored = AllValues(file, "select acReport, acReportData from tqz_reports");
  ASSERT_EQ(restored.size(), static_cast<size_t>(rows));
  for (const auto& [key, stored] : restored) {
    EXPECT_FALSE(HasEnvelopeHeader(stored) && stored.size() > 100) << key << " still compressed";
    EXPECT_EQ(stored, PlainOf(original.at(key))) << key;
  }
}

INSTANTIATE_TEST_SUITE_P(Providers, DemoRoundTrip, ::testing::ValuesIn(AvailableProviders()), ProviderName());

#endif  // TERSIFY_DEMO_DB_EXE

}  // namespace
}  // namespace tersify::testing
