#include "tool/recompress.h"

#include <iostream>

#include "framework/rtl/exception.h"
#include "tool/pass/cancel.h"
#include "tool/pass/engine.h"
#include "tool/pass/start_key.h"
#include "tool/user_interface.h"

namespace tersify {

void ReportPassError(bool Interactive, const std::string& Message) {
  if (Interactive) {
    CurrentUserInterface().ShowMessage("Error", Message, TMsgDlgType::mtError);
  } else {
    std::cout << "Critical error occured:\n" << Message << '\n' << std::flush;
  }
}

void ReportPassError(bool Interactive, const std::exception& Error) {
  ReportPassError(Interactive, Error.what());
  // The detail goes beside the fixed message, on standard error.
  if (const auto* error = dynamic_cast<const Exception*>(&Error); error && !error->Detail().empty())
    std::cerr << error->Detail() << '\n' << std::flush;
}

void TRecompressObserver::PassWarning(const std::string& line) { std::cerr << line << '\n' << std::flush; }

bool RecompressTable(bool Interactive, int32_t Command, const std::string& Table,
                     const std::string& Field, const std::string& Key,
                     TRecompressProgressEvent OnProgress, int32_t& Processed, int32_t& Skipped,
                     TRecompressObserver* Observer, const TRecompressOptions& Options,
                     TRecompressReport* Report) {
  TRecompressReport own_report;
  TRecompressReport& report = Report ? *Report : own_report;
  report = TRecompressReport();
  TPassRequest request;
  request.command = Command;
  request.table = Table;
  request.field = Field;
  request.key = Key;
  request.on_progress = OnProgress;
  request.observer = Observer;
  request.options = Options;
  ResetPassCancel();
  try {
    RunPassEngine(request, Processed, Skipped, report);
    if (Observer) Observer->PassEnded();
    return report.end == TPassEnd::Completed;
  } catch (const EStartKeyError& e) {
    // A value the user gave, refused before any row was read: standard
    // output keeps its contract, the reason goes to standard error.
    report.end = TPassEnd::Failed;
    report.error = e.what();
    if (Observer) Observer->PassEnded();
    if (Interactive)
      CurrentUserInterface().ShowMessage("Error", e.what(), TMsgDlgType::mtError);
    else
      std::cerr << e.what() << '\n' << std::flush;
    return false;
  } catch (const std::exception& e) {
    report.end = TPassEnd::Failed;
    report.error = e.what();
    // The observer finishes first, so that the report starts on a line of its own.
    if (Observer) Observer->PassEnded();
    ReportPassError(Interactive, e);
    return false;
  }
}

}  // namespace tersify
