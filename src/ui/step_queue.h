#pragma once
// Hand-over of steps to the UI thread. A background thread appends a step,
// posts a wake-up to the UI thread and waits until the step has run there;
// an exception the step throws is thrown again in the waiting thread. The UI
// thread runs queued steps in order whenever it dispatches a wake-up (also
// inside modal loops) and whenever its main loop is idle.

#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace kelvora::ui {

class ThreadSignal;

class StepQueue {
 public:
  using Step = std::function<void()>;

  // Constructed on the UI thread. post_wakeup must be callable from any
  // thread and make the UI thread call RunPending soon.
  explicit StepQueue(std::function<void()> post_wakeup);
  StepQueue(const StepQueue&) = delete;
  StepQueue& operator=(const StepQueue&) = delete;

  // Any thread. On the UI thread the step runs at once. Elsewhere it blocks
  // until the UI thread has run the step; rethrows what the step threw.
  // A step still queued when the UI thread stops for good is never run, and
  // its caller waits until the process ends.
  void Run(const Step& step);

  // UI thread only: runs every step queued so far, first in, first out.
  // Re-entrant: a step that runs a modal loop lets later steps run inside it.
  void RunPending();

  bool OnUiThread() const { return std::this_thread::get_id() == ui_thread_; }

 private:
  struct Entry {
    const Step* step;
    std::exception_ptr* error;
    ThreadSignal* done;
  };

  const std::thread::id ui_thread_;
  const std::function<void()> post_wakeup_;
  std::mutex mutex_;
  std::deque<Entry> queue_;
};

}  // namespace kelvora::ui
