#include "ui/hand_over_lock.h"

namespace kelvora::ui {

void HandOverLock::Lock() { mutex_.lock(); }
void HandOverLock::Unlock() { mutex_.unlock(); }

void HandOverLock::Wait() {
  // The caller holds the mutex; adopt it for the wait and hand it back held.
  std::unique_lock lock(mutex_, std::adopt_lock);
  condition_.wait(lock);
  lock.release();
}

void HandOverLock::NotifyAll() { condition_.notify_all(); }

}  // namespace kelvora::ui
