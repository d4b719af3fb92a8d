#pragma once
// The console user interface: message-box texts go to standard output, each
// followed by one line end; the login prompt counts as cancelled; there is no
// main window, so the message loop returns at once.

#include <ostream>

#include "tool/user_interface.h"

namespace tersify {

class ConsoleUserInterface : public UserInterface {
 public:
  // Writes to out (standard output unless a test gives another stream).
  explicit ConsoleUserInterface(std::ostream& out);
  ConsoleUserInterface();

  // Writes Text and one line end; Caption and Kind have no console form.
  void ShowMessage(const std::string& Caption, const std::string& Text, TMsgDlgType Kind) override;
  bool LoginPrompt(std::string& Username, std::string& Password, std::string& Server,
                   std::string& Database) override;
  // The console has no window: raises an Exception that says so.
  void CreateMainWindow(const std::string& Table, const std::string& Field,
                        const std::string& Key) override;
  void RunMessageLoop() override {}

 private:
  std::ostream& out_;
};

}  // namespace tersify
