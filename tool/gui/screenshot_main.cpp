// Saves a picture of the main window on a database, as the program would show
// it after start-up (positioned on the default table), for the README.
//
//   tersify-screenshot DATABASE.db OUT.png [SEARCH]
//
// SEARCH, when given, is typed into the Tables box before the picture is taken.

#include <QApplication>
#include <QPixmap>
#include <QLineEdit>

#include <exception>
#include <iostream>

#include "db/database.h"
#include "db/layer_unit.h"
#include "db/registries.h"
#include "tool/gui/main_window.h"

int main(int argc, char** argv) {
  using namespace tersify;
  if (argc < 3) {
    std::cerr << "usage: tersify-screenshot DATABASE.db OUT.png [SEARCH]\n";
    return 2;
  }
  QApplication app(argc, argv);
  TDatabaseLayerScope layer;
  try {
    auto database = std::make_unique<TvrDatabase>(nullptr);
    database->SetServer("sqlite");
    database->SetDatabaseName(argv[1]);
    database->SetConnected(true);
    DefaultDatabase = database.get();
    {
      gui::TTersifyMain window;
      window.OpenCatalogue("tqz_reports", "acReportData", "acReport");
      if (argc > 3) window.ebTables()->setText(QString::fromLocal8Bit(argv[3]));
      window.show();
      for (int i = 0; i < 20; ++i) QApplication::processEvents();
      if (!window.grab().save(QString::fromLocal8Bit(argv[2]))) {
        std::cerr << "cannot write " << argv[2] << "\n";
        return 1;
      }
    }
    database.reset();
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
