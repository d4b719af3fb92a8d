// The Qt user interface: message boxes, the login dialog, building the main
// window, and the choice between the console and the window system.

#include <QApplication>
#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/gui/gui_fixture.h"
#include "db/dataset.h"
#include "log/vr_log.h"
#include "tool/console/command_line.h"
#include "tool/gui/login_dialog.h"
#include "tool/gui/main_window.h"
#include "tool/gui/qt_user_interface.h"
#include "tool/gui/ui_choice.h"

namespace tersify::testing {
namespace {

using gui::QtUserInterface;

// Runs action on the modal widget once the next modal loop is running.
void WhenModal(std::function<void(QWidget*)> action) {
  QTimer::singleShot(0, [action] {
    QWidget* modal = QApplication::activeModalWidget();
    ASSERT_NE(modal, nullptr);
    action(modal);
  });
}

struct MessageCase {
  const char* name;
  TMsgDlgType kind;
  QMessageBox::Icon icon;
  friend void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }
};

class MessageBoxTest : public ::testing::TestWithParam<MessageCase> {
 protected:
  void SetUp() override { TestApplication(); }
};

TEST_P(MessageBoxTest, ShowsCaptionPlainTextOkAndTheIconOfItsKind) {
  QtUserInterface ui;
  std::optional<QString> title, text;
  std::optional<QMessageBox::Icon> icon;
  std::optional<Qt::TextFormat> format;
  int buttons = 0;
  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    format = box->textFormat();
    buttons = static_cast<int>(box->buttons().size());
    box->button(QMessageBox::Ok)->click();
  });
  // A usage-like text: markup-looking words stay words, CR LF breaks the line.
  ui.ShowMessage("Error", "Missing command\r\n\r\n/IP=<server>", GetParam().kind);
  ASSERT_TRUE(title && text && icon && format);
  EXPECT_EQ(title->toStdString(), "Error");
  EXPECT_EQ(text->toStdString(), "Missing command\n\n/IP=<server>");
  EXPECT_EQ(*format, Qt::PlainText);
  EXPECT_EQ(*icon, GetParam().icon);
  EXPECT_EQ(buttons, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, MessageBoxTest,
    ::testing::Values(MessageCase{"Warning", TMsgDlgType::mtWarning, QMessageBox::Warning},
                      MessageCase{"Error", TMsgDlgType::mtError, QMessageBox::Critical},
                      MessageCase{"Information", TMsgDlgType::mtInformation, QMessageBox::Information},
                      MessageCase{"Confirmation", TMsgDlgType::mtConfirmation, QMessageBox::Question},
                      MessageCase{"Custom", TMsgDlgType::mtCustom, QMessageBox::NoIcon}),
    [](const ::testing::TestParamInfo<MessageCase>& info) { return std::string(info.param.name); });

// A job on another thread (a pass started from the window) reports its error
// through the same call: the box must go up on the application's thread, and
// the job must wait until the user has closed it.
TEST(MessageBoxFromAJobTest, ShowsTheBoxOnTheApplicationsThreadAndWaitsForIt) {
  TestApplication();
  QtUserInterface ui;
  std::atomic<bool> returned{false};
  QThread* box_thread = nullptr;
  std::string text;
  bool returned_while_shown = true;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    poll.stop();
    box_thread = box->thread();
    text = box->text().toStdString();
    returned_while_shown = returned.load();
    box->button(QMessageBox::Ok)->click();
  });
  poll.start(5);
  std::thread job([&] {
    ui.ShowMessage("Error", "the pass failed", TMsgDlgType::mtError);
    returned.store(true);
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
  });
  while (!returned.load()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  job.join();
  EXPECT_EQ(box_thread, QApplication::instance()->thread());
  EXPECT_EQ(text, "the pass failed");
  EXPECT_FALSE(returned_while_shown);
}

class LoginPromptTest : public ::testing::Test {
 protected:
  void SetUp() override { TestApplication(); }
  std::string user = "sa", password, server = "sqlite", database = "/tmp/a.db";
};

