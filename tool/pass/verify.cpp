#include "tool/pass/verify.h"

#include <memory>
#include <utility>
#include <vector>

#include "blob/envelope_check.h"
#include "tool/pass/cancel.h"
#include "tool/pass/committed_reads.h"
#include "tool/pass/reader.h"
#include "tool/pass/rewrite_pool.h"
#include "tool/pass/start_key.h"
#include "tool/pass/target.h"

namespace tersify {
namespace {

// Every read of the verification runs in a transaction that is always rolled
// back, so nothing the run does can ever be committed; each page has one of
// its own, so that between pages the run holds no lock (SQLite's writers wait
// for none) and no snapshot (a WAL checkpoint is not held back).
class TReadOnlyTransaction {
 public:
  explicit TReadOnlyTransaction(TMSConnection& connection) : connection_(connection) {
    connection_.StartTransaction();
  }
  ~TReadOnlyTransaction() {
    try {
      if (connection_.InTransaction()) connection_.Rollback();
    } catch (...) {
      // A lost connection has ended the transaction by itself.
    }
  }
  TReadOnlyTransaction(const TReadOnlyTransaction&) = delete;
  TReadOnlyTransaction& operator=(const TReadOnlyTransaction&) = delete;

 private:
  TMSConnection& connection_;
};

// The check of one value, in the pool's terms: stored_compressed for a sound
// envelope, damage for one no reader can read, neither for a plain value.
TRewrittenRow CheckRow(TPassRow& row) {
  TRewrittenRow out;
  const std::string stored = std::move(row.stored);
  row.stored.clear();
  if (row.value_is_null) return out;
  const EnvelopeCheck check = CheckStoredValue(stored);
  switch (check.form) {
    case StoredForm::Plain: out.plain_size = static_cast<int64_t>(stored.size()); break;
    case StoredForm::Compressed:
      out.stored_compressed = true;
      out.plain_size = check.plain_length;
      break;
    case StoredForm::Damaged:
      out.plain_size = static_cast<int64_t>(stored.size());
      out.damage = check.reason;
      break;
  }
  return out;
}

// A check holds the stored bytes and one piece of decoded output.
int64_t CheckBytes(const TPassRow& row) { return static_cast<int64_t>(row.stored.size()) + (64 << 10); }

class TVerifier {
 public:
  TVerifier(TVerifyResult& result, const std::function<void(const TDamagedValue&)>& on_damaged,
            TRecompressObserver* observer)
      : result_(result), on_damaged_(on_damaged), observer_(observer) {}

  void Count(const TRewrittenRow& row, const std::string& key) {
    ++result_.records;
    if (!row.damage.empty()) {
      ++result_.damaged;
      TDamagedValue damaged{key, row.damage};
      if (on_damaged_) on_damaged_(damaged);
      result_.damaged_values.push_back(std::move(damaged));
    } else if (row.stored_compressed) {
      ++result_.compressed;
    } else {
      ++result_.plain;
    }
    if (observer_) observer_->RowHandled(row.plain_size, false);
  }

 private:
  TVerifyResult& result_;
  const std::function<void(const TDamagedValue&)>& on_damaged_;
  TRecompressObserver* observer_;
};

void RunVerification(const std::string& table, const std::string& field, const std::string& key,
                     const TRecompressOptions& options, TVerifyResult& result,
                     const std::function<void(const TDamagedValue&)>& on_damaged,
                     TRecompressObserver* observer) {
  // The time limit holds from the first statement on.
  const TPassCancelReachesRequests cancel_reaches_requests;
  const TPassTimeLimit time_limit(PassConnection(), options.timeout_seconds);
  // The rows counted for the target are committed ones too.
  const TCommittedReads committed_reads(PassConnection());
  const TPassTarget target = ResolvePassTarget(table, field, key);
  TMSConnection& connection = *target.connection;
  providers::Provider& provider = connection.GetProvider();
  const int threads = TRewritePool::ThreadsFor(options.threads);
  const int64_t budget = options.budget_bytes > 0 ? options.budget_bytes : kDefaultPassBudgetBytes;
  TVerifier verifier(result, on_damaged, observer);

  if (observer) observer->PassStarted(target.key.rows);

  const Variant start_after = StartKeyOf(target, options);
  TPassReader reader(provider, target.statements, budget, start_after);
  while (true) {
    std::vector<TPassRow> page;
    {
      const TReadOnlyTransaction transaction(connection);
      page = reader.NextPage();
    }
    if (page.empty()) break;
    TRewritePool pool(page, CheckRow, CheckBytes, threads, budget);
    for (size_t i = 0; i < page.size(); ++i) {
      if (PassCancelRequested()) {
        result.cancelled = true;
        return;
      }
      const TRewrittenRow row = pool.Take(i);
      verifier.Count(row, KeyText(page[i].key));
    }
  }

  // Rows whose key is NULL cannot be paged on their key: their values are read
  // in one statement of their own, one value at a time.
  // They come before every key, so a run that starts after a key has none.
  if (target.key.null_rows > 0 && start_after.IsNull()) {
    const TReadOnlyTransaction transaction(connection);
    auto cursor = provider.Execute(
        "select " + field + " from " + table + " where " + target.key.name + " is null", {});
    while (cursor->Next()) {
      if (PassCancelRequested()) {
        result.cancelled = true;
        return;
      }
      TPassRow row;
      Variant value = cursor->Value(0);
      row.value_is_null = value.IsNull();
      row.stored = value.TakeString();
      verifier.Count(CheckRow(row), "NULL");
    }
  }
}

}  // namespace

void VerifyTable(const std::string& Table, const std::string& Field, const std::string& Key,
                 const TRecompressOptions& Options, TVerifyResult& Result,
                 const std::function<void(const TDamagedValue&)>& OnDamaged, TRecompressObserver* Observer) {
  Result = TVerifyResult();
  ResetPassCancel();
  try {
    RunVerification(Table, Field, Key, Options, Result, OnDamaged, Observer);
  } catch (...) {
    if (Observer) Observer->PassEnded();
    throw;
  }
  if (Observer) Observer->PassEnded();
}

std::string VerifySummary(const TVerifyResult& Result) {
  return "Verified " + std::to_string(Result.records) + " records: " + std::to_string(Result.compressed) +
         " compressed, " + std::to_string(Result.plain) + " plain, " + std::to_string(Result.damaged) +
         " damaged";
}

std::string DamagedLine(const TDamagedValue& Value) {
  return "Damaged value, key " + Value.key + ": " + Value.reason;
}

}  // namespace tersify
