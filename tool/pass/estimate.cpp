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
#include "tool/pass/committed_reads.h"
#include "tool/pass/estimate_probe.h"
#include "tool/pass/rate_limit.h"
#include "tool/pass/reader.h"
#include "tool/pass/rewrite_pool.h"
#include "tool/pass/rewriter.h"
#include "tool/pass/sample_reader.h"
#include "tool/pass/start_key.h"
#include "tool/pass/savings.h"
#include "tool/pass/target.h"

namespace tersify {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The pages of the run: every row through the pass's own reader, or a sample.
class TEstimateSource {
 public:
  TEstimateSource(providers::Provider& provider, const TPassStatements& statements, double share,
                  int64_t budget, Variant start_after) {
    if (share >= 1.0)
      all_ = std::make_unique<TPassReader>(provider, statements, budget, std::move(start_after));
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
  // The rows counted for the target are committed ones too.
  const TCommittedReads committed_reads(PassConnection());
  const TPassTarget target = ResolvePassTarget(Table, Field, Key);
  providers::Provider& provider = target.connection->GetProvider();
  const int threads = TRewritePool::ThreadsFor(Options.threads);
  const int64_t budget = Options.budget_bytes > 0 ? Options.budget_bytes : kDefaultPassBudgetBytes;
  // Rows with a NULL key are never read nor written by a pass.
  const int64_t keyed_rows = target.key.rows - target.key.null_rows;
  Result.records = target.key.rows;

  try {
    if (Observer) Observer->PassStarted(share >= 1.0 ? keyed_rows : Scaled(keyed_rows, share));
    TEstimateSource source(provider, target.statements, share, budget, StartKeyOf(target, Options));
    // The probe runs as soon as it has its rows, so that a write the
    // connection refuses, or one that fails, is known before the table is read.
    TEstimateProbe probe(target, Table);
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
        probe.Offer(row);
      }
      if (probe.Full()) probe.Run();
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
    if (!Result.cancelled) probe.Run();
    Result.untimed_writes = probe.Refusal();
    const double read_seconds = SecondsSince(started) - source.ChoosingSeconds() - probe.RunSeconds();

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
      // update and commit (nothing when the connection cannot write).
      Result.pass_seconds =
          read_seconds * factor + probe.SecondsPerRow() * static_cast<double>(rewritten) * factor;
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
