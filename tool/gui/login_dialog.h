#pragma once
// The login prompt: lets the user complete or correct the server, database,
// user name and password of a connection, and says why the attempt before it
// failed.

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;

namespace tersify::gui {

class TLoginDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TLoginDialog(QWidget* parent = nullptr);

  // The reason the previous attempt failed, shown above the values; empty
  // hides it.
  void SetFailure(const std::string& reason);

  // Shows the values, waits for the user; on OK writes the edited values back
  // and returns true, on cancel leaves them unchanged and returns false.
  bool Execute(std::string& Username, std::string& Password, std::string& Server,
               std::string& Database);

  QLineEdit* edServer() const { return server_; }
  QLineEdit* edDatabase() const { return database_; }
  QLineEdit* edUsername() const { return username_; }
  QLineEdit* edPassword() const { return password_; }
  QLabel* lbFailure() const { return failure_; }

 private:
  QLabel* failure_;
  QLineEdit* server_;
  QLineEdit* database_;
  QLineEdit* username_;
  QLineEdit* password_;
};

}  // namespace tersify::gui
