// The window's layout on the screens a DBA has: at 1024x768, at 1440x900 and
// at the size it opens with, every visible caption, button text and list
// header fits the room it is given, in each state that puts text into the
// window (after start-up, in the middle of a pass, after a pass and an
// estimate, after a verify that found a damaged value). The question before a
// pass and the login dialog with a long reason are held to the same rule.

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QDoubleSpinBox>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "tests/gui/gui_fixture.h"
#include "tool/gui/login_dialog.h"
#include "tool/gui/main_window.h"
#include "tool/gui/pass_confirmation.h"
#include "tool/gui/pass_hold.h"
#include "tool/gui/qt_text.h"
#include "tool/gui/table_estimates.h"

namespace tersify::testing {
namespace {

using gui::TTersifyMain;

std::string Name(const QWidget* w) {
  const std::string name = w->objectName().toStdString();
  return (name.empty() ? std::string(w->metaObject()->className()) : name) + " in " +
         (w->parentWidget() ? w->parentWidget()->objectName().toStdString() : std::string("(top)"));
}

// What is cut in a label: a line wider than the label, or more lines than fit.
void CheckLabel(const QLabel* label, std::vector<std::string>& cut) {
  QString text = label->text();
  // A label with a buddy draws "&x" as an underlined x.
  if (label->buddy() != nullptr) text.replace(QRegularExpression(QStringLiteral("&(.)")), QStringLiteral("\\1"));
  if (text.isEmpty()) return;
  const QFontMetrics fm = label->fontMetrics();
  const QRect room = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(), -label->margin());
  if (label->wordWrap()) {
    // Wrapping breaks between words only, so each word must fit, and all the
    // lines the text wraps into.
    for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
      if (fm.horizontalAdvance(word) > room.width())
        cut.push_back(Name(label) + ": word '" + word.toStdString() + "' is wider than " + std::to_string(room.width()));
    const int needed = fm.boundingRect(room, Qt::TextWordWrap | int(label->alignment()), text).height();
    if (needed > room.height())
      cut.push_back(Name(label) + ": '" + text.toStdString() + "' needs " + std::to_string(needed) +
                    " pixels of height, has " + std::to_string(room.height()));
    return;
  }
  const QStringList lines = text.split(QLatin1Char('\n'));
  for (const QString& line : lines)
    if (fm.horizontalAdvance(line) > room.width())
      cut.push_back(Name(label) + ": '" + line.toStdString() + "' needs " + std::to_string(fm.horizontalAdvance(line)) +
                    " pixels, has " + std::to_string(room.width()));
  if (fm.height() * static_cast<int>(lines.size()) > room.height())
    cut.push_back(Name(label) + ": " + std::to_string(lines.size()) + " lines do not fit its height");
}

void CheckButton(const QAbstractButton* button, std::vector<std::string>& cut) {
  QString text = button->text();
  text.remove(QLatin1Char('&'));
  if (text.isEmpty()) return;
  const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
  int needed = button->fontMetrics().horizontalAdvance(text) + margin;
  // A check box's text sits beside its box.
  if (!qobject_cast<const QPushButton*>(button)) needed += button->iconSize().width();
  if (needed > button->width())
    cut.push_back(Name(button) + ": '" + text.toStdString() + "' needs " + std::to_string(needed) + " pixels, has " +
                  std::to_string(button->width()));
}

// Every header section wide enough for its title (and the sort mark on the
// sorted one), and the columns together no wider than the list.
void CheckHeader(const QHeaderView* header, std::vector<std::string>& cut) {
  if (header->orientation() != Qt::Horizontal) return;
  const QFontMetrics fm = header->fontMetrics();
  const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
  const int mark = header->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header);
  for (int section = 0; section < header->count(); ++section) {
    if (header->isSectionHidden(section)) continue;
    const QString title = header->model()->headerData(section, Qt::Horizontal).toString();
    int needed = fm.horizontalAdvance(title) + 2 * margin;
    if (header->isSortIndicatorShown() && header->sortIndicatorSection() == section) needed += mark + margin;
    if (header->sectionSize(section) < needed)
      cut.push_back(Name(header) + ": header '" + title.toStdString() + "' needs " + std::to_string(needed) +
                    " pixels, has " + std::to_string(header->sectionSize(section)));
  }
  if (header->length() > header->viewport()->width() + 1)
    cut.push_back(Name(header) + ": the columns (" + std::to_string(header->length()) +
                  " pixels) are wider than the list (" + std::to_string(header->viewport()->width()) + ")");
}

