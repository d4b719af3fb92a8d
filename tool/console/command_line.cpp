#include "tool/console/command_line.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "framework/rtl/platform.h"
#include "framework/rtl/strings.h"
#include "tool/console/console_ui.h"
#include "tool/console/time_limit.h"
#include "tool/pass/options.h"
#include "tool/user_interface.h"

namespace tersify {
namespace {

// Drops exactly one leading '-' or '/'.
std::string WithoutSwitchChar(const std::string& arg) {
  if (!arg.empty() && (arg[0] == '-' || arg[0] == '/')) return arg.substr(1);
  return arg;
}

std::vector<std::string>& Arguments() {
  static std::vector<std::string> args;
  return args;
}

HaltFunction& CurrentHalt() {
  static HaltFunction halt = nullptr;
  return halt;
}

}  // namespace

const std::string UsageText = std::string("Usage params:") + sLineBreak +
                              "/c or /compress - compress data" + sLineBreak +
                              "/d or /decompress - decompress data" + sLineBreak +
                              "/IP=<server>" + sLineBreak +
                              "/DB=<databasename>" + sLineBreak +
                              "/U=<username>" + sLineBreak +
                              "/P=<password>" + sLineBreak +
                              "/TABLE=<Tablename>" + sLineBreak +
                              "/FIELD=<fieldname> - field in <tablename> to compress/decompress, "
                              "default=tqz_reports,acReportData" + sLineBreak +
                              "/KEY=<fieldname> - key field name";

bool CheckParamSwitch(const std::string& Arg, const std::string& Name) {
  return AnsiCompareText(WithoutSwitchChar(Arg), Name) == 0;
}

bool CheckParamValue(std::string& Arg, const std::string& Name) {
  std::string rest = WithoutSwitchChar(Arg);
  if (UpperCase(rest.substr(0, Name.size())) != Name) return false;
  Arg = rest.substr(Name.size());
  return true;
}

namespace {

using ApplyValue = void (*)(ToolSettings&, const std::string& value);

// One known switch. Its spellings as the help shows them, separated by blanks;
// one ending in '=' takes a value (matched by CheckParamValue), the others are
// whole switches (CheckParamSwitch). A command switch sets its command, a
// connection value goes to the sink as well, every other switch applies its value.
struct KnownSwitch {
  const char* spellings;
  const char* value;  // what follows the '=' in the help: "<table>"
  const char* help;
  int32_t command = cmdNone;
  std::optional<ConnectionValue> connection;
  ApplyValue apply = nullptr;
  bool double_dash = false;  // "--help" matches as well as "/help"
};

KnownSwitch Command(const char* spellings, const char* help, int32_t command) {
  return KnownSwitch{spellings, "", help, command, std::nullopt, nullptr, false};
}
KnownSwitch Value(const char* spellings, const char* value, const char* help, ApplyValue apply) {
  return KnownSwitch{spellings, value, help, cmdNone, std::nullopt, apply, false};
}
KnownSwitch Connection(const char* spellings, const char* value, const char* help, ConnectionValue which,
                       ApplyValue apply) {
  return KnownSwitch{spellings, value, help, cmdNone, which, apply, false};
}
// Also with two dashes, as GNU programs take it ("--help").
KnownSwitch Information(const char* spellings, const char* help, ApplyValue apply) {
  return KnownSwitch{spellings, "", help, cmdNone, std::nullopt, apply, true};
}

// Every switch the program knows, in the order the help lists them. The loop,
// the nearest-switch suggestion and the help all read this one table.
const std::vector<KnownSwitch>& KnownSwitches() {
  using S = ToolSettings&;
  using V = const std::string&;
  static const std::vector<KnownSwitch> table = {
      Command("/c /compress", "compress the field's plain values", cmdCompress),
      Command("/d /decompress", "decompress the field's compressed values", cmdDecompress),
      Command("/verify", "read every value and check it; writes nothing", cmdVerify),
      Command("/estimate", "estimate what /c would save; writes nothing", cmdEstimate),
      Connection("/IP=", "<server>", "host, host,port, host\\instance, dsn:<name> or sqlite", ConnectionValue::Server,
                 [](S s, V v) { s.server = v; }),
      Connection("/DB=", "<database>", "database name (the file for sqlite)", ConnectionValue::DatabaseName,
                 [](S s, V v) { s.database = v; }),
      Connection("/U=", "<user>", "login name", ConnectionValue::Username, [](S s, V v) { s.user = v; }),
      Connection("/P=", "<password>", "password; /P=- reads it from standard input", ConnectionValue::Password,
                 [](S s, V v) { s.password = v, s.password_given = true; }),
      Value("/TABLE=", "<table>", "the table (default tqz_reports)", [](S s, V v) { s.table = v; }),
      Value("/FIELD=", "<field>", "the blob column (default acReportData)", [](S s, V v) { s.field = v; }),
      Value("/KEY=", "<field>", "the key column (default the primary key)", [](S s, V v) { s.key = v; }),
      Value("/GUI=", "0|1", "1 (default): the window and its dialogs; anything else: the console",
            [](S s, V v) { s.interactive = v == "1"; }),
      Value("/THREADS=", "<n>", "threads that rewrite values (default the cores, at most 8)",
            [](S s, V v) { s.threads = v; }),
      Value("/BATCH=", "<n>", "rows committed together (default 1)", [](S s, V v) { s.batch = v; }),
      Value("/TIMEOUT=", "<seconds>", "longest wait of one statement, 0 for ever (default 30)",
            [](S s, V v) { s.timeout = v; }),
      Value("/FROM=", "<key>", "start after this key (the key /MINUTES= or a cancel printed)",
            [](S s, V v) { s.from = v; }),
      Value("/MINUTES=", "<n>", "stop at a row boundary after n minutes (2.5 allowed); exit code 2",
            [](S s, V v) { s.minutes = v; }),
      Value("/UNTIL=", "<HH:MM>", "stop at a row boundary at this local time; exit code 2",
            [](S s, V v) { s.until = v; }),
      Value("/REPORT=", "<file>", "write an account of the run to this file, as JSON",
            [](S s, V v) { s.report = v; }),
      Value("/MAXRATE=", "<MB/s>", "at most so many MB of stored values read per second",
            [](S s, V v) { s.max_rate = v; }),
      Value("/LOGLIMIT=", "<percent>", "SQL Server: wait while the transaction log is fuller",
            [](S s, V v) { s.log_limit = v; }),
      Value("/SAMPLE=", "<percent>", "share of the rows /estimate reads (default 100)", [](S s, V v) { s.sample = v; }),
      Information("/help -h /?", "this text", [](S s, V) { s.help = true; }),
      Information("/version", "the versions of tersify and its libraries", [](S s, V) { s.version = true; }),
  };
  return table;
}

std::vector<std::string> SpellingsOf(const KnownSwitch& known) {
  std::vector<std::string> words;
  std::istringstream in(known.spellings);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The name a matcher compares with: "TABLE=" for "/TABLE=", "C" for "/c".
std::string MatchName(const std::string& spelling) { return UpperCase(WithoutSwitchChar(spelling)); }

bool TakesValue(const std::string& spelling) { return !spelling.empty() && spelling.back() == '='; }

// Whether word is one of the switch's spellings; value then holds its value.
bool Matches(const KnownSwitch& known, const std::string& word, std::string& value) {
  for (const std::string& spelling : SpellingsOf(known)) {
    const std::string name = MatchName(spelling);
    value = word;
    if (TakesValue(spelling) ? CheckParamValue(value, name) : CheckParamSwitch(word, name)) return true;
    if (known.double_dash && word.size() > 2 && word.compare(0, 2, "--") == 0 &&
        CheckParamSwitch(word.substr(1), name))
      return true;
  }
  return false;
}

// Edits (insert, delete, replace, swap two neighbours) that turn a into b.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

const char* CommandName(int32_t command) {
  switch (command) {
    case cmdCompress: return "compress";
    case cmdDecompress: return "decompress";
    case cmdVerify: return "verify";
    case cmdEstimate: return "estimate";
    default: return "none";
  }
}

}  // namespace

void ReadArguments(const std::vector<std::string>& Args, ToolSettings& Settings,
                   const ConnectionValueSink& Sink) {
  for (const std::string& word : Args) {
    std::string value;
    const auto known = std::find_if(KnownSwitches().begin(), KnownSwitches().end(),
                                    [&](const KnownSwitch& k) { return Matches(k, word, value); });
    if (known == KnownSwitches().end()) {
      Settings.unknown_arguments.push_back(word);
      continue;
    }
    if (known->command != cmdNone) {
      Settings.command = known->command;
      Settings.command_arguments.emplace_back(known->command, word);
      continue;
    }
    known->apply(Settings, value);
    if (known->connection && Sink) Sink(*known->connection, value);
  }
}

std::string NearestKnownSwitch(const std::string& Arg) {
  // Any number of leading dashes and slashes, and the letter case, do not count.
  std::string word = UpperCase(Arg.substr(std::min(Arg.find_first_not_of("-/"), Arg.size())));
  const size_t equals = word.find('=');
  if (equals != std::string::npos) word.resize(equals + 1);
  if (word.empty() || word == "=") return {};
  std::string nearest;
  size_t best = std::string::npos;
  for (const KnownSwitch& known : KnownSwitches()) {
    for (const std::string& spelling : SpellingsOf(known)) {
      const std::string name = MatchName(spelling);
      size_t distance = EditDistance(word, name);
      // The start of a long name ("/comp", "/decomp") is as close as one edit.
      if (word.size() >= 3 && name.size() > word.size() && name.compare(0, word.size(), word) == 0) distance = 1;
      // A value switch written without its '=' ("/U", "/TABLE") is the switch.
      if (name == word + "=") distance = 0;
      // One letter off a short name is another name ("/x" is no "/c").
      const size_t allowed = name.size() <= 2 ? 0 : name.size() <= 4 ? 1 : 2;
      if (distance <= allowed && distance < best) {
        best = distance;
        nearest = spelling;
      }
    }
  }
  return nearest;
}

std::vector<std::string> ArgumentErrors(const ToolSettings& Settings) {
  std::vector<std::string> errors;
  for (const std::string& word : Settings.unknown_arguments) {
    std::string line = "Unknown argument '" + word + "'";
    if (const std::string nearest = NearestKnownSwitch(word); !nearest.empty())
      line += " (did you mean " + nearest + "?)";
    errors.push_back(line);
  }
  const auto& commands = Settings.command_arguments;
  for (size_t i = 1; i < commands.size(); ++i) {
    if (commands[i].first == commands[0].first) continue;
    errors.push_back("Conflicting commands '" + commands[0].second + "' (" + CommandName(commands[0].first) +
                     ") and '" + commands[i].second + "' (" + CommandName(commands[i].first) +
                     "): give only one of /c, /d, /verify and /estimate");
    break;
  }
  return errors;
}

std::string SwitchListText() {
  std::string text;
  for (const KnownSwitch& known : KnownSwitches()) {
    std::string left;
    for (const std::string& spelling : SpellingsOf(known)) {
      if (!left.empty()) left += ", ";
      left += spelling + known.value;
    }
    if (known.double_dash) left.replace(0, 1, "--");
    left.resize(std::max<size_t>(left.size() + 2, 22), ' ');
    text += "  " + left + known.help + "\n";
  }
  return text;
}

namespace {

// A whole decimal number from `least` to `most`; false for anything else.
bool ReadCount(const std::string& text, int least, int most, int& out) {
  if (text.empty() || text.size() > 9) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < least || value > most) return false;
  out = value;
  return true;
}

constexpr int kMostCount = 999999999;

// A decimal number above 0 and at most `most` ("2", "0.5", "12.75"); false
// for anything else.
bool ReadPositiveDecimal(const std::string& text, double most, double& out) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  if (text.empty() || error != std::errc() || stop != end || !(value > 0 && value <= most)) return false;
  out = value;
  return true;
}

// The most /MAXRATE= takes: far above any disk, still a finite number of bytes.
constexpr double kMostRateMB = 1000000;

}  // namespace

