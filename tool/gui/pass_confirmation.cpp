#include "tool/gui/pass_confirmation.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

#include "tool/gui/qt_text.h"

namespace tersify::gui {

std::string PassVerb(const TPassPlan& plan) { return plan.command == 1 ? "Compress" : "Decompress"; }

std::string ConfirmationText(const TPassPlan& plan) {
  const std::string rows = std::to_string(plan.rows) + (plan.rows == 1 ? " row" : " rows");
  const std::string how = plan.command == 1 ? "compressed" : "stored plainly";
  return PassVerb(plan) + " column " + plan.field + " of table " + plan.table + "?\r\n\r\n" +
         "Server: " + plan.server + "\r\n" + "Database: " + plan.database + "\r\n" + "Table: " + plan.table +
         " (" + rows + ")\r\n" + "Column: " + plan.field + "\r\n\r\n" + "Each value that is not " + how +
         " yet is rewritten in place.";
}

bool AskToRunPass(QWidget* parent, const TPassPlan& plan, bool& dont_ask_again) {
  QMessageBox box(parent);
  box.setObjectName(QStringLiteral("ConfirmPass"));
  box.setWindowTitle(ToQString(PassVerb(plan) + " " + plan.table + "." + plan.field));
  box.setIcon(QMessageBox::Question);
  // Names may hold <...>: never read them as markup.
  box.setTextFormat(Qt::PlainText);
  box.setText(ToDisplayText(ConfirmationText(plan)));
  QPushButton* yes = box.addButton(ToQString(PassVerb(plan)), QMessageBox::AcceptRole);
  yes->setObjectName(QStringLiteral("bRunPass"));
  QPushButton* no = box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(no);
  box.setEscapeButton(no);
  auto* again = new QCheckBox(QStringLiteral("Do not ask again for this table"), &box);
  again->setObjectName(QStringLiteral("cbDontAskAgain"));
  box.setCheckBox(again);
  box.exec();
  const bool accepted = box.clickedButton() == yes;
  dont_ask_again = accepted && again->isChecked();
  return accepted;
}

}  // namespace tersify::gui
