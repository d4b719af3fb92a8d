#include "tool/console/command_line.h"
#include "tool/pass/options.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <utility>

#include "framework/rtl/strings.h"
#include "tool/console/console_ui.h"
#include "tool/user_interface.h"

namespace tersify {
namespace {

// ---- Matchers -------------------------------------------------------------

struct SwitchCase {
  const char* arg;
  const char* name;
  bool matches;
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.arg << " vs " << c.name; }

class SwitchMatch : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchMatch, ComparesTheWholeSwitch) {
  const SwitchCase& c = GetParam();
  const std::string arg = c.arg;
  EXPECT_EQ(CheckParamSwitch(arg, c.name), c.matches) << c.arg << " vs " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SwitchMatch,
    ::testing::Values(SwitchCase{"-compress", "COMPRESS", true}, SwitchCase{"/COMPRESS", "COMPRESS", true},
                      SwitchCase{"Compress", "COMPRESS", true}, SwitchCase{"c", "C", true},
                      SwitchCase{"/c", "C", true}, SwitchCase{"-C", "C", true},
                      SwitchCase{"/comp", "COMPRESS", false}, SwitchCase{"--c", "C", false},
                      SwitchCase{"//c", "C", false}, SwitchCase{"/-c", "C", false},
                      SwitchCase{"/compressx", "COMPRESS", false}, SwitchCase{"/c ", "C", false},
                      SwitchCase{"", "C", false}, SwitchCase{"/", "C", false},
                      SwitchCase{"/d", "C", false}, SwitchCase{"/DeCoMpReSs", "DECOMPRESS", true}));

struct ValueCase {
  const char* arg;
  const char* name;
  bool matches;
  const char* after;  // Arg after the call
};

void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.arg << " vs " << c.name; }

