#include "ui/step_queue.h"

#include <optional>
#include <utility>

#include "ui/thread_signal.h"

namespace kelvora::ui {

StepQueue::StepQueue(std::function<void()> post_wakeup)
    : ui_thread_(std::this_thread::get_id()), post_wakeup_(std::move(post_wakeup)) {}

void StepQueue::Run(const Step& step) {
  if (OnUiThread()) {
    step();
    return;
  }
  // A signal per hand-over: cheap (one event), and nothing outlives the call.
  ThreadSignal done;
  std::exception_ptr error;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(Entry{&step, &error, &done});
  }
  post_wakeup_();
  done.Wait();
  if (error) std::rethrow_exception(error);
}

void StepQueue::RunPending() {
  for (;;) {
    std::optional<Entry> entry;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      entry = queue_.front();
      queue_.pop_front();
    }
    try {
      (*entry->step)();
    } catch (...) {
      *entry->error = std::current_exception();
    }
    entry->done->Notify();
  }
}

}  // namespace kelvora::ui
