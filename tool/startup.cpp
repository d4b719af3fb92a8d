#include "tool/startup.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/ms_connection.h"
#include "db/database.h"
#include "db/registries.h"
#include "framework/rtl/application.h"
#include "framework/rtl/console.h"
#include "framework/rtl/exception.h"
#include "tool/console/cancel_signals.h"
#include "tool/console/command_line.h"
#include "tool/console/console_checks.h"
#include "tool/console/console_ui.h"
#include "tool/console/password.h"
#include "tool/console/program_info.h"
#include "tool/pass/options.h"
#include "tool/pass/savings.h"
#include "tool/console/progress_line.h"
#include "tool/recompress.h"
#include "tool/run_report.h"
#include "tool/user_interface.h"

namespace tersify {
namespace {

const char kUnableToConnect[] = "Unable to connect - Missing or incorrect database params";

// TERSIFY_LOGIN_TIMEOUT: seconds a connect may take; the client's default otherwise.
void ApplyLoginTimeout(TvrDatabase& database) {
  const char* text = std::getenv("TERSIFY_LOGIN_TIMEOUT");
  if (!text || !*text) return;
  char* end = nullptr;
  const long seconds = std::strtol(text, &end, 10);
  if (*end != '\0' || seconds <= 0 || seconds > 3600) {
    std::cerr << "TERSIFY_LOGIN_TIMEOUT=" << text << " ignored: expected whole seconds, 1 to 3600"
              << std::endl;
    return;
  }
  database.PrepareConnection();
  if (TMSConnection* client = database.ClientConnection()) client->SetLoginTimeout(static_cast<int>(seconds));
}

// One connection attempt. Standard output keeps only the caller's fixed
// message, so the reason of a failure is handed back for standard error.
std::string Connect(TvrDatabase& database) {
  try {
    database.SetConnected(true);
  } catch (const EAbort&) {
    return {};  // the login prompt was cancelled: no reason of its own
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

const char* CommandWord(int32_t command) {
  switch (command) {
    case cmdCompress: return "compress";
    case cmdDecompress: return "decompress";
    case cmdVerify: return "verify";
    case cmdEstimate: return "estimate";
    default: return "";
  }
}

// The account of the run (/REPORT=), written when the run ends, whatever the
// end, once the arguments are read.
class TRunEnd {
 public:
  explicit TRunEnd(const ToolSettings& settings) : settings_(settings) {
    account_.started = std::chrono::system_clock::now();
  }
  TRunAccount& Account() { return account_; }

  // Writes the account, if asked for; a file that cannot be written is told
  // on standard error and leaves the exit code as it is.
  void Write() {
    if (settings_.report) {
      account_.command = CommandWord(settings_.command);
      account_.server = settings_.server;
      account_.database = settings_.database;
      if (account_.table.empty()) account_.table = settings_.table;
      if (account_.field.empty()) account_.field = settings_.field;
      if (account_.key.empty()) account_.key = settings_.key;
      account_.ended = std::chrono::system_clock::now();
      try {
        WriteRunAccount(*settings_.report, account_);
      } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
      }
    }
  }
  // Ends the process with exit_code after writing the account.
  [[noreturn]] void Halt(int exit_code) {
    Write();
    tersify::Halt(exit_code);
  }
  // A run that ends before its command runs: failed, with the reason.
  [[noreturn]] void Fail(const std::string& reason, int exit_code = 1) {
    account_.end = "failed";
    account_.error = reason;
    Halt(exit_code);
  }

 private:
  const ToolSettings& settings_;
  TRunAccount account_;
};

// The line that tells how to go on after a pass that did not complete, for
// standard error; empty when no row was handled.
std::string ResumeLine(const TRecompressReport& report) {
  if (report.first_key.IsNull() || report.resume_key.IsNull()) return {};
  return "Resume with /FROM=" + ResumeKeyArgument(report.resume_key) + "\n";
}

}  // namespace

int CancelExitCode(int signal_number) {
  // A request that came from no signal ends like an interrupt.
  if (signal_number == kInterruptSignal || signal_number == kTerminateSignal ||
      signal_number == kHangupSignal || signal_number == kQuitSignal)
    return 128 + signal_number;
  return 128 + kInterruptSignal;
}

void RunFromCommandLine() {
  // The default database exists before any argument is read, so that the loop
  // can write the connection values into it and every dataset made later
  // attaches to it.
  TvrDatabase* database = MakeComponent<TvrDatabase>(Application);
  DefaultDatabase = database;

  ToolSettings settings;
  settings.interactive = true;
  settings.command = cmdNone;
  ReadArguments(ProcessArguments(), settings, [database](ConnectionValue which, const std::string& value) {
    switch (which) {
      case ConnectionValue::Username: database->SetUsername(value); break;
      case ConnectionValue::Password: database->SetPassword(value); break;
      case ConnectionValue::Server: database->SetServer(value); break;
      case ConnectionValue::DatabaseName: database->SetDatabaseName(value); break;
    }
  });

  // Help and the version are answered at once, without connecting.
  if (settings.help) {
    std::cout << HelpText();
    Halt(0);
  }
  if (settings.version) {
    std::cout << VersionText();
    Halt(0);
  }
  TRunEnd run_end(settings);

  // A misspelt switch or two commands end the run before any statement: run
  // on, the typo would rewrite another table or the wrong way. Without a
  // command standard output keeps its "Missing command" and the usage text.
  if (const std::vector<std::string> errors = ArgumentErrors(settings); !errors.empty()) {
    for (const std::string& line : errors) std::cerr << line << '\n';
    std::cerr << std::flush;
    if (settings.command == cmdNone && !settings.interactive) ShowUsageAndHalt(false, "Missing command");
    run_end.Fail(errors.front());
  }

  // The pass's own switches: a bad value ends the run before anything else,
  // on standard error, so that standard output keeps its contract.
  TRecompressOptions options;
  std::string options_error;
  if (!PassOptionsFrom(settings, options, options_error)) {
    std::cerr << options_error << std::endl;
    run_end.Fail(options_error);
  }

  double sample_percent = 100;
  if (settings.sample && !ParseSamplePercent(*settings.sample, sample_percent)) {
    const std::string error = "Invalid value for /SAMPLE=: '" + *settings.sample +
                              "' (a percentage of the rows, more than 0 and at most 100)";
    std::cerr << error << std::endl;
    run_end.Fail(error);
  }

  if (settings.command == cmdNone && !settings.interactive) ShowUsageAndHalt(false, "Missing command");

  // A password kept off the command line. Only the console asks on the
  // terminal; the window has its own login dialog.
  try {
    const bool console = dynamic_cast<ConsoleUserInterface*>(&CurrentUserInterface()) != nullptr;
    if (std::optional<std::string> password = ResolvePassword(settings, ProcessPasswordSources(console)))
      database->SetPassword(*password);
  } catch (const std::exception& e) {
    std::cerr << e.what() << std::endl;
    run_end.Fail(e.what());
  }

  // Console mode makes one attempt; interactive mode may try once more through
  // the client's login prompt.
  ApplyLoginTimeout(*database);
  std::string reason = Connect(*database);
  if (!database->Connected()) {
    if (settings.interactive) {
      database->SetConnectionPrompt(true);
      CurrentUserInterface().NoteFailedLogin(reason);
      if (std::string again = Connect(*database); !again.empty()) reason = std::move(again);
      // A user who cancelled the prompt has given up on connecting: no usage text.
      if (!database->Connected() && CurrentUserInterface().LoginCancelledByUser()) {
        std::cerr << "No connection: the login was cancelled" << std::endl;
        run_end.Fail("No connection: the login was cancelled");
      }
    }
    if (!database->Connected()) {
      if (!reason.empty()) std::cerr << "Connection failed: " << reason << std::endl;
      // The usage text ends the process: the account is written first.
      run_end.Account().end = "failed";
      run_end.Account().error = reason.empty() ? kUnableToConnect : "Connection failed: " + reason;
      run_end.Write();
      ShowUsageAndHalt(settings.interactive, kUnableToConnect);
    }
  }

  std::string table = settings.table;
  std::string field = settings.field;
  std::string key = settings.key;
  if (table.empty() && field.empty()) {
    table = "tqz_reports";
    field = "acReportData";
    key = "acReport";
  }
  if (table.empty() && !settings.interactive) ShowUsageAndHalt(false, "Missing tablename");
  if (field.empty() && !settings.interactive) ShowUsageAndHalt(false, "Missing fieldname");

  run_end.Account().table = table;
  run_end.Account().field = field;
  run_end.Account().key = key;
  if (settings.command == cmdVerify && !table.empty() && !field.empty())
    run_end.Halt(RunVerifyCommand(settings.interactive, table, field, key, options, &run_end.Account()));
  if (settings.command == cmdEstimate && !table.empty() && !field.empty())
    run_end.Halt(RunEstimateCommand(settings.interactive, table, field, key, options, sample_percent,
                                    &run_end.Account()));
  if (settings.command != cmdNone && !table.empty() && !field.empty()) {
    int32_t processed = 0;
    int32_t skipped = 0;
    // A live progress line on standard error, only on a terminal; standard
    // output keeps exactly the summary line.
    std::unique_ptr<TProgressLine> progress;
    if (IsTerminal(2)) progress = std::make_unique<TProgressLine>(std::cerr);
    TRecompressReport report;
    bool completed;
    {
      // SIGINT and SIGTERM stop the pass between rows while it runs.
      const PassCancelSignals cancel_signals;
      completed = RecompressTable(settings.interactive, settings.command, table, field, key,
                                  TRecompressProgressEvent(), processed, skipped, progress.get(),
                                  options, &report);
    }
    progress.reset();
    TakePassReport(report, processed, skipped, run_end.Account());
    if (report.end == TPassEnd::Stopped) {
      std::cout << "Stopped at the time limit, " << processed << " records processed, " << skipped
                << " records skipped" << std::endl;
      std::cerr << ResumeLine(report) << PassNotes(report) << std::flush;
      run_end.Halt(kStoppedExitCode);
    }
    if (report.end == TPassEnd::Cancelled) {
      std::cout << "Cancelled, " << processed << " records processed, " << skipped << " records skipped"
                << std::endl;
      std::cerr << ResumeLine(report) << PassNotes(report) << std::flush;
      run_end.Halt(CancelExitCode(report.cancel_signal));
    }
    if (!completed) {
      std::cerr << CountOf(processed, "record") << " processed, " << CountOf(skipped, "record")
                << " skipped before the error"
                << std::endl;
      if (report.uncertain_batch_rows > 0)
        std::cerr << "The last batch of " << report.uncertain_batch_rows
                  << " rows may or may not have been written; run /verify" << std::endl;
      std::cerr << ResumeLine(report) << std::flush;
      run_end.Halt(1);
    }
    std::cout << "Command completed successfully, " << processed << " records processed, "
              << skipped << " records skipped" << std::endl;
    std::cerr << PassSavingsLines(table, field, report) << PassNotes(report) << std::flush;
    run_end.Halt(0);
  }

  if (settings.interactive) CurrentUserInterface().CreateMainWindow(table, field, key);
}

}  // namespace tersify
