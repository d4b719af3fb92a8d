#pragma once
// One piece of database work at a time on a thread of its own, so that the
// window keeps painting, resizing and scrolling while it runs. What the work
// reports back reaches the window's thread through queued calls; the caller
// keeps the window from touching the database until the job is done.

#include <QObject>
#include <functional>
#include <thread>

namespace tersify::gui {

class TBackgroundJob : public QObject {
  Q_OBJECT

 public:
  explicit TBackgroundJob(QObject* parent = nullptr) : QObject(parent) {}
  // Waits for a running job (see Wait).
  ~TBackgroundJob() override;

  // Runs work on a new thread; once it has returned, done runs on this
  // object's thread. Only one job at a time: a second start while one runs
  // raises. Work must not raise: it catches what it wants to report.
  void Start(std::function<void()> work, std::function<void()> done);

  // True from Start until done has run.
  bool Running() const { return running_; }

  // Returns once done has run, delivering this thread's events meanwhile so
  // that the job's queued calls (progress, a message box it asks for) get
  // through; returns at once when no job runs.
  void Wait();

 private:
  void Finish();

  std::thread thread_;
  std::function<void()> done_;
  bool running_ = false;
};

}  // namespace tersify::gui