TEST_F(LoginPromptTest, OkWritesTheEditedValuesBack) {
  QtUserInterface ui;
  std::string shown_server;
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<gui::TLoginDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    shown_server = dialog->edServer()->text().toStdString();
    EXPECT_EQ(dialog->edPassword()->echoMode(), QLineEdit::Password);
    dialog->edPassword()->setText("pa;ss}");
    dialog->edDatabase()->setText("/tmp/b.db");
    dialog->accept();
  });
  EXPECT_TRUE(ui.LoginPrompt(user, password, server, database));
  EXPECT_FALSE(ui.LoginCancelledByUser());
  EXPECT_EQ(shown_server, "sqlite");
  EXPECT_EQ(user, "sa");
  EXPECT_EQ(password, "pa;ss}");
  EXPECT_EQ(server, "sqlite");
  EXPECT_EQ(database, "/tmp/b.db");
}

TEST_F(LoginPromptTest, CancelLeavesTheValuesUnchanged) {
  QtUserInterface ui;
  WhenModal([](QWidget* modal) {
    auto* dialog = qobject_cast<gui::TLoginDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->edUsername()->setText("someone");
    dialog->reject();
  });
  EXPECT_FALSE(ui.LoginPrompt(user, password, server, database));
  // The start-up sequence ends quietly then, without the usage text.
  EXPECT_TRUE(ui.LoginCancelledByUser());
  EXPECT_EQ(user, "sa");
  EXPECT_EQ(password, "");
  EXPECT_EQ(database, "/tmp/a.db");
}

TEST_F(LoginPromptTest, TheDialogSaysWhyTheAttemptBeforeItFailed) {
  QtUserInterface ui;
  struct Shown {
    bool visible = false;
    std::string text;
  };
  std::vector<Shown> shown;
  auto record = [&](QWidget* modal) {
    auto* dialog = qobject_cast<gui::TLoginDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    shown.push_back({dialog->lbFailure()->isVisible(), dialog->lbFailure()->text().toStdString()});
    dialog->reject();
  };
  // Without a reason noted there is nothing to say.
  WhenModal(record);
  ui.LoginPrompt(user, password, server, database);
  ui.NoteFailedLogin("Cannot open /tmp/a.db: unable to open database file");
  WhenModal(record);
  ui.LoginPrompt(user, password, server, database);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_FALSE(shown[0].visible);
  EXPECT_TRUE(shown[1].visible);
  EXPECT_EQ(shown[1].text, "The last attempt failed: Cannot open /tmp/a.db: unable to open database file");
}

TEST_F(GuiTest, CreateMainWindowOpensTheCatalogue) {
  QtUserInterface ui;
  ui.CreateMainWindow("tqz_reports", "acReportData", "acReport");
  ASSERT_NE(ui.MainWindow(), nullptr);
  EXPECT_EQ(gui::TTersifyMain::CurrentValue(ui.MainWindow()->qTables()), "tqz_reports");
  EXPECT_FALSE(ui.MainWindow()->isVisible());  // shown when the message loop starts
}

TEST_F(GuiTest, AWindowWhoseCatalogueFailsIsNeverKept) {
  database_->ExecSQL("drop table tqz_systables");
  QtUserInterface ui;
  EXPECT_ANY_THROW(ui.CreateMainWindow("tqz_reports", "acReportData", "acReport"));
  EXPECT_EQ(ui.MainWindow(), nullptr);
  ui.RunMessageLoop();  // no window: returns at once
}

struct ChoiceCase {
  const char* name;
  std::vector<std::string> args;
  bool interactive;
  friend void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }
};

class UiChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

// Every run in interactive mode talks to the user through the window system
// (login dialog, message boxes, the window), a command run too; only console
// runs stay off it.
TEST_P(UiChoiceTest, InteractiveRunsUseTheWindowSystem) {
  EXPECT_EQ(gui::RunIsInteractive(GetParam().args), GetParam().interactive);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, UiChoiceTest,
    ::testing::Values(
        ChoiceCase{"NoArguments", {}, true},
        ChoiceCase{"ConnectionOnly", {"/IP=sqlite", "/DB=x.db"}, true},
        ChoiceCase{"ConsoleWithoutCommand", {"/GUI=0"}, false},
        ChoiceCase{"ConsoleWithCommand", {"/c", "/GUI=no", "/TABLE=t", "/FIELD=f"}, false},
        ChoiceCase{"CommandWithDefaults", {"/c"}, true},
        ChoiceCase{"CommandWithTableAndField", {"-d", "/TABLE=t", "/FIELD=f"}, true},
        ChoiceCase{"CommandWithTableOnly", {"/c", "/TABLE=t"}, true},
        ChoiceCase{"GuiOneKeepsInteractive", {"/GUI=0", "/GUI=1"}, true},
        ChoiceCase{"LaterGuiZeroWins", {"/GUI=1", "/c", "-gui=0"}, false},
        // Help, the version and refused arguments are answered on the console alone.
        ChoiceCase{"Help", {"--help"}, false},
        ChoiceCase{"Version", {"/IP=sqlite", "--version"}, false},
        ChoiceCase{"UnknownArgument", {"/c", "/TABEL=t"}, false},
        ChoiceCase{"TwoCommands", {"/c", "/d"}, false}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });

