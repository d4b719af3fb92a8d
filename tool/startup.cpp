#include "tool/startup.h"

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

  // A misspelt switch or two commands end the run before any statement: run
  // on, the typo would rewrite another table or the wrong way. Without a
  // command standard output keeps its "Missing command" and the usage text.
  if (const std::vector<std::string> errors = ArgumentErrors(settings); !errors.empty()) {
    for (const std::string& line : errors) std::cerr << line << '\n';
    std::cerr << std::flush;
    if (settings.command == cmdNone && !settings.interactive) ShowUsageAndHalt(false, "Missing command");
    Halt(1);
  }

  // The pass's own switches: a bad value ends the run before anything else,
  // on standard error, so that standard output keeps its contract.
  TRecompressOptions options;
  std::string options_error;
  if (!PassOptionsFrom(settings, options, options_error)) {
    std::cerr << options_error << std::endl;
    Halt(1);
  }

  double sample_percent = 100;
  if (settings.sample && !ParseSamplePercent(*settings.sample, sample_percent)) {
    std::cerr << "Invalid value for /SAMPLE=: '" << *settings.sample
              << "' (a percentage of the rows, more than 0 and at most 100)" << std::endl;
    Halt(1);
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
    Halt(1);
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
        Halt(1);
      }
    }
    if (!database->Connected()) {
      if (!reason.empty()) std::cerr << "Connection failed: " << reason << std::endl;
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

  if (settings.command == cmdVerify && !table.empty() && !field.empty())
    Halt(RunVerifyCommand(settings.interactive, table, field, key, options));
  if (settings.command == cmdEstimate && !table.empty() && !field.empty())
    Halt(RunEstimateCommand(settings.interactive, table, field, key, options, sample_percent));
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
    if (report.end == TPassEnd::Cancelled) {
      std::cout << "Cancelled, " << processed << " records processed, " << skipped << " records skipped"
                << std::endl;
      std::cerr << PassNotes(report) << std::flush;
      Halt(CancelExitCode(report.cancel_signal));
    }
    if (!completed) {
      std::cerr << CountOf(processed, "record") << " processed, " << CountOf(skipped, "record")
                << " skipped before the error"
                << std::endl;
      if (report.uncertain_batch_rows > 0)
        std::cerr << "The last batch of " << report.uncertain_batch_rows
                  << " rows may or may not have been written; run /verify" << std::endl;
      Halt(1);
    }
    std::cout << "Command completed successfully, " << processed << " records processed, "
              << skipped << " records skipped" << std::endl;
    std::cerr << PassSavingsLines(table, field, report) << PassNotes(report) << std::flush;
    Halt(0);
  }

  if (settings.interactive) CurrentUserInterface().CreateMainWindow(table, field, key);
}

}  // namespace tersify
