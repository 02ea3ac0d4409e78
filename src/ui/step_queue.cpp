#include "ui/step_queue.h"

#include <utility>

namespace kelvora::ui {

namespace {
// Counts a step as running for as long as it runs, however it ends.
class Running {
 public:
  explicit Running(int& count) : count_(count) { ++count_; }
  ~Running() { --count_; }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

 private:
  int& count_;
};
}  // namespace

StepQueue::StepQueue(std::function<void()> post_wakeup)
    : ui_thread_(std::this_thread::get_id()), post_wakeup_(std::move(post_wakeup)) {}

void StepQueue::Run(StepRef step) {
  if (OnUiThread()) {
    const Running running(running_);
    step();
    return;
  }
  Entry entry(step);
  lock_.Lock();
  (tail_ ? tail_->next : head_) = &entry;
  tail_ = &entry;
  lock_.Unlock();
  post_wakeup_();
  lock_.Lock();
  while (!entry.done) lock_.Wait();
  lock_.Unlock();
  if (entry.error) std::rethrow_exception(entry.error);
}

void StepQueue::RunPending() {
  for (;;) {
    lock_.Lock();
    Entry* entry = head_;
    if (entry) {
      head_ = entry->next;
      if (!head_) tail_ = nullptr;
    }
    lock_.Unlock();
    if (!entry) return;
    try {
      const Running running(running_);
      entry->step();
    } catch (...) {
      entry->error = std::current_exception();
    }
    // Once done is seen the waiter returns and its entry is gone: touch it no more.
    lock_.Lock();
    entry->done = true;
    lock_.Unlock();
    lock_.NotifyAll();
  }
}

}  // namespace kelvora::ui
