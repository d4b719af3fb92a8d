// The program main block of tersify.

#include <cstdlib>
#include <exception>
#include <iostream>
#include <typeinfo>

#include "common/vr_common.h"
#include "framework/rtl/exception.h"
#include "tool/command_line.h"
#include "tool/user_interface.h"

namespace {

using namespace tersify;

// Until the start-up sequence (RunFromCommandLine, tool/startup.h) is in place:
// read the arguments and end the process the way it would when it cannot go
// on. Without a command in console mode: "Missing command" and the usage text;
// otherwise the usage text alone. Exit code 1 in both cases.
void RunArgumentsOnly() {
  ToolSettings settings;
  ReadArguments(ProcessArguments(), settings);
  if (settings.command == cmdNone && !settings.interactive)
    ShowUsageAndHalt(false, "Missing command");
  ShowUsageAndHalt(settings.interactive, "");
}

// The runtime's last-resort handler: the error's class and message on standard
// error, exit code 1.
int ReportUnhandled(const std::exception& e) {
  const auto* object = dynamic_cast<const TObject*>(&e);
  std::cerr << (object ? object->ClassName() : std::string(typeid(e).name())) << ": " << e.what()
            << std::endl;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  SetProcessArguments(argc, argv);
  // Unit initialisations; their finalisations run at every end of the process,
  // also when a routine halts with an exit code.
  StartCommonUnit();
  std::atexit(ShutdownCommonUnit);
  try {
    // Every console path ends the process in here; it returns only when the
    // main window has been built.
    RunArgumentsOnly();
    CurrentUserInterface().RunMessageLoop();
  } catch (const std::exception& e) {
    return ReportUnhandled(e);
  }
  return 0;
}
