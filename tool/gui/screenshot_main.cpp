// Saves pictures of the main window on a database, for the README.
//
//   tersify-screenshot DATABASE.db OUT.png [SEARCH]
//       the window as the program shows it after start-up (positioned on the
//       default table); SEARCH, when given, is typed into the Tables box first
//   tersify-screenshot --pass DATABASE.db OUT.png
//       the window in the middle of a compress pass (batches of 50 rows); the
//       pass runs on a copy of the database and is cancelled afterwards
//   tersify-screenshot --estimate DATABASE.db OUT.png
//       the window after an estimate of the default table (nothing is written)

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>

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
#include "tool/gui/pass_hold.h"

namespace {

using namespace tersify;

enum class Shot { AfterStartUp, MidPass, AfterEstimate };

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

bool TakeShot(Shot shot, gui::TTersifyMain& window, const char* out, const char* search) {
  window.OpenCatalogue("tqz_reports", "acReportData", "acReport");
  if (search != nullptr) window.ebTables()->setText(QString::fromLocal8Bit(search));
  window.show();
  switch (shot) {
    case Shot::AfterStartUp:
      return Save(window, out);
    case Shot::MidPass: {
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
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "--pass") == 0) {
    shot = Shot::MidPass;
    first = 2;
  } else if (argc > 1 && std::strcmp(argv[1], "--estimate") == 0) {
    shot = Shot::AfterEstimate;
    first = 2;
  }
  if (argc < first + 2) {
    std::cerr << "usage: tersify-screenshot [--pass|--estimate] DATABASE.db OUT.png [SEARCH]\n";
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
      saved = TakeShot(shot, window, out, search);
    }
    database.reset();
    if (!saved) return 1;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