// While the Qt interface is installed, error rows of the diagnostic log name
// the active window and the focused control by their object names; on another
// thread, and once the interface is gone, the names are empty.
TEST_F(GuiTest, LogRowsNameTheActiveWindowAndTheFocusedControl) {
  std::string form, control, form_elsewhere = "unset";
  {
    QtUserInterface ui;
    QWidget window;
    window.setObjectName(QStringLiteral("fmOrders"));
    auto* edit = new QLineEdit(&window);  // owned by the window
    edit->setObjectName(QStringLiteral("edCustomer"));
    window.show();
    QApplication::setActiveWindow(&window);
    edit->setFocus();
    QApplication::processEvents();
    form = LogActiveFormName();
    control = LogFocusedControlName();
    std::thread other([&] { form_elsewhere = LogActiveFormName(); });
    other.join();
  }
  EXPECT_EQ(form, "fmOrders");
  EXPECT_EQ(control, "edCustomer");
  EXPECT_EQ(form_elsewhere, "");
  EXPECT_EQ(LogActiveFormName(), "");
  EXPECT_EQ(LogFocusedControlName(), "");
}

// Sets or unsets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A listening socket where a local X server of display number would listen.
class FakeXServer {
 public:
  explicit FakeXServer(int number) : path_("/tmp/.X11-unix/X" + std::to_string(number)) {
    ::mkdir("/tmp/.X11-unix", 01777);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
    ::unlink(path_.c_str());
    listening_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                 ::listen(fd_, 4) == 0;
  }
  ~FakeXServer() {
    if (fd_ >= 0) ::close(fd_);
    ::unlink(path_.c_str());
  }
  bool Listening() const { return listening_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool listening_ = false;
};

TEST(DisplayAvailableTest, AnXDisplayCountsOnlyWhenItsServerIsThere) {
  const int number = 20000 + static_cast<int>(::getpid() % 10000);
  const std::string local = ":" + std::to_string(number);
  EXPECT_FALSE(gui::XDisplayReachable(local));
  EXPECT_FALSE(gui::XDisplayReachable(""));
  EXPECT_FALSE(gui::XDisplayReachable("nocolon"));
  EXPECT_FALSE(gui::XDisplayReachable(":x1"));
  EXPECT_TRUE(gui::XDisplayReachable("otherhost:0"));  // not probed
  FakeXServer server(number);
  ASSERT_TRUE(server.Listening());
  EXPECT_TRUE(gui::XDisplayReachable(local));
  EXPECT_TRUE(gui::XDisplayReachable(local + ".0"));
  EXPECT_TRUE(gui::XDisplayReachable("unix" + local));
}

TEST(DisplayAvailableTest, ADisplayOrAPlatformNameIsNeeded) {
  ScopedEnv display("DISPLAY", nullptr), wayland("WAYLAND_DISPLAY", nullptr),
      platform("QT_QPA_PLATFORM", nullptr);
  EXPECT_FALSE(gui::DisplayAvailable());
  {
    ScopedEnv empty("DISPLAY", "");
    EXPECT_FALSE(gui::DisplayAvailable());
  }
  {
    // Qt would end the process on a display whose server is not there.
    ScopedEnv x("DISPLAY", ":20999");
    EXPECT_FALSE(gui::DisplayAvailable());
    FakeXServer server(20999);
    ASSERT_TRUE(server.Listening());
    EXPECT_TRUE(gui::DisplayAvailable());
  }
  {
    ScopedEnv w("WAYLAND_DISPLAY", "wayland-0");
    EXPECT_TRUE(gui::DisplayAvailable());
  }
  {
    ScopedEnv p("QT_QPA_PLATFORM", "offscreen");
    EXPECT_TRUE(gui::DisplayAvailable());
  }
}

}  // namespace
}  // namespace tersify::testing
