#pragma once
// The command line: the argument matchers, the tool's settings, the argument
// loop, the usage text and the routine that ends the process with a message
// and exit code 1.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tersify {

// The ten usage lines joined by CR LF, without a line end after the last (302 characters).
extern const std::string UsageText;

// Commands.
inline constexpr int32_t cmdNone = 0;
inline constexpr int32_t cmdCompress = 1;
inline constexpr int32_t cmdDecompress = 2;
// Reads every value and checks the envelopes; writes nothing.
inline constexpr int32_t cmdVerify = 3;
// A dry run of a compress pass; writes nothing.
inline constexpr int32_t cmdEstimate = 4;

// What the command line sets. The four connection values are also handed to
// the argument loop's sink as they are found.
struct ToolSettings {
  int32_t command = cmdNone;
  bool interactive = true;
  std::string table;
  std::string field;
  std::string key;
  std::string user;
  std::string password;
  std::string server;
  std::string database;
  // /THREADS=, /BATCH=, /TIMEOUT= as given (the last of each kind), read by PassOptionsFrom.
  std::optional<std::string> threads;
  std::optional<std::string> batch;
  std::optional<std::string> timeout;
  // /FROM=, /MINUTES=, /UNTIL= and /REPORT= as given (the last of each kind).
  std::optional<std::string> from;
  std::optional<std::string> minutes;
  std::optional<std::string> until;
  std::optional<std::string> report;
  // /MAXRATE= and /LOGLIMIT= as given (the last of each), read by PassOptionsFrom.
  std::optional<std::string> max_rate;
  std::optional<std::string> log_limit;
  // The /SAMPLE= value as given; empty when not given.
  std::optional<std::string> sample;
  // Whether a /P= argument was given at all (an empty one included): a
  // password left out may come from TERSIFY_PASSWORD or a prompt.
  bool password_given = false;
  // --help, -h, /? and --version: the run prints and ends without connecting.
  bool help = false;
  bool version = false;
  // Arguments that matched no switch, as written.
  std::vector<std::string> unknown_arguments;
  // Every command argument (/c, /d, /verify, /estimate) as written, with its command.
  std::vector<std::pair<int32_t, std::string>> command_arguments;
};

struct TRecompressOptions;
// Fills options from the /THREADS=, /BATCH=, /TIMEOUT=, /MAXRATE= and
// /LOGLIMIT= values of settings (a timeout not given is 30 seconds), the
// /FROM= key, and the time limit of /MINUTES= and /UNTIL= counted from now
// (the earlier of the two when both are given). False, with error set, for a
// count that is no whole number, is negative, or is 0 for /THREADS= or
// /BATCH=; for a /MAXRATE= that is no decimal number above 0; for a
// /LOGLIMIT= that is no whole number from 1 to 99; for minutes that are no
// positive number, and for a time of day that is no HH:MM.
bool PassOptionsFrom(const ToolSettings& Settings, TRecompressOptions& Options, std::string& Error);

// Seconds a statement of a console pass may run unless /TIMEOUT= says otherwise.
inline constexpr int kDefaultTimeoutSeconds = 30;

enum class ConnectionValue { Username, Password, Server, DatabaseName };
// Receives /U=, /P=, /IP= and /DB= values in the order they are found (later
// ones override earlier ones; an empty value replaces an earlier one).
using ConnectionValueSink = std::function<void(ConnectionValue Which, const std::string& Value)>;

// True when Arg, less one leading '-' or '/', equals Name as a whole, compared
// in the user's locale with case ignored ("/Compress" matches "COMPRESS",
// "/comp" and "--c" do not).
bool CheckParamSwitch(const std::string& Arg, const std::string& Name);

// Name is an upper-case prefix ending in '=' ("TABLE="). True when Arg, less
// one leading '-' or '/', begins with Name (ASCII case ignored); Arg is then
// replaced by the rest after Name, case kept. No match leaves Arg unchanged.
bool CheckParamValue(std::string& Arg, const std::string& Name);

// Reads the arguments (the process's words after the program name) in order
// into settings, through the table of known switches (command_line.cpp): the
// first switch that matches an argument decides, and of a switch given twice
// the later value wins. An argument that matches none is kept in
// unknown_arguments; every command argument in command_arguments. Settings
// keep their values where no argument sets them. sink may be empty.
void ReadArguments(const std::vector<std::string>& Args, ToolSettings& Settings,
                   const ConnectionValueSink& Sink = {});

// Why the arguments read into Settings cannot run, one line each for standard
// error: every unknown argument (with the nearest known switch when one is
// close), and two different commands. Empty when nothing is wrong.
std::vector<std::string> ArgumentErrors(const ToolSettings& Settings);

// The known switch nearest to Arg ("/TABLE=" for "/TABEL=x", "/compress" for
// "/comp"), as the help spells it; empty when none is close.
std::string NearestKnownSwitch(const std::string& Arg);

// The short list of every switch, one line each, for --help.
std::string SwitchListText();

// The process's words after the program name, as given to SetProcessArguments.
void SetProcessArguments(int argc, const char* const* argv);
const std::vector<std::string>& ProcessArguments();

// Msg, CR LF, CR LF and UsageText (UsageText alone when Msg is empty): in a
// message box captioned "Error" without icon when Interactive (through the
// current user interface), else on standard output with one line end. Then
// ends the process with exit code 1 (see Halt). Nothing goes to standard error.
[[noreturn]] void ShowUsageAndHalt(bool Interactive, const std::string& Msg);

// Ends the process with ExitCode after flushing standard output, through the
// installed halt function (std::exit, which runs the unit finalisations).
[[noreturn]] void Halt(int ExitCode);

// A halt function must not return (tests install one that throws); should one
// return, the process ends with std::exit all the same.
using HaltFunction = void (*)(int ExitCode);
// Installs f (nullptr: std::exit) and returns the previous one.
HaltFunction SetHaltFunction(HaltFunction f);

}  // namespace tersify
