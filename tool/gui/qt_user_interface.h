#pragma once
// The Qt user interface: message boxes, the login dialog, the main window and
// its message loop. Installed by the program only when a display is there and
// the run may open the window (tool/gui/ui_choice.h).

#include <memory>
#include <string>

#include "tool/user_interface.h"

class QApplication;

namespace tersify::gui {

class TTersifyMain;

// The Qt library the program runs with ("Qt 6.4.2"), for its version text.
std::string QtLibraryVersion();

class QtUserInterface : public UserInterface {
 public:
  // Uses the process's QApplication, making one when there is none yet.
  QtUserInterface();
  ~QtUserInterface() override;

  // A QMessageBox with Caption, Text (plain text; CR LF is a line break), one
  // OK button and the icon of Kind (none for mtCustom). Called on another
  // thread, it shows the box on the application's thread and returns once the
  // user has closed it.
  void ShowMessage(const std::string& Caption, const std::string& Text, TMsgDlgType Kind) override;
  // The login dialog, with the reason of the failed attempt before it; false
  // when the user cancelled.
  bool LoginPrompt(std::string& Username, std::string& Password, std::string& Server,
                   std::string& Database) override;
  void NoteFailedLogin(const std::string& Reason) override { login_failure_ = Reason; }
  bool LoginCancelledByUser() const override { return login_cancelled_; }
  // Builds TTersifyMain and opens its catalogue positioned on Table, Field and
  // Key. When that fails the window is destroyed, never shown, and the error
  // propagates.
  void CreateMainWindow(const std::string& Table, const std::string& Field,
                        const std::string& Key) override;
  // Shows the main window and runs the message loop until it closes.
  void RunMessageLoop() override;

  TTersifyMain* MainWindow() const { return window_.get(); }

 private:
  std::unique_ptr<QApplication> app_;  // only when this interface made it
  std::unique_ptr<TTersifyMain> window_;
  std::string login_failure_;
  bool login_cancelled_ = false;
};

}  // namespace tersify::gui
