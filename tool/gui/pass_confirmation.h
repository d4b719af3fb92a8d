#pragma once
// The question the window asks before a pass rewrites anything: which server,
// database, table and column, and how many rows. The user may also ask not to
// be asked again for the table (for the rest of this run of the window).

#include <cstdint>
#include <string>

class QWidget;

namespace tersify::gui {

struct TPassPlan {
  int32_t command = 0;  // 1 compress, 2 decompress
  std::string server;
  std::string database;
  std::string table;
  std::string field;
  std::string key;
  int64_t rows = 0;
};

// "Compress" or "Decompress".
std::string PassVerb(const TPassPlan& plan);

// The question, in lines joined by CR LF: what is rewritten, where, and how
// many rows the table holds.
std::string ConfirmationText(const TPassPlan& plan);

// The question in a modal box over parent (object name "ConfirmPass") with the
// pass's verb as its yes, Cancel as its default, and a "Do not ask again for
// this table" box, whose state goes to dont_ask_again. True when the user said yes.
bool AskToRunPass(QWidget* parent, const TPassPlan& plan, bool& dont_ask_again);

}  // namespace tersify::gui