bool PassOptionsFrom(const ToolSettings& Settings, TRecompressOptions& Options, std::string& Error) {
  struct Switch {
    const std::optional<std::string>& text;
    const char* name;
    int least;
    int most;
    int& target;
    std::string wanted;
  };
  Options.timeout_seconds = kDefaultTimeoutSeconds;
  const Switch switches[] = {
      {Settings.threads, "/THREADS=", 1, kMostAskedPassThreads, Options.threads,
       "a whole number of threads, 1 to " + std::to_string(kMostAskedPassThreads)},
      {Settings.batch, "/BATCH=", 1, kMostCount, Options.batch_rows, "a whole number of rows, 1 or more"},
      {Settings.timeout, "/TIMEOUT=", 0, kMostCount, Options.timeout_seconds,
       "a whole number of seconds, 0 to wait for ever"},
      {Settings.log_limit, "/LOGLIMIT=", 1, 99, Options.log_limit_percent,
       "a whole percentage of the transaction log, 1 to 99"},
  };
  for (const Switch& s : switches) {
    if (!s.text) continue;
    if (!ReadCount(*s.text, s.least, s.most, s.target)) {
      Error = std::string("Invalid value for ") + s.name + ": '" + *s.text + "' (" + s.wanted + ")";
      return false;
    }
  }
  Options.from_key = Settings.from;
  // The time limit counts from now: before the connection and the first row.
  std::optional<double> seconds;
  if (Settings.minutes) {
    double minutes = 0;
    if (!ParseMinutes(*Settings.minutes, minutes)) {
      Error = "Invalid value for /MINUTES=: '" + *Settings.minutes + "' (a number of minutes more than 0, " +
              "a decimal point allowed)";
      return false;
    }
    seconds = minutes * 60;
  }
  if (Settings.until) {
    int hour = 0;
    int minute = 0;
    if (!ParseClockTime(*Settings.until, hour, minute)) {
      Error = "Invalid value for /UNTIL=: '" + *Settings.until + "' (a local time of day, HH:MM, 00:00 to 23:59)";
      return false;
    }
    const double until = SecondsUntilNext(hour, minute, std::time(nullptr));
    seconds = seconds ? std::min(*seconds, until) : until;
  }
  if (seconds)
    Options.stop_at = std::chrono::steady_clock::now() +
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                          std::chrono::duration<double>(*seconds));
  if (Settings.max_rate && !ReadPositiveDecimal(*Settings.max_rate, kMostRateMB, Options.max_rate_mb_per_s)) {
    Error = "Invalid value for /MAXRATE=: '" + *Settings.max_rate +
            "' (MB per second, more than 0; a decimal point is allowed)";
    return false;
  }
  return true;
}

