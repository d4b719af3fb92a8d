#include "tool/pass/estimate.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "framework/rtl/exception.h"
#include "tool/pass/cancel.h"
#include "tool/pass/rate_limit.h"
#include "tool/pass/reader.h"
#include "tool/pass/rewrite_pool.h"
#include "tool/pass/rewriter.h"
#include "tool/pass/sample_reader.h"
#include "tool/pass/savings.h"
#include "tool/pass/target.h"
#include "tool/pass/writer.h"

namespace tersify {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Rows whose update is timed, and the largest value taken for it.
constexpr size_t kProbeRows = 3;
constexpr size_t kLargestProbeValue = size_t{4} << 20;

// A row kept for timing the update a pass would run on it.
struct TProbeRow {
  Variant key;
  std::string stored;
  bool stored_as_text = false;
};

// The pages of the run: every row through the pass's own reader, or a sample.
class TEstimateSource {
 public:
  TEstimateSource(providers::Provider& provider, const TPassStatements& statements, double share,
                  int64_t budget) {
    if (share >= 1.0)
      all_ = std::make_unique<TPassReader>(provider, statements, budget);
    else
      sample_ = std::make_unique<TPassSampleReader>(provider, statements, share, budget, std::random_device{}());
  }
  std::vector<TPassRow> NextPage() { return all_ ? all_->NextPage() : sample_->NextPage(); }
  // Seconds spent reading keys to choose the sample: work a pass does not do.
  double ChoosingSeconds() const { return sample_ ? sample_->KeySeconds() : 0; }

 private:
  std::unique_ptr<TPassReader> all_;
  std::unique_ptr<TPassSampleReader> sample_;
};

// Seconds one row's guarded update takes in the default mode, where every row
// is a transaction of its own: each probe row is written back with the very
// bytes it holds (so that even a crash leaves them as they were), held to the
// value read, in a transaction of its own that is rolled back.
double UpdateSecondsPerRow(const TPassTarget& target, std::vector<TProbeRow>& rows) {
  if (rows.empty()) return 0;
  TMSConnection& connection = *target.connection;
  TPassWriter writer(connection, target.statements, 1);
  double seconds = 0;
  for (TProbeRow& row : rows) {
    const Clock::time_point start = Clock::now();
    connection.StartTransaction();
    try {
      TGuardValue guard = WriteGuardValue(row.stored, row.stored_as_text, target.statements.Guard());
      writer.Write(row.key, std::move(row.stored), std::move(guard));
    } catch (...) {
      try {
        connection.Rollback();
      } catch (const std::exception&) {
        // The error that ended the probe is the one to report.
      }
      throw;
    }
    connection.Rollback();
    seconds += SecondsSince(start);
  }
  return seconds / static_cast<double>(rows.size());
}

int64_t Scaled(int64_t value, double factor) { return std::llround(static_cast<double>(value) * factor); }

// x with so many decimals, whatever the locale: "12.34".
std::string Decimals(double x, int decimals) {
  int64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  const int64_t scaled = std::llround(x * static_cast<double>(scale));
  const std::string fraction = std::to_string(std::llabs(scaled) % scale + scale).substr(1);
  return (scaled < 0 ? "-" : "") + std::to_string(std::llabs(scaled) / scale) + "." + fraction;
}

}  // namespace

