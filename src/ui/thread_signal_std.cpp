#include <condition_variable>
#include <mutex>

#include "ui/thread_signal.h"

namespace kelvora::ui {

struct ThreadSignal::Impl {
  std::mutex mutex;
  std::condition_variable condition;
  bool signalled = false;
};

ThreadSignal::ThreadSignal() : impl_(std::make_unique<Impl>()) {}
ThreadSignal::~ThreadSignal() = default;

void ThreadSignal::Notify() {
  std::lock_guard lock(impl_->mutex);
  impl_->signalled = true;
  impl_->condition.notify_one();
}

void ThreadSignal::Wait() {
  std::unique_lock lock(impl_->mutex);
  impl_->condition.wait(lock, [this] { return impl_->signalled; });
  impl_->signalled = false;
}

}  // namespace kelvora::ui