class ValueMatch : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueMatch, TakesTheValueAfterThePrefix) {
  const ValueCase& c = GetParam();
  std::string arg = c.arg;
  EXPECT_EQ(CheckParamValue(arg, c.name), c.matches) << c.arg << " vs " << c.name;
  EXPECT_EQ(arg, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ValueMatch,
    ::testing::Values(ValueCase{"/TABLE=Reports", "TABLE=", true, "Reports"},
                      ValueCase{"/table=Reports", "TABLE=", true, "Reports"},
                      ValueCase{"-TaBlE=MiXeD", "TABLE=", true, "MiXeD"},
                      ValueCase{"table=x", "TABLE=", true, "x"},
                      ValueCase{"/TABLE=", "TABLE=", true, ""},
                      ValueCase{"/TABLE=a=b", "TABLE=", true, "a=b"},
                      ValueCase{"/P=p;w}d", "P=", true, "p;w}d"},
                      ValueCase{"--TABLE=x", "TABLE=", false, "--TABLE=x"},
                      ValueCase{"/TABLE", "TABLE=", false, "/TABLE"},
                      ValueCase{"/TAB", "TABLE=", false, "/TAB"},
                      ValueCase{"/TABLES=x", "TABLE=", false, "/TABLES=x"},
                      ValueCase{"/IP=host,1433", "P=", false, "/IP=host,1433"},
                      ValueCase{"/IP=host\\inst", "IP=", true, "host\\inst"},
                      ValueCase{"", "U=", false, ""}));

// ---- The argument loop ----------------------------------------------------

struct LoopCase {
  const char* title;
  std::vector<std::string> args;
  ToolSettings expected;
};

void PrintTo(const LoopCase& c, std::ostream* os) { *os << c.title; }

ToolSettings Settings(int32_t command, bool interactive, std::string table = "",
                      std::string field = "", std::string key = "", std::string user = "",
                      std::string password = "", std::string server = "", std::string database = "",
                      std::optional<std::string> sample = std::nullopt) {
  ToolSettings s;
  s.command = command;
  s.interactive = interactive;
  s.table = table;
  s.field = field;
  s.key = key;
  s.user = user;
  s.password = password;
  s.server = server;
  s.database = database;
  s.sample = sample;
  return s;
}

ToolSettings Sampled(int32_t command, std::optional<std::string> sample) {
  return Settings(command, true, "", "", "", "", "", "", "", std::move(sample));
}

class ArgumentLoop : public ::testing::TestWithParam<LoopCase> {};

TEST_P(ArgumentLoop, FillsTheSettings) {
  ToolSettings s;
  ReadArguments(GetParam().args, s);
  const ToolSettings& e = GetParam().expected;
  EXPECT_EQ(s.command, e.command);
  EXPECT_EQ(s.interactive, e.interactive);
  EXPECT_EQ(s.table, e.table);
  EXPECT_EQ(s.field, e.field);
  EXPECT_EQ(s.key, e.key);
  EXPECT_EQ(s.user, e.user);
  EXPECT_EQ(s.password, e.password);
  EXPECT_EQ(s.server, e.server);
  EXPECT_EQ(s.database, e.database);
  EXPECT_EQ(s.sample, e.sample);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArgumentLoop,
    ::testing::Values(
        LoopCase{"Nothing", {}, Settings(cmdNone, true)},
        LoopCase{"CompressSpellings", {"-compress"}, Settings(cmdCompress, true)},
        LoopCase{"CompressUpper", {"/COMPRESS"}, Settings(cmdCompress, true)},
        LoopCase{"CompressBare", {"Compress"}, Settings(cmdCompress, true)},
        LoopCase{"CompressLetter", {"c"}, Settings(cmdCompress, true)},
        LoopCase{"PartialAndDoubleDashIgnored", {"/comp", "--c"}, Settings(cmdNone, true)},
        LoopCase{"LastCommandWins", {"/c", "/d"}, Settings(cmdDecompress, true)},
        LoopCase{"DecompressThenCompress", {"/decompress", "-C"}, Settings(cmdCompress, true)},
        LoopCase{"TableKeepsCase", {"/table=MyTable"}, Settings(cmdNone, true, "MyTable")},
        LoopCase{"LastTableWins", {"/TABLE=a", "/table=B"}, Settings(cmdNone, true, "B")},
        LoopCase{"GuiZero", {"/GUI=0"}, Settings(cmdNone, false)},
        LoopCase{"GuiYes", {"/GUI=yes"}, Settings(cmdNone, false)},
        LoopCase{"GuiEmpty", {"/GUI="}, Settings(cmdNone, false)},
        LoopCase{"GuiTrue", {"/GUI=true"}, Settings(cmdNone, false)},
        LoopCase{"GuiOneAgain", {"/GUI=0", "gui=1"}, Settings(cmdNone, true)},
        LoopCase{"GuiDoubleDash", {"-gui=0", "/comp", "--c"}, Settings(cmdNone, false)},
        LoopCase{"UserEmptied", {"/U=a", "/U="}, Settings(cmdNone, true, "", "", "", "")},
        LoopCase{"Everything",
                 {"/c", "/IP=srv,1433", "/DB=Db1", "/U=sa", "/P=Secret=1", "/TABLE=t",
                  "/FIELD=f", "/KEY=k", "/GUI=0"},
                 Settings(cmdCompress, false, "t", "f", "k", "sa", "Secret=1", "srv,1433", "Db1")},
        LoopCase{"UnknownIgnored",
                 {"/x", "hello", "/TABLE=t", "/what=ever", "/FIELD=f"},
                 Settings(cmdNone, true, "t", "f")},
        // "C" is tested before the prefixes: "/c" is never read as a value.
        LoopCase{"SwitchBeforePrefixes", {"/D", "/DB=x"}, Settings(cmdDecompress, true, "", "", "", "", "", "", "x")},
        LoopCase{"Verify", {"/verify"}, Settings(cmdVerify, true)},
        LoopCase{"VerifyAnyCaseAndPrefix", {"-VeRiFy"}, Settings(cmdVerify, true)},
        LoopCase{"VerifyBare", {"VERIFY"}, Settings(cmdVerify, true)},
        LoopCase{"VerifyPartialIgnored", {"/verif", "--verify", "/verifyx"}, Settings(cmdNone, true)},
        LoopCase{"Estimate", {"/Estimate"}, Settings(cmdEstimate, true)},
        LoopCase{"LastCommandWinsOverVerify", {"/verify", "/c", "/estimate"}, Settings(cmdEstimate, true)},
        LoopCase{"VerifyAfterDecompress", {"/d", "/verify"}, Settings(cmdVerify, true)},
        LoopCase{"SampleKeepsItsText", {"/estimate", "/sample=2.5"}, Sampled(cmdEstimate, "2.5")},
        LoopCase{"SampleEmpty", {"-SAMPLE="}, Sampled(cmdNone, "")},
        LoopCase{"LastSampleWins", {"/SAMPLE=x", "/SAMPLE=10"}, Sampled(cmdNone, "10")},
        LoopCase{"SampleWithoutEqualsIgnored", {"/SAMPLE", "/SAMPLES=3"}, Settings(cmdNone, true)}),
    [](const auto& info) { return std::string(info.param.title); });

// ---- Refused arguments -------------------------------------------------------

struct RefusalCase {
  const char* title;
  std::vector<std::string> args;
  std::vector<std::string> errors;  // the lines for standard error, in order
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.title; }

class RefusedArguments : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusedArguments, AreNamedWithTheNearestSwitch) {
  ToolSettings s;
  ReadArguments(GetParam().args, s);
  EXPECT_EQ(ArgumentErrors(s), GetParam().errors);
}

