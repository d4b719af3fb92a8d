#include "tool/gui/background_job.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <stdexcept>

namespace tersify::gui {

TBackgroundJob::~TBackgroundJob() {
  Wait();
  if (thread_.joinable()) thread_.join();
}

void TBackgroundJob::Start(std::function<void()> work, std::function<void()> done) {
  if (running_) throw std::logic_error("A job is running already");
  if (thread_.joinable()) thread_.join();
  done_ = std::move(done);
  running_ = true;
  thread_ = std::thread([this, work = std::move(work)] {
    work();
    // The object outlives the thread (its destructor waits for Finish), so
    // the queued call always finds it.
    QMetaObject::invokeMethod(this, [this] { Finish(); }, Qt::QueuedConnection);
  });
}

void TBackgroundJob::Finish() {
  thread_.join();
  running_ = false;
  // done may start the next job, so it is moved out first.
  std::function<void()> done = std::move(done_);
  done_ = nullptr;
  if (done) done();
}

void TBackgroundJob::Wait() {
  while (running_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace tersify::gui
