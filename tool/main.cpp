// The program main block of tersify.

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <typeinfo>

#include "client/ms_connection.h"
#include "common/vr_common.h"
#include "db/layer_unit.h"
#include "framework/rtl/application.h"
#include "framework/rtl/exception.h"
#include "tool/console/command_line.h"
#include "tool/console/program_info.h"
#include "tool/startup.h"
#include "tool/user_interface.h"
#ifdef TERSIFY_QT_GUI
#include "tool/gui/qt_user_interface.h"
#include "tool/gui/ui_choice.h"
#endif

namespace {

using namespace tersify;

// The runtime's last-resort handler: the error's class and message on standard
// error, exit code 1.
int ReportUnhandled(const std::exception& e) {
  const auto* object = dynamic_cast<const TObject*>(&e);
  std::cerr << (object ? object->ClassName() : std::string(typeid(e).name())) << ": " << e.what()
            << std::endl;
  return 1;
}

// The same for an exception of a type that carries no message: its type.
int ReportUnhandledOfUnknownType() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  std::string name = type ? type->name() : "unknown type";
  int status = -1;
  std::unique_ptr<char, void (*)(void*)> readable(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                   std::free);
  if (status == 0 && readable) name = readable.get();
  std::cerr << "Exception of type " << name << " (no message)" << std::endl;
  return 1;
}

// The client library's login prompt is the user interface's.
bool PromptForLogin(TMSConnection& /*connection*/, TLoginValues& values) {
  return CurrentUserInterface().LoginPrompt(values.username, values.password, values.server,
                                            values.database);
}

}  // namespace

int main(int argc, char** argv) {
  SetProcessArguments(argc, argv);
  // Unit initialisations. Their finalisations run at every end of the process,
  // also when a routine halts with an exit code, in the reverse order: the
  // layer shuts down (destroying the default database first), then the
  // application object goes with what it still owns, then the utilities.
  StartCommonUnit();
  std::atexit(ShutdownCommonUnit);
  CreateApplication();
  StartDatabaseLayer();
  std::atexit(ShutdownDatabaseLayer);
  SetLoginPromptHook(PromptForLogin);
#ifdef TERSIFY_QT_GUI
  SetWindowLibraryVersion(gui::QtLibraryVersion());
#endif
  try {
#ifdef TERSIFY_QT_GUI
    // In interactive mode, and with a display, the user is talked to through
    // the window system: the login dialog, message boxes (a command run's too)
    // and the window. Console runs and runs without a display never need one.
    if (gui::RunIsInteractive(ProcessArguments()) && gui::DisplayAvailable())
      SetCurrentUserInterface(std::make_unique<gui::QtUserInterface>());
#endif
    // Every console path ends the process in here; it returns only when the
    // main window has been built.
    RunFromCommandLine();
    CurrentUserInterface().RunMessageLoop();
  } catch (const std::exception& e) {
    Halt(ReportUnhandled(e));
  } catch (...) {
    Halt(ReportUnhandledOfUnknownType());
  }
  // The window and its queries go before the layer shuts down.
  SetCurrentUserInterface(nullptr);
  return 0;
}