const char kOnlyOne[] = ": give only one of /c, /d, /verify and /estimate";

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedArguments,
    ::testing::Values(
        RefusalCase{"KnownOnesPass", {"/c", "/TABLE=t", "/FIELD=f", "-key=k", "/GUI=0", "/THREADS=2"}, {}},
        RefusalCase{"SameCommandTwice", {"/c", "-compress", "C"}, {}},
        RefusalCase{"SwappedLetters",
                    {"/c", "/TABEL=tqz_documents", "/FEILD=acContent"},
                    {"Unknown argument '/TABEL=tqz_documents' (did you mean /TABLE=?)",
                     "Unknown argument '/FEILD=acContent' (did you mean /FIELD=?)"}},
        RefusalCase{"ValueSwitchWithoutEquals", {"/TABLE", "/gui"},
                    {"Unknown argument '/TABLE' (did you mean /TABLE=?)",
                     "Unknown argument '/gui' (did you mean /GUI=?)"}},
        RefusalCase{"OneLetterTooMany", {"/TABLES=x", "/IPP=host"},
                    {"Unknown argument '/TABLES=x' (did you mean /TABLE=?)",
                     "Unknown argument '/IPP=host' (did you mean /IP=?)"}},
        RefusalCase{"StartOfALongName", {"/comp", "/decomp", "/estim"},
                    {"Unknown argument '/comp' (did you mean /compress?)",
                     "Unknown argument '/decomp' (did you mean /decompress?)",
                     "Unknown argument '/estim' (did you mean /estimate?)"}},
        RefusalCase{"TwoDashes", {"--c", "--TABLE=t"},
                    {"Unknown argument '--c' (did you mean /c?)",
                     "Unknown argument '--TABLE=t' (did you mean /TABLE=?)"}},
        // Short names are suggested only when written exactly: /x is no /c.
        RefusalCase{"NothingClose", {"hello", "/x", "/x=1", "/USER=sa", "/"},
                    {"Unknown argument 'hello'", "Unknown argument '/x'", "Unknown argument '/x=1'",
                     "Unknown argument '/USER=sa'", "Unknown argument '/'"}},
        RefusalCase{"CompressAndDecompress", {"/c", "/d"},
                    {std::string("Conflicting commands '/c' (compress) and '/d' (decompress)") + kOnlyOne}},
        RefusalCase{"EstimateAndDecompress", {"/estimate", "/TABLE=t", "-D"},
                    {std::string("Conflicting commands '/estimate' (estimate) and '-D' (decompress)") + kOnlyOne}},
        RefusalCase{"VerifyAndCompress", {"/verify", "/verify", "compress"},
                    {std::string("Conflicting commands '/verify' (verify) and 'compress' (compress)") + kOnlyOne}},
        RefusalCase{"UnknownAndConflicting", {"/c", "/TABEL=x", "/verify"},
                    {"Unknown argument '/TABEL=x' (did you mean /TABLE=?)",
                     std::string("Conflicting commands '/c' (compress) and '/verify' (verify)") + kOnlyOne}}),
    [](const auto& info) { return std::string(info.param.title); });

