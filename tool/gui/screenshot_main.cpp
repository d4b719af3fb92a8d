// Saves pictures of the main window on a database, for the README.
//
//   tersify-screenshot [--size=WxH] DATABASE.db OUT.png [SEARCH]
//       the window as the program shows it after start-up (positioned on the
//       default table); SEARCH, when given, is typed into the Tables box first
//   tersify-screenshot [--size=WxH] --pass DATABASE.db OUT.png
//       the window in the middle of a compress pass (batches of 50 rows); the
//       pass runs on a copy of the database and is cancelled afterwards
//   tersify-screenshot [--size=WxH] --estimate DATABASE.db OUT.png
//       the window after an estimate of the default table (nothing is written)
//   tersify-screenshot [--size=WxH] --confirm DATABASE.db OUT.png
//       the question a click on Compress asks (answered no: nothing is written)
// --size gives the window that size (as when it fills a screen of that size);
// without it the window has the size it opens with.

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <unistd.h>

#include "db/database.h"
#include "db/layer_unit.h"
#include "db/registries.h"
#include "tool/gui/main_window.h"
#include "tool/gui/pass_confirmation.h"
#include "tool/gui/pass_hold.h"

namespace {

using namespace tersify;

enum class Shot { AfterStartUp, MidPass, AfterEstimate, Confirmation };

// The written row of the pass the picture shows it at.
constexpr int kPassPictureRow = 120;

void Settle() {
  for (int i = 0; i < 20; ++i) QApplication::processEvents();
}

bool Save(gui::TTersifyMain& window, const char* out) {
  Settle();
  if (window.grab().save(QString::fromLocal8Bit(out))) return true;
  std::cerr << "cannot write " << out << "\n";
  return false;
}

// A copy of the database in the temporary folder, removed with this object.
class DatabaseCopy {
 public:
  explicit DatabaseCopy(const std::string& original)
      : path_(std::filesystem::temp_directory_path() /
              ("tersify-screenshot-" + std::to_string(getpid()) + ".db")) {
    std::filesystem::copy_file(original, path_, std::filesystem::copy_options::overwrite_existing);
  }
  ~DatabaseCopy() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  std::string Path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// The question's box, pictured once it is up and then answered no.
bool SaveConfirmation(gui::TTersifyMain& window, const char* out) {
  bool saved = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      std::cerr << "no question was asked\n";
      return;
    }
    Settle();
    saved = box->grab().save(QString::fromLocal8Bit(out));
    if (!saved) std::cerr << "cannot write " << out << "\n";
    box->reject();
  });
  window.bCompress()->click();
  return saved;
}

bool TakeShot(Shot shot, gui::TTersifyMain& window, const char* out, const char* search, QSize size) {
  window.OpenCatalogue("tqz_reports", "acReportData", "acReport");
  if (search != nullptr) window.ebTables()->setText(QString::fromLocal8Bit(search));
  if (size.isValid()) window.resize(size);
  window.show();
  switch (shot) {
    case Shot::AfterStartUp:
      return Save(window, out);
    case Shot::Confirmation:
      return SaveConfirmation(window, out);
    case Shot::MidPass: {
      // The picture shows the pass, not the question before it.
      window.SetPassConfirmation([](const gui::TPassPlan&, bool&) { return true; });
      window.seBatch()->setValue(50);
      gui::TPassHold hold(kPassPictureRow);
      window.SetBeforeWrite(hold.Hook());
      window.bCompress()->click();
      // A table of fewer rows is shown at its end.
      hold.WaitUntilHeld([&window] { return window.JobRunning(); });
      const bool saved = Save(window, out);
      window.bCancel()->click();
      hold.Release();
      window.WaitForJob();
      return saved;
    }
    case Shot::AfterEstimate:
      window.bEstimate()->click();
      window.WaitForJob();
      return Save(window, out);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Shot shot = Shot::AfterStartUp;
  QSize size;
  int first = 1;
  for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
    int width = 0, height = 0;
    char end = 0;
    if (std::strcmp(argv[first], "--pass") == 0) {
      shot = Shot::MidPass;
    } else if (std::strcmp(argv[first], "--estimate") == 0) {
      shot = Shot::AfterEstimate;
    } else if (std::strcmp(argv[first], "--confirm") == 0) {
      shot = Shot::Confirmation;
    } else if (std::sscanf(argv[first], "--size=%dx%d%c", &width, &height, &end) == 2 && width > 0 &&
               height > 0) {
      size = QSize(width, height);
    } else {
      std::cerr << "unknown option " << argv[first] << "\n";
      return 2;
    }
  }
  if (argc < first + 2) {
    std::cerr << "usage: tersify-screenshot [--size=WxH] [--pass|--estimate|--confirm] DATABASE.db OUT.png [SEARCH]\n";
    return 2;
  }
  const char* out = argv[first + 1];
  const char* search = argc > first + 2 ? argv[first + 2] : nullptr;
  QApplication app(argc, argv);
  TDatabaseLayerScope layer;
  try {
    std::unique_ptr<DatabaseCopy> copy;
    std::string path = argv[first];
    if (shot == Shot::MidPass) {
      copy = std::make_unique<DatabaseCopy>(path);
      path = copy->Path();
    }
    auto database = std::make_unique<TvrDatabase>(nullptr);
    database->SetServer("sqlite");
    database->SetDatabaseName(path);
    database->SetConnected(true);
    DefaultDatabase = database.get();
    bool saved;
    {
      gui::TTersifyMain window;
      saved = TakeShot(shot, window, out, search, size);
    }
    database.reset();
    if (!saved) return 1;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
