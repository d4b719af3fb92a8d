#pragma once
// How the program talks to the user: message boxes, the login prompt and the
// main window's message loop. The Qt build installs its own implementation;
// the console one (console/console_ui.h) writes message-box texts to standard output
// and counts the login prompt as cancelled, so console paths never need a
// display. Nothing below tool/ knows this interface.

#include <memory>
#include <string>

namespace tersify {

// The kind of a message box, which chooses its icon; mtCustom shows none.
enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A message box with Caption, Text and one OK button; returns once it is closed.
  virtual void ShowMessage(const std::string& Caption, const std::string& Text,
                           TMsgDlgType Kind) = 0;

  // Lets the user complete or correct the connection values. False when the
  // user cancelled (or no prompt can be shown); the values are then unchanged.
  virtual bool LoginPrompt(std::string& Username, std::string& Password, std::string& Server,
                           std::string& Database) = 0;

  // Why the connection attempt before the next login prompt failed, for the
  // prompt to show; an interface without a prompt has nowhere to show it.
  virtual void NoteFailedLogin(const std::string& /*Reason*/) {}

  // True when the last login prompt was shown and the user cancelled it;
  // false when it was answered or could not be shown at all.
  virtual bool LoginCancelledByUser() const { return false; }

  // Builds the main window positioned on Table, Field and Key. Raises an
  // Exception when no window can be shown (no display, or a build without one).
  virtual void CreateMainWindow(const std::string& Table, const std::string& Field,
                                const std::string& Key) = 0;

  // Runs the message loop until the main window closes; returns at once when
  // no main window was built.
  virtual void RunMessageLoop() = 0;
};

// The process-wide interface: the console one until another is installed.
UserInterface& CurrentUserInterface();

// Installs ui as the process-wide interface and returns the previous one
// (nullptr restores a console interface on standard output).
std::unique_ptr<UserInterface> SetCurrentUserInterface(std::unique_ptr<UserInterface> ui);

}  // namespace tersify
