#include "tool/console/command_line.h"

#include <cstdlib>
#include <iostream>

#include "framework/rtl/platform.h"
#include "framework/rtl/strings.h"
#include "tool/console/console_ui.h"
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

void ReadArguments(const std::vector<std::string>& Args, ToolSettings& Settings,
                   const ConnectionValueSink& Sink) {
  auto connection = [&](ConnectionValue which, std::string& field, const std::string& value) {
    field = value;
    if (Sink) Sink(which, value);
  };
  for (const std::string& word : Args) {
    std::string value = word;
    if (CheckParamSwitch(word, "C") || CheckParamSwitch(word, "COMPRESS"))
      Settings.command = cmdCompress;
    else if (CheckParamSwitch(word, "D") || CheckParamSwitch(word, "DECOMPRESS"))
      Settings.command = cmdDecompress;
    else if (CheckParamValue(value, "U="))
      connection(ConnectionValue::Username, Settings.user, value);
    else if (CheckParamValue(value, "P="))
      connection(ConnectionValue::Password, Settings.password, value);
    else if (CheckParamValue(value, "IP="))
      connection(ConnectionValue::Server, Settings.server, value);
    else if (CheckParamValue(value, "DB="))
      connection(ConnectionValue::DatabaseName, Settings.database, value);
    else if (CheckParamValue(value, "TABLE="))
      Settings.table = value;
    else if (CheckParamValue(value, "FIELD="))
      Settings.field = value;
    else if (CheckParamValue(value, "KEY="))
      Settings.key = value;
    else if (CheckParamValue(value, "GUI="))
      Settings.interactive = value == "1";
    else if (CheckParamValue(value, "THREADS="))
      Settings.threads = value;
    else if (CheckParamValue(value, "BATCH="))
      Settings.batch = value;
    else if (CheckParamValue(value, "TIMEOUT="))
      Settings.timeout = value;
    else if (CheckParamSwitch(word, "VERIFY"))
      Settings.command = cmdVerify;
    else if (CheckParamSwitch(word, "ESTIMATE"))
      Settings.command = cmdEstimate;
    else if (CheckParamValue(value, "SAMPLE="))
      Settings.sample = value;
  }
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
  };
  for (const Switch& s : switches) {
    if (!s.text) continue;
    if (!ReadCount(*s.text, s.least, s.most, s.target)) {
      Error = std::string("Invalid value for ") + s.name + ": '" + *s.text + "' (" + s.wanted + ")";
      return false;
    }
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