void SetProcessArguments(int argc, const char* const* argv) {
  std::vector<std::string>& args = Arguments();
  args.clear();
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
}

const std::vector<std::string>& ProcessArguments() { return Arguments(); }

void ShowUsageAndHalt(bool Interactive, const std::string& Msg) {
  const std::string text = Msg.empty() ? UsageText : Msg + sLineBreak + sLineBreak + UsageText;
  if (Interactive) {
    CurrentUserInterface().ShowMessage("Error", text, TMsgDlgType::mtCustom);
  } else {
    ConsoleUserInterface console(std::cout);
    console.ShowMessage("Error", text, TMsgDlgType::mtCustom);
  }
  Halt(1);
}

void Halt(int ExitCode) {
  std::cout.flush();
  if (HaltFunction halt = CurrentHalt()) halt(ExitCode);
  // The user interface (Qt's, with the window and its queries) goes before the
  // exit handlers: destroyed with static storage it would outlive Qt's own
  // globals, and the layer shuts down after the window's queries are gone.
  SetCurrentUserInterface(nullptr);
  std::exit(ExitCode);
}

HaltFunction SetHaltFunction(HaltFunction f) {
  HaltFunction previous = CurrentHalt();
  CurrentHalt() = f;
  return previous;
}

}  // namespace tersify
