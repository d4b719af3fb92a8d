#include "tool/gui/login_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "tool/gui/qt_text.h"

namespace tersify::gui {
namespace {

QLineEdit* AddField(QFormLayout& form, const char* name, const QString& label, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  form.addRow(label, edit);
  return edit;
}

}  // namespace

TLoginDialog::TLoginDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("LoginDialog"));
  setWindowTitle(QStringLiteral("Database Login"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  failure_ = new QLabel(this);
  failure_->setObjectName(QStringLiteral("lbFailure"));
  failure_->setWordWrap(true);
  failure_->setTextFormat(Qt::PlainText);
  failure_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  failure_->hide();
  layout->addWidget(failure_);
  auto* form = new QFormLayout;
  server_ = AddField(*form, "edServer", QStringLiteral("&Server:"), this);
  database_ = AddField(*form, "edDatabase", QStringLiteral("&Database:"), this);
  username_ = AddField(*form, "edUsername", QStringLiteral("&User name:"), this);
  password_ = AddField(*form, "edPassword", QStringLiteral("&Password:"), this);
  password_->setEchoMode(QLineEdit::Password);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void TLoginDialog::SetFailure(const std::string& reason) {
  failure_->setText(ToQString("The last attempt failed: " + reason));
  failure_->setVisible(!reason.empty());
  // Room for a driver's long message without a dialog as wide as the screen.
  if (!reason.empty()) setMinimumWidth(fontMetrics().averageCharWidth() * 60);
}

bool TLoginDialog::Execute(std::string& Username, std::string& Password, std::string& Server,
                           std::string& Database) {
  server_->setText(ToQString(Server));
  database_->setText(ToQString(Database));
  username_->setText(ToQString(Username));
  password_->setText(ToQString(Password));
  // The first empty value gets the focus (usually the password).
  QLineEdit* focus = server_;
  for (QLineEdit* edit : {server_, database_, username_, password_}) {
    if (edit->text().isEmpty()) {
      focus = edit;
      break;
    }
  }
  focus->setFocus();
  if (exec() != QDialog::Accepted) return false;
  Server = FromQString(server_->text());
  Database = FromQString(database_->text());
  Username = FromQString(username_->text());
  Password = FromQString(password_->text());
  return true;
}

}  // namespace tersify::gui