struct InformationCase {
  const char* arg;
  bool help, version;
};

class InformationSwitches : public ::testing::TestWithParam<InformationCase> {};

TEST_P(InformationSwitches, AskForHelpOrTheVersion) {
  ToolSettings s;
  ReadArguments({GetParam().arg}, s);
  EXPECT_EQ(s.help, GetParam().help) << GetParam().arg;
  EXPECT_EQ(s.version, GetParam().version) << GetParam().arg;
  EXPECT_EQ(s.unknown_arguments.empty(), GetParam().help || GetParam().version) << GetParam().arg;
}

INSTANTIATE_TEST_SUITE_P(Table, InformationSwitches,
                         ::testing::Values(InformationCase{"--help", true, false}, InformationCase{"-h", true, false},
                                           InformationCase{"/?", true, false}, InformationCase{"/HELP", true, false},
                                           InformationCase{"--version", false, true},
                                           InformationCase{"/Version", false, true},
                                           InformationCase{"---help", false, false},
                                           InformationCase{"--h=1", false, false},
                                           InformationCase{"/helpme", false, false}));

// Every spelling the switch list shows is one the loop takes, with a value
// where it shows one.
TEST(SwitchList, ShowsOnlySpellingsTheLoopTakes) {
  std::istringstream lines(SwitchListText());
  int listed = 0;
  for (std::string line; std::getline(lines, line);) {
    ASSERT_EQ(line.rfind("  ", 0), 0u) << line;
    const std::string spellings = line.substr(2, line.find("  ", 2) - 2);
    std::istringstream words(spellings);
    for (std::string word; words >> word;) {
      if (word.back() == ',') word.pop_back();
      // "/IP=<server>": the value as a user writes one.
      if (const size_t equals = word.find('='); equals != std::string::npos) word = word.substr(0, equals + 1) + "x";
      ToolSettings s;
      ReadArguments({word}, s);
      EXPECT_TRUE(s.unknown_arguments.empty()) << word;
      ++listed;
    }
  }
  EXPECT_GE(listed, 21);
}

// ---- The pass's own switches ----------------------------------------------

struct PassSwitchCase {
  const char* title;
  std::vector<std::string> args;
  bool valid;
  int threads, batch, timeout;  // when valid
  const char* error;            // the start of the error otherwise
};

void PrintTo(const PassSwitchCase& c, std::ostream* os) { *os << c.title; }

class PassSwitches : public ::testing::TestWithParam<PassSwitchCase> {};

