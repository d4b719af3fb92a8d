#include "tool/pass/read_ahead.h"

#include <algorithm>
#include <chrono>

namespace tersify {

TPassCompanion::TPassCompanion(TMSConnection& connection) : connection_(std::make_unique<TMSConnection>(nullptr)) {
  TMSConnection& companion = *connection_;
  companion.SetServer(connection.Server());
  companion.SetDatabase(connection.Database());
  companion.SetUsername(connection.Username());
  companion.SetPassword(connection.Password());
  companion.SetPort(connection.Port());
  companion.SetAuthentication(connection.Authentication());
  companion.Options() = connection.Options();
  companion.SetLoginTimeout(connection.LoginTimeout());
  companion.SpecificOptions().Assign(connection.SpecificOptions());
  companion.SetLoginPrompt(false);
  companion.SetIsolationLevel(TIsolationLevel::ilReadUnCommitted);
  const int timeout = connection.GetProvider().CommandTimeout();
  // Across a network a log-in is a few round trips: they go by beside the
  // pass's own first requests.
  opened_ = std::async(std::launch::async, [&companion, timeout] {
    companion.Open();
    companion.GetProvider().SetCommandTimeout(timeout);
  });
}

TPassCompanion::~TPassCompanion() {
  if (opened_.valid()) opened_.wait();
}

TMSConnection& TPassCompanion::Open() {
  if (opened_.valid()) opened_.get();
  return *connection_;
}

TPassPages::TPassPages(TMSConnection& connection, const TPassStatements& statements, int64_t budget_bytes,
                       TPassCompanion* companion, Variant start_after, TRateLimit* pace)
    : read_ahead_(companion != nullptr), budget_bytes_(std::max<int64_t>(budget_bytes, 1)), pace_(pace) {
  auto make_reader = [this, &statements](TMSConnection& reading, int64_t page_budget, Variant after) {
    reader_ = std::make_unique<TPassReader>(reading.GetProvider(), statements, page_budget, std::move(after));
    reader_->SetPace(pace_);
    // A cancel must not wait for a page read ahead to arrive whole.
    reader_->StopReadingOnCancel();
  };
  if (!companion) {
    make_reader(connection, budget_bytes_, std::move(start_after));
    return;
  }
  // The first page is read on the companion while the writer's connection
  // settles the rest.
  ahead_ = std::async(std::launch::async, [this, companion, make_reader, after = std::move(start_after)]() mutable {
    make_reader(companion->Open(), std::max<int64_t>(budget_bytes_ / 4, 1), std::move(after));
    std::vector<TPassRow> first = reader_->NextPage();
    if (!first.empty() && RoomAfter(first)) {
      try {
        second_ = reader_->NextPage();
      } catch (...) {
        second_error_ = std::current_exception();  // raised when the second page is asked for
      }
    }
    return first;
  });
}

TPassPages::~TPassPages() {
  if (pace_) pace_->Release();
  if (ahead_.valid()) ahead_.wait();
}

bool TPassPages::NextPageArrived() const {
  return ahead_.valid() && ahead_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

bool TPassPages::RoomAfter(const std::vector<TPassRow>& page) const {
  return StoredBytesOf(page) < budget_bytes_ / 2;
}

std::vector<TPassRow> TPassPages::NextPage() {
  std::vector<TPassRow> page = ahead_.valid() ? ahead_.get() : reader_->NextPage();
  if (!read_ahead_ || page.empty()) return page;
  if (second_ || second_error_) {
    std::promise<std::vector<TPassRow>> read;
    if (second_error_) read.set_exception(second_error_);
    else read.set_value(std::move(*second_));
    second_.reset();
    second_error_ = nullptr;
    ahead_ = read.get_future();
    return page;
  }
  if (RoomAfter(page)) ahead_ = std::async(std::launch::async, [this] { return reader_->NextPage(); });
  return page;
}

}  // namespace tersify