// Whatever is cut among the visible widgets of top.
std::vector<std::string> CutTexts(QWidget* top) {
  std::vector<std::string> cut;
  QList<QWidget*> widgets = top->findChildren<QWidget*>();
  widgets.prepend(top);
  for (QWidget* w : widgets) {
    if (!w->isVisible()) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) CheckLabel(label, cut);
    if (auto* button = qobject_cast<QAbstractButton*>(w)) CheckButton(button, cut);
    if (auto* header = qobject_cast<QHeaderView*>(w)) CheckHeader(header, cut);
    // A spin box narrower than it asks for cuts its "default".
    if (auto* box = qobject_cast<QAbstractSpinBox*>(w); box && box->width() < box->minimumSizeHint().width())
      cut.push_back(Name(box) + ": " + std::to_string(box->width()) + " pixels wide, needs " +
                    std::to_string(box->minimumSizeHint().width()));
  }
  return cut;
}

void Settle(QWidget* w) {
  for (int i = 0; i < 10; ++i) QApplication::processEvents();
  w->repaint();
}

enum class State { AfterStartUp, MidPass, AfterPassAndEstimate, AfterVerify, AfterCancel };

struct LayoutCase {
  const char* name;
  State state;
  QSize size;  // empty: the size the window opens with
  friend void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }
};

class WindowLayoutTest : public GuiTest, public ::testing::WithParamInterface<LayoutCase> {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    // A damaged envelope, for the verify's list.
    std::string damaged = AsEnvelope(ReportText(3, 300 + 37 * 3));
    damaged.resize(damaged.size() - 8);
    database_->ExecSQL("update tqz_reports set acReportData=" + HexLiteral(damaged) + " where acReport='R103'");
    window_ = std::make_unique<TTersifyMain>();
    window_->SetPassConfirmation([](const gui::TPassPlan&, bool&) { return true; });
    window_->OpenCatalogue("tqz_reports", "acReportData", "acReport");
    if (GetParam().size.isValid()) window_->resize(GetParam().size);
    window_->show();
    Settle(window_.get());
  }
  void TearDown() override {
    window_.reset();
    GuiTest::TearDown();
  }

  std::unique_ptr<TTersifyMain> window_;
};

TEST_P(WindowLayoutTest, NoTextIsCut) {
  const LayoutCase& c = GetParam();
  if (c.size.isValid()) {
    // The window takes the whole screen, no more.
    EXPECT_EQ(window_->size(), c.size);
  } else {
    EXPECT_GE(window_->width(), 1000);
    EXPECT_GE(window_->height(), 700);
  }
  std::unique_ptr<gui::TPassHold> hold;
  switch (c.state) {
    case State::AfterStartUp:
      break;
    case State::MidPass:
      hold = std::make_unique<gui::TPassHold>(10);
      window_->SetBeforeWrite(hold->Hook());
      window_->bCompress()->click();
      ASSERT_TRUE(hold->WaitUntilHeld([this] { return window_->JobRunning(); }));
      break;
    case State::AfterPassAndEstimate:
      window_->bEstimate()->click();
      window_->WaitForJob();
      window_->bCompress()->click();
      window_->WaitForJob();
      ASSERT_EQ(window_->Estimates().rowCount(), 1);
      break;
    case State::AfterVerify:
      window_->bVerify()->click();
      window_->WaitForJob();
      ASSERT_EQ(window_->grDamaged()->rowCount(), 1);
      break;
    case State::AfterCancel: {
      // The time limit and rate boxes set, the pass cancelled: the resume key and Continue show.
      window_->seMinutes()->setValue(600);
      window_->seMaxRate()->setValue(1234.5);
      gui::TPassHold held(10);
      window_->SetBeforeWrite(held.Hook());
      window_->bCompress()->click();
      ASSERT_TRUE(held.WaitUntilHeld([this] { return window_->JobRunning(); }));
      window_->bCancel()->click();
      held.Release();
      window_->WaitForJob();
      ASSERT_NE(window_->ResumeKey(), "");
      EXPECT_TRUE(window_->lbResume()->isVisible());
      EXPECT_TRUE(window_->bContinue()->isEnabled());
      break;
    }
  }
  Settle(window_.get());
  const std::vector<std::string> cut = CutTexts(window_.get());
  EXPECT_TRUE(cut.empty()) << ::testing::PrintToString(cut);
  EXPECT_TRUE(ui_->messages.empty());
  if (hold) {
    window_->bCancel()->click();
    hold->Release();
    window_->WaitForJob();
  }
}