TEST_P(PassSwitches, AreReadAfterTheTwelveTestsAndChecked) {
  const PassSwitchCase& c = GetParam();
  ToolSettings settings;
  ReadArguments(c.args, settings);
  TRecompressOptions options;
  std::string error;
  ASSERT_EQ(PassOptionsFrom(settings, options, error), c.valid) << error;
  if (c.valid) {
    EXPECT_EQ(options.threads, c.threads);
    EXPECT_EQ(options.batch_rows, c.batch);
    EXPECT_EQ(options.timeout_seconds, c.timeout);
    EXPECT_EQ(error, "");
  } else {
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
  }
  // The usual settings are untouched by the new switches.
  EXPECT_EQ(settings.table, "");
  EXPECT_EQ(settings.key, "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, PassSwitches,
    ::testing::Values(
        PassSwitchCase{"Defaults", {"/c"}, true, 0, 1, kDefaultTimeoutSeconds, ""},
        PassSwitchCase{"AllThree", {"/THREADS=4", "-batch=500", "timeout=0"}, true, 4, 500, 0, ""},
        PassSwitchCase{"LastWins", {"/THREADS=x", "/threads=2"}, true, 2, 1, kDefaultTimeoutSeconds, ""},
        PassSwitchCase{"ThreadsZero", {"/THREADS=0"}, false, 0, 0, 0, "Invalid value for /THREADS=: '0'"},
        PassSwitchCase{"ThreadsAtTheLimit", {"/THREADS=64"}, true, 64, 1, kDefaultTimeoutSeconds, ""},
        PassSwitchCase{"ThreadsAboveTheLimit", {"/THREADS=65"}, false, 0, 0, 0,
                       "Invalid value for /THREADS=: '65' (a whole number of threads, 1 to 64)"},
        PassSwitchCase{"ThreadsHuge", {"/THREADS=999999999"}, false, 0, 0, 0, "Invalid value for /THREADS=: '999999999'"},
        PassSwitchCase{"ThreadsEmpty", {"/THREADS="}, false, 0, 0, 0, "Invalid value for /THREADS=: ''"},
        PassSwitchCase{"BatchNegative", {"/BATCH=-5"}, false, 0, 0, 0, "Invalid value for /BATCH=: '-5'"},
        PassSwitchCase{"BatchZero", {"/BATCH=0"}, false, 0, 0, 0, "Invalid value for /BATCH=: '0'"},
        PassSwitchCase{"TimeoutWord", {"/TIMEOUT=soon"}, false, 0, 0, 0, "Invalid value for /TIMEOUT=: 'soon'"},
        PassSwitchCase{"TimeoutFraction", {"/TIMEOUT=1.5"}, false, 0, 0, 0, "Invalid value for /TIMEOUT=: '1.5'"},
        PassSwitchCase{"TimeoutHuge", {"/TIMEOUT=99999999999"}, false, 0, 0, 0, "Invalid value for /TIMEOUT="},
        PassSwitchCase{"RateZero", {"/MAXRATE=0"}, false, 0, 0, 0,
                       "Invalid value for /MAXRATE=: '0' (MB per second, more than 0; a decimal point is allowed)"},
        PassSwitchCase{"RateNegative", {"/MAXRATE=-2"}, false, 0, 0, 0, "Invalid value for /MAXRATE=: '-2'"},
        PassSwitchCase{"RateWord", {"/MAXRATE=fast"}, false, 0, 0, 0, "Invalid value for /MAXRATE=: 'fast'"},
        PassSwitchCase{"RateEmpty", {"/MAXRATE="}, false, 0, 0, 0, "Invalid value for /MAXRATE=: ''"},
        PassSwitchCase{"RateWithUnit", {"/MAXRATE=5MB"}, false, 0, 0, 0, "Invalid value for /MAXRATE=: '5MB'"},
        PassSwitchCase{"RateExponent", {"/MAXRATE=1e3"}, false, 0, 0, 0, "Invalid value for /MAXRATE=: '1e3'"},
        PassSwitchCase{"LogLimitZero", {"/LOGLIMIT=0"}, false, 0, 0, 0,
                       "Invalid value for /LOGLIMIT=: '0' (a whole percentage of the transaction log, 1 to 99)"},
        PassSwitchCase{"LogLimitFull", {"/LOGLIMIT=100"}, false, 0, 0, 0, "Invalid value for /LOGLIMIT=: '100'"},
        PassSwitchCase{"LogLimitFraction", {"/LOGLIMIT=80.5"}, false, 0, 0, 0, "Invalid value for /LOGLIMIT=: '80.5'"},
        PassSwitchCase{"LogLimitPercentSign", {"/LOGLIMIT=80%"}, false, 0, 0, 0, "Invalid value for /LOGLIMIT=: '80%'"},
        // "/T..." names nothing of the twelve: only the whole prefix matches.
        PassSwitchCase{"PrefixOnly", {"/THREAD=3", "/BATCHES=3"}, true, 0, 1, kDefaultTimeoutSeconds, ""}),
    [](const auto& info) { return std::string(info.param.title); });

// The rate and the log limit, as any prefix and case, the last one winning.
TEST(PassSwitches, TakeADecimalRateAndAWholeLogLimit) {
  struct Case {
    std::vector<std::string> args;
    double rate;
    int log_limit;
  };
  const Case cases[] = {
      {{"/c"}, 0, 0},
      {{"/MAXRATE=12.5", "-loglimit=80"}, 12.5, 80},
      {{"maxrate=0.25", "/LogLimit=1"}, 0.25, 1},
      {{"/MAXRATE=x", "/MAXRATE=3", "/LOGLIMIT=100", "/LOGLIMIT=99"}, 3, 99},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    ToolSettings settings;
    ReadArguments(c.args, settings);
    EXPECT_TRUE(settings.unknown_arguments.empty());
    TRecompressOptions options;
    std::string error;
    ASSERT_TRUE(PassOptionsFrom(settings, options, error)) << error;
    EXPECT_DOUBLE_EQ(options.max_rate_mb_per_s, c.rate);
    EXPECT_EQ(options.log_limit_percent, c.log_limit);
  }
}

TEST(ArgumentLoop, SinkReceivesConnectionValuesInOrder) {
  std::vector<std::pair<ConnectionValue, std::string>> got;
  ToolSettings s;
  ReadArguments({"/U=a", "/IP=h", "/TABLE=t", "/P=", "/DB=d", "/U="}, s,
                [&](ConnectionValue which, const std::string& value) { got.emplace_back(which, value); });
  const std::vector<std::pair<ConnectionValue, std::string>> expected = {
      {ConnectionValue::Username, "a"}, {ConnectionValue::Server, "h"},
      {ConnectionValue::Password, ""},  {ConnectionValue::DatabaseName, "d"},
      {ConnectionValue::Username, ""}};
  EXPECT_EQ(got, expected);
}

TEST(ProcessArguments, AreTheWordsAfterTheProgramName) {
  const char* argv[] = {"/usr/bin/tersify", "/c", "/TABLE=a b"};
  SetProcessArguments(3, argv);
  EXPECT_EQ(ProcessArguments(), (std::vector<std::string>{"/c", "/TABLE=a b"}));
  SetProcessArguments(1, argv);
  EXPECT_TRUE(ProcessArguments().empty());
}

// ---- Usage text and halting -------------------------------------------------

const char* const kUsageLines[] = {
    "Usage params:",
    "/c or /compress - compress data",
    "/d or /decompress - decompress data",
    "/IP=<server>",
    "/DB=<databasename>",
    "/U=<username>",
    "/P=<password>",
    "/TABLE=<Tablename>",
    "/FIELD=<fieldname> - field in <tablename> to compress/decompress, default=tqz_reports,acReportData",
    "/KEY=<fieldname> - key field name"};

TEST(UsageText, IsTheTenLinesJoinedByCrLf) {
  EXPECT_EQ(UsageText.size(), 302u);
  TStringList lines;
  lines.SetText(UsageText);
  ASSERT_EQ(lines.Count(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(lines[i], kUsageLines[i]);
  EXPECT_EQ(UsageText.find('\n'), UsageText.find("\r\n") + 1);  // no bare LF
  EXPECT_NE(UsageText.substr(UsageText.size() - 2), "\r\n");
  EXPECT_EQ(UsageText.find("GUI"), std::string::npos);
}

struct Halted {
  int code;
};

class HaltTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetHaltFunction([](int code) { throw Halted{code}; });
  }
  void TearDown() override {
    SetHaltFunction(previous_);
    SetCurrentUserInterface(nullptr);
  }
  HaltFunction previous_ = nullptr;
};

// Records message boxes instead of showing them.
class RecordingUi : public UserInterface {
 public:
  struct Box {
    std::string caption, text;
    TMsgDlgType kind;
  };
  explicit RecordingUi(std::vector<Box>* boxes) : boxes_(boxes) {}
  void ShowMessage(const std::string& c, const std::string& t, TMsgDlgType k) override {
    boxes_->push_back({c, t, k});
  }
  bool LoginPrompt(std::string&, std::string&, std::string&, std::string&) override { return true; }
  void CreateMainWindow(const std::string&, const std::string&, const std::string&) override {}
  void RunMessageLoop() override {}

 private:
  std::vector<Box>* boxes_;
};

int HaltCode(bool interactive, const std::string& msg) {
  try {
    ShowUsageAndHalt(interactive, msg);
  } catch (const Halted& h) {
    return h.code;
  }
  return -1;
}

TEST_F(HaltTest, ConsoleModeWritesMessageBlankLineAndUsageToStandardOutput) {
  std::vector<RecordingUi::Box> boxes;
  SetCurrentUserInterface(std::make_unique<RecordingUi>(&boxes));
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int code = HaltCode(false, "Missing command");
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, 1);
  EXPECT_EQ(out, "Missing command\r\n\r\n" + UsageText + "\n");
  EXPECT_EQ(err, "");
  EXPECT_TRUE(boxes.empty()) << "console mode never shows a message box";
}