void EstimateTable(const std::string& Table, const std::string& Field, const std::string& Key,
                   const TRecompressOptions& Options, double SamplePercent, TEstimateResult& Result,
                   TRecompressObserver* Observer) {
  Result = TEstimateResult();
  if (!(SamplePercent > 0 && SamplePercent <= 100))
    throw Exception("The sample must be more than 0 and at most 100 percent of the rows");
  ResetPassCancel();
  const double share = SamplePercent / 100;
  // The time limit holds from the first statement on.
  const TPassCancelReachesRequests cancel_reaches_requests;
  const TPassTimeLimit time_limit(PassConnection(), Options.timeout_seconds);
  const TPassTarget target = ResolvePassTarget(Table, Field, Key);
  providers::Provider& provider = target.connection->GetProvider();
  const int threads = TRewritePool::ThreadsFor(Options.threads);
  const int64_t budget = Options.budget_bytes > 0 ? Options.budget_bytes : kDefaultPassBudgetBytes;
  // Rows with a NULL key are never read nor written by a pass.
  const int64_t keyed_rows = target.key.rows - target.key.null_rows;
  Result.records = target.key.rows;

  try {
    if (Observer) Observer->PassStarted(static_cast<int>(share >= 1.0 ? keyed_rows : Scaled(keyed_rows, share)));
    TEstimateSource source(provider, target.statements, share, budget);
    std::vector<TProbeRow> probe;
    int64_t sampled = 0, stored = 0, after = 0, compressed = 0, rewritten = 0;
    int64_t rewritten_old = 0, rewritten_new = 0;
    const Clock::time_point started = Clock::now();
    while (!Result.cancelled) {
      std::vector<TPassRow> page = source.NextPage();
      if (page.empty()) break;
      std::vector<int64_t> stored_sizes;
      stored_sizes.reserve(page.size());
      for (const TPassRow& row : page) {
        stored_sizes.push_back(static_cast<int64_t>(row.stored.size()));
        if (probe.size() < kProbeRows && !row.value_is_null && row.stored.size() > kRecompressThreshold &&
            row.stored.size() <= kLargestProbeValue)
          probe.push_back({row.key, row.stored, row.stored_as_text});
      }
      // The same work as a compress pass: each row's new stored form is built.
      TRewritePool pool(page, true, target.statements.Guard(), threads, budget);
      for (size_t i = 0; i < page.size(); ++i) {
        if (PassCancelRequested()) {
          Result.cancelled = true;
          break;
        }
        const TRewrittenRow row = pool.Take(i);
        if (row.error) std::rethrow_exception(row.error);
        ++sampled;
        stored += stored_sizes[i];
        if (row.stored_compressed) compressed += stored_sizes[i];
        if (row.rewrite) {
          ++rewritten;
          after += static_cast<int64_t>(row.new_stored.size());
          rewritten_old += stored_sizes[i];
          rewritten_new += static_cast<int64_t>(row.new_stored.size());
        } else {
          after += stored_sizes[i];
        }
        if (Observer) Observer->RowHandled(row.plain_size, false);
      }
    }
    const double read_seconds = SecondsSince(started) - source.ChoosingSeconds();

    Result.sampled_records = sampled;
    const double factor = sampled > 0 ? static_cast<double>(keyed_rows) / static_cast<double>(sampled) : 0;
    Result.stored_bytes = Scaled(stored, factor);
    Result.bytes_after = Scaled(after, factor);
    Result.compressed_bytes = Scaled(compressed, factor);
    Result.rewritten_records = Scaled(rewritten, factor);
    Result.rewritten_stored_bytes = Scaled(rewritten_old, factor);
    Result.rewritten_new_bytes = Scaled(rewritten_new, factor);
    if (!Result.cancelled) {
      // Reading and building scale with the rows; every rewritten row adds its
      // update and commit.
      const double update_seconds = rewritten > 0 ? UpdateSecondsPerRow(target, probe) : 0;
      Result.pass_seconds = read_seconds * factor + update_seconds * static_cast<double>(rewritten) * factor;
    }
  } catch (...) {
    if (Observer) Observer->PassEnded();
    throw;
  }
  if (Observer) Observer->PassEnded();
}

std::string EstimateSummary(const TEstimateResult& Result) {
  constexpr double kMB = 1048576.0;
  const int64_t saved = Result.stored_bytes - Result.bytes_after;
  const double percent =
      Result.stored_bytes > 0 ? 100.0 * static_cast<double>(saved) / static_cast<double>(Result.stored_bytes) : 0;
  return "Estimate: " + std::to_string(Result.records) + " records, " +
         Decimals(static_cast<double>(Result.stored_bytes) / kMB, 2) + " MB stored now, about " +
         Decimals(static_cast<double>(Result.bytes_after) / kMB, 2) + " MB after compression (saves " +
         Decimals(static_cast<double>(saved) / kMB, 2) + " MB, " + std::to_string(std::llround(percent)) +
         " %), about " + Decimals(Result.pass_seconds / 60, 1) + " minutes for the pass";
}

int64_t EstimatedLogBytes(const TEstimateResult& Result) {
  return Result.rewritten_new_bytes + Result.rewritten_stored_bytes + kLogBytesPerRow * Result.rewritten_records;
}

std::string DurationText(double seconds) {
  if (!(seconds >= 1)) return "under a second";
  auto about = [](int64_t n, const char* unit) { return "about " + CountOf(n, unit); };
  if (seconds < 59.5) return about(std::llround(seconds), "second");
  const double minutes = seconds / 60;
  if (minutes < 89.5) return about(std::llround(minutes), "minute");
  return "about " + Decimals(minutes / 60, 1) + " hours";
}

std::string EstimateNotes(const TEstimateResult& Result, double MaxRateMB) {
  if (Result.cancelled) return {};
  std::string line = "The pass would take " + DurationText(Result.pass_seconds) + " in the default mode";
  if (MaxRateMB > 0) {
    // The pass reads every stored byte; at the limit that takes its time
    // however fast the rest goes.
    const double reading = static_cast<double>(Result.stored_bytes) / (MaxRateMB * kBytesPerRateMB);
    line += ", " + DurationText(std::max(Result.pass_seconds, reading)) + " at /MAXRATE=" +
            Format("%g", MaxRateMB);
  }
  return line + ", and write about " + StoredSizeText(EstimatedLogBytes(Result)) + " to the transaction log\n";
}

}  // namespace tersify
