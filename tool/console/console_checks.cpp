#include "tool/console/console_checks.h"

#include <charconv>
#include <iostream>
#include <memory>

#include "tool/pass/estimate.h"
#include "tool/pass/cancel.h"
#include "tool/console/progress_line.h"
#include "tool/recompress.h"
#include "tool/startup.h"
#include "tool/pass/verify.h"

namespace tersify {
namespace {

// A live progress line on standard error, only on a terminal; standard output
// keeps exactly the lines the command promises.
std::unique_ptr<TProgressLine> ProgressOnTerminal() {
  if (!IsTerminal(2)) return nullptr;
  return std::make_unique<TProgressLine>(std::cerr);
}

// A cancelled run says how far it got on standard output, as a cancelled pass
// does, and ends with the pass's cancel exit code.
int Cancelled(const std::string& how_far) {
  std::cout << "Cancelled, " << how_far << std::endl;
  return CancelExitCode(PassCancelSignal());
}

// The figures of a verification into the account.
void TakeVerifyResult(const TVerifyResult& result, TRunAccount& account) {
  account.end = result.cancelled ? "cancelled" : "completed";
  account.records_processed = result.records;
  for (const TDamagedValue& value : result.damaged_values) account.damaged_keys.push_back(value.key);
  account.figures = {{"compressed_records", result.compressed},
                     {"plain_records", result.plain},
                     {"damaged_records", result.damaged}};
}

void TakeEstimateResult(const TEstimateResult& result, TRunAccount& account) {
  account.end = result.cancelled ? "cancelled" : "completed";
  account.records_processed = result.sampled_records;
  account.bytes_read = result.stored_bytes;
  account.figures = {{"records", result.records},
                     {"sampled_records", result.sampled_records},
                     {"stored_bytes", result.stored_bytes},
                     {"bytes_after", result.bytes_after},
                     {"compressed_bytes", result.compressed_bytes},
                     {"pass_seconds", static_cast<int64_t>(result.pass_seconds + 0.5)}};
}

void Failed(const std::exception& error, TRunAccount* account) {
  if (!account) return;
  account->end = "failed";
  account->error = error.what();
}

}  // namespace

int RunVerifyCommand(bool Interactive, const std::string& Table, const std::string& Field,
                     const std::string& Key, const TRecompressOptions& Options, TRunAccount* Account) {
  TVerifyResult result;
  std::unique_ptr<TProgressLine> progress = ProgressOnTerminal();
  try {
    // On one terminal a damaged value's line takes the progress line's place;
    // the progress line is drawn again below it.
    const bool share_terminal = progress && IsTerminal(1);
    VerifyTable(
        Table, Field, Key, Options, result,
        [share_terminal](const TDamagedValue& value) {
          if (share_terminal) std::cerr << "\r\x1b[K" << std::flush;
          std::cout << DamagedLine(value) << std::endl;
        },
        progress.get());
  } catch (const std::exception& e) {
    if (Account) TakeVerifyResult(result, *Account);
    Failed(e, Account);
    ReportPassError(Interactive, e);
    return 1;
  }
  progress.reset();
  if (Account) TakeVerifyResult(result, *Account);
  if (result.cancelled)
    return Cancelled(std::to_string(result.records) + " records verified: " + std::to_string(result.compressed) +
                     " compressed, " + std::to_string(result.plain) + " plain, " +
                     std::to_string(result.damaged) + " damaged");
  std::cout << VerifySummary(result) << std::endl;
  return result.damaged == 0 ? 0 : 1;
}

int RunEstimateCommand(bool Interactive, const std::string& Table, const std::string& Field,
                       const std::string& Key, const TRecompressOptions& Options, double SamplePercent,
                       TRunAccount* Account) {
  TEstimateResult result;
  std::unique_ptr<TProgressLine> progress = ProgressOnTerminal();
  try {
    EstimateTable(Table, Field, Key, Options, SamplePercent, result, progress.get());
  } catch (const std::exception& e) {
    if (Account) TakeEstimateResult(result, *Account);
    Failed(e, Account);
    ReportPassError(Interactive, e);
    return 1;
  }
  progress.reset();
  if (Account) TakeEstimateResult(result, *Account);
  if (result.cancelled) return Cancelled(std::to_string(result.sampled_records) + " records read");
  if (!result.untimed_writes.empty())
    std::cerr << "No update was timed: " << result.untimed_writes
              << "; the time for the pass is estimated from the read rate alone" << std::endl;
  std::cout << EstimateSummary(result) << std::endl;
  std::cerr << EstimateNotes(result, Options.max_rate_mb_per_s) << std::flush;
  return 0;
}

bool ParseSamplePercent(const std::string& Text, double& Percent) {
  double value = 0;
  const char* end = Text.data() + Text.size();
  const auto [stop, error] = std::from_chars(Text.data(), end, value, std::chars_format::fixed);
  if (error != std::errc() || stop != end || !(value > 0 && value <= 100)) return false;
  Percent = value;
  return true;
}

}  // namespace tersify