TEST_F(HaltTest, EmptyMessageGivesTheUsageTextAlone) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(HaltCode(false, ""), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), UsageText + "\n");
}

TEST_F(HaltTest, InteractiveModeShowsAnErrorBoxWithoutIcon) {
  std::vector<RecordingUi::Box> boxes;
  SetCurrentUserInterface(std::make_unique<RecordingUi>(&boxes));
  ::testing::internal::CaptureStdout();
  const int code = HaltCode(true, "Unable to connect - Missing or incorrect database params");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(code, 1);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].kind, TMsgDlgType::mtCustom);
  EXPECT_EQ(boxes[0].text,
            "Unable to connect - Missing or incorrect database params\r\n\r\n" + UsageText);
}

TEST_F(HaltTest, InteractiveModeWithoutDisplayFallsBackToTheConsole) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(HaltCode(true, "Missing tablename"), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Missing tablename\r\n\r\n" + UsageText + "\n");
}

TEST(ConsoleUserInterface, WritesTextWithOneLineEndAndCancelsTheLoginPrompt) {
  std::ostringstream out;
  ConsoleUserInterface ui(out);
  ui.ShowMessage("Caption", "line1\r\nline2", TMsgDlgType::mtError);
  EXPECT_EQ(out.str(), "line1\r\nline2\n");
  std::string user = "u", password = "p", server = "s", database = "d";
  EXPECT_FALSE(ui.LoginPrompt(user, password, server, database));
  EXPECT_EQ(user + password + server + database, "upsd");
}

