#include "tool/pass/read_ahead.h"

#include <algorithm>

namespace tersify {
namespace {

// A second connection to the database of `connection`, with its settings and
// its time limit, reading uncommitted; no prompt and no events.
std::unique_ptr<TMSConnection> Companion(TMSConnection& connection) {
  auto companion = std::make_unique<TMSConnection>(nullptr);
  companion->SetServer(connection.Server());
  companion->SetDatabase(connection.Database());
  companion->SetUsername(connection.Username());
  companion->SetPassword(connection.Password());
  companion->SetPort(connection.Port());
  companion->SetAuthentication(connection.Authentication());
  companion->Options() = connection.Options();
  companion->SetLoginTimeout(connection.LoginTimeout());
  companion->SpecificOptions().Assign(connection.SpecificOptions());
  companion->SetLoginPrompt(false);
  companion->SetIsolationLevel(TIsolationLevel::ilReadUnCommitted);
  companion->Open();
  companion->GetProvider().SetCommandTimeout(connection.GetProvider().CommandTimeout());
  return companion;
}

}  // namespace

TPassPages::TPassPages(TMSConnection& connection, const TPassStatements& statements, int64_t budget_bytes,
                       bool read_ahead, Variant start_after)
    : budget_bytes_(std::max<int64_t>(budget_bytes, 1)) {
  if (read_ahead) companion_ = Companion(connection);
  TMSConnection& reading = companion_ ? *companion_ : connection;
  reader_ = std::make_unique<TPassReader>(reading.GetProvider(), statements,
                                          companion_ ? std::max<int64_t>(budget_bytes_ / 2, 1) : budget_bytes_,
                                          std::move(start_after));
  // A cancel must not wait for a page read ahead to arrive whole.
  reader_->StopReadingOnCancel();
}

TPassPages::~TPassPages() {
  if (pace_) pace_->Release();
  if (ahead_.valid()) ahead_.wait();
}

std::vector<TPassRow> TPassPages::NextPage() {
  std::vector<TPassRow> page = ahead_.valid() ? ahead_.get() : reader_->NextPage();
  if (!companion_ || page.empty()) return page;
  int64_t bytes = 0;
  for (const TPassRow& row : page) bytes += static_cast<int64_t>(row.stored.size());
  if (bytes < budget_bytes_ / 4)
    ahead_ = std::async(std::launch::async, [this] { return reader_->NextPage(); });
  return page;
}

}  // namespace tersify
