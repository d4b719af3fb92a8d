#pragma once
// The window's words for how long something takes and what an estimate found,
// written for a reader in a hurry: "about 40 s", "about 3 min 10 s".

#include <string>

namespace tersify {
struct TEstimateResult;
}

namespace tersify::gui {

// A length of time: "less than 1 s", "about 40 s", "about 3 min 10 s"; from ten
// minutes on in whole minutes ("about 12 min"), from an hour on in hours and
// minutes ("about 2 h 5 min").
std::string DurationText(double seconds);

// An estimate in five lines: the records, the column as stored now, what a
// compress pass would leave, what it would save, and how long it would take.
std::string EstimateText(const TEstimateResult& result);

}  // namespace tersify::gui