TEST(CurrentUserInterface, IsReplacedAndRestored) {
  std::vector<RecordingUi::Box> boxes;
  auto owned = std::make_unique<RecordingUi>(&boxes);
  UserInterface* recording = owned.get();
  std::unique_ptr<UserInterface> console = SetCurrentUserInterface(std::move(owned));
  ASSERT_NE(dynamic_cast<ConsoleUserInterface*>(console.get()), nullptr);
  EXPECT_EQ(&CurrentUserInterface(), recording);
  CurrentUserInterface().ShowMessage("c", "t", TMsgDlgType::mtWarning);
  EXPECT_EQ(boxes.size(), 1u);
  std::unique_ptr<UserInterface> back = SetCurrentUserInterface(nullptr);
  EXPECT_EQ(back.get(), recording);
  EXPECT_NE(dynamic_cast<ConsoleUserInterface*>(&CurrentUserInterface()), nullptr);
}


// /FROM=, /MINUTES=, /UNTIL= and /REPORT= keep their text as written (case,
// blanks, '=' inside), in any letter case of the switch, the later one winning.
TEST(ResumeSwitches, KeepTheirTextAndTheLaterOneWins) {
  ToolSettings s;
  ReadArguments({"/from=a", "-FROM=it's a = b", "/Minutes=1", "/MINUTES=2.5", "/until=06:30", "/REPORT=a.json",
                 "/report=Run 1.JSON"},
                s);
  EXPECT_TRUE(s.unknown_arguments.empty());
  EXPECT_EQ(s.from, "it's a = b");
  EXPECT_EQ(s.minutes, "2.5");
  EXPECT_EQ(s.until, "06:30");
  EXPECT_EQ(s.report, "Run 1.JSON");
  ToolSettings none;
  ReadArguments({"/FROM", "/MINUTE=1", "/UNTILL=1"}, none);
  EXPECT_FALSE(none.from.has_value());
  EXPECT_FALSE(none.minutes.has_value());
  EXPECT_FALSE(none.until.has_value());
  EXPECT_EQ(none.unknown_arguments.size(), 3u);
  EXPECT_EQ(NearestKnownSwitch("/MINUTE=1"), "/MINUTES=");
}

}  // namespace
}  // namespace tersify
