#include "tool/gui/qt_user_interface.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <string>

#include "log/vr_log.h"

#include "tool/gui/login_dialog.h"
#include "tool/gui/main_window.h"
#include "tool/gui/qt_text.h"

namespace tersify::gui {
namespace {

QMessageBox::Icon IconOf(TMsgDlgType kind) {
  switch (kind) {
    case TMsgDlgType::mtWarning: return QMessageBox::Warning;
    case TMsgDlgType::mtError: return QMessageBox::Critical;
    case TMsgDlgType::mtInformation: return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation: return QMessageBox::Question;
    case TMsgDlgType::mtCustom: break;
  }
  return QMessageBox::NoIcon;
}

// The program's words were read before; Qt gets only the program name, so
// that it takes none of them for its own options.
int qt_argc = 1;
char qt_program_name[] = "tersify";
char* qt_argv[] = {qt_program_name, nullptr};

// The object name of a widget, read on the thread that runs the window
// system only; log rows written on other threads get none.
std::string ObjectNameOnGuiThread(QWidget* (*find)()) {
  const QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() != app->thread()) return {};
  const QWidget* widget = find();
  return widget ? widget->objectName().toStdString() : std::string();
}

}  // namespace

std::string QtLibraryVersion() { return std::string("Qt ") + qVersion(); }

QtUserInterface::QtUserInterface() {
  if (QApplication::instance() == nullptr) app_ = std::make_unique<QApplication>(qt_argc, qt_argv);
  // Error rows of the diagnostic log name the active window and the control
  // that has the focus.
  SetLogScreenHooks({[] { return ObjectNameOnGuiThread(&QApplication::activeWindow); },
                     [] { return ObjectNameOnGuiThread(&QApplication::focusWidget); }});
}

QtUserInterface::~QtUserInterface() {
  SetLogScreenHooks({});
  window_.reset();
  app_.reset();
}

void QtUserInterface::ShowMessage(const std::string& Caption, const std::string& Text,
                                  TMsgDlgType Kind) {
  // A job on another thread (a pass started from the window) reports through
  // here too: the box goes up on the window's thread, and the job waits for
  // the user to close it, as it would on the window's own thread.
  QCoreApplication* application = QCoreApplication::instance();
  if (QThread::currentThread() != application->thread()) {
    QMetaObject::invokeMethod(
        application, [&] { ShowMessage(Caption, Text, Kind); }, Qt::BlockingQueuedConnection);
    return;
  }
  QMessageBox box(window_.get());
  box.setObjectName(QStringLiteral("MessageBox"));
  box.setWindowTitle(ToQString(Caption));
  // Texts such as the usage text hold <...>: never read them as markup.
  box.setTextFormat(Qt::PlainText);
  box.setText(ToDisplayText(Text));
  box.setIcon(IconOf(Kind));
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

bool QtUserInterface::LoginPrompt(std::string& Username, std::string& Password,
                                  std::string& Server, std::string& Database) {
  TLoginDialog dialog(window_.get());
  dialog.SetFailure(login_failure_);
  login_cancelled_ = !dialog.Execute(Username, Password, Server, Database);
  return !login_cancelled_;
}

void QtUserInterface::CreateMainWindow(const std::string& Table, const std::string& Field,
                                       const std::string& Key) {
  auto window = std::make_unique<TTersifyMain>();
  window->OpenCatalogue(Table, Field, Key);
  window_ = std::move(window);
}

void QtUserInterface::RunMessageLoop() {
  if (!window_) return;
  window_->show();
  QApplication::exec();
}

}  // namespace tersify::gui