std::vector<LayoutCase> Cases() {
  std::vector<LayoutCase> cases;
  const std::pair<const char*, State> states[] = {{"AfterStartUp", State::AfterStartUp},
                                                  {"MidPass", State::MidPass},
                                                  {"AfterPassAndEstimate", State::AfterPassAndEstimate},
                                                  {"AfterVerify", State::AfterVerify},
                                                  {"AfterCancel", State::AfterCancel}};
  static std::vector<std::string> names;  // the names outlive the cases
  names.reserve(15);
  const std::pair<const char*, QSize> sizes[] = {
      {"At1024x768", QSize(1024, 768)}, {"At1440x900", QSize(1440, 900)}, {"AtItsOwnSize", QSize()}};
  for (const auto& [size_name, size] : sizes)
    for (const auto& [state_name, state] : states) {
      names.push_back(std::string(state_name) + size_name);
      cases.push_back({names.back().c_str(), state, size});
    }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Screens, WindowLayoutTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The question before a pass and the login dialog, each at the size it opens
// with; the damaged-key list; and the check itself.
class DialogLayoutTest : public GuiTest {};

TEST_F(DialogLayoutTest, TheCheckSeesACutCaptionAndACutHeader) {
  QWidget top;
  top.resize(300, 200);
  auto* label = new QLabel(QStringLiteral("Command line params"), &top);
  label->setGeometry(0, 0, label->fontMetrics().horizontalAdvance(label->text()) / 2, 30);
  auto* list = new QTableWidget(0, 2, &top);
  list->setGeometry(0, 40, 300, 150);
  list->setHorizontalHeaderLabels({QStringLiteral("Damaged key"), QStringLiteral("Reason")});
  list->horizontalHeader()->resizeSection(0, 20);
  top.show();
  Settle(&top);
  const std::vector<std::string> cut = CutTexts(&top);
  ASSERT_EQ(cut.size(), 2u) << ::testing::PrintToString(cut);
  EXPECT_NE(cut[0].find("'Command line params' needs"), std::string::npos) << cut[0];
  EXPECT_NE(cut[1].find("header 'Damaged key' needs"), std::string::npos) << cut[1];
}

TEST_F(DialogLayoutTest, AnEmptyDamagedKeyListNeverScrollsSideways) {
  TTersifyMain window;
  window.OpenCatalogue("tqz_reports", "acReportData", "acReport");
  window.resize(1024, 768);
  window.show();
  Settle(&window);
  QTableWidget* list = window.grDamaged();
  ASSERT_EQ(list->rowCount(), 0);
  EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
  // Both columns can be resized.
  for (int section = 0; section < list->columnCount(); ++section)
    EXPECT_EQ(list->horizontalHeader()->sectionResizeMode(section), QHeaderView::Interactive) << section;
}

TEST_F(DialogLayoutTest, TheQuestionBeforeAPassCutsNothing) {
  TTersifyMain window;
  window.OpenCatalogue("tqz_reports", "acReportData", "acReport");
  window.show();
  std::vector<std::string> cut{"no question was asked"};
  QTimer::singleShot(0, [&cut] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    Settle(box);
    cut = CutTexts(box);
    static_cast<QMessageBox*>(box)->reject();
  });
  window.bCompress()->click();
  EXPECT_TRUE(cut.empty()) << ::testing::PrintToString(cut);
  EXPECT_FALSE(window.JobRunning());
}

TEST_F(DialogLayoutTest, TheLoginDialogShowsALongReasonWhole) {
  gui::TLoginDialog dialog;
  dialog.SetFailure(
      "[unixODBC][FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable or does not exist "
      "(SQL state 08001)");
  dialog.show();
  Settle(&dialog);
  ASSERT_TRUE(dialog.lbFailure()->isVisible());
  const std::vector<std::string> cut = CutTexts(&dialog);
  EXPECT_TRUE(cut.empty()) << ::testing::PrintToString(cut);
}

}  // namespace
}  // namespace tersify::testing
