#pragma once
// A run's stop: set once, by the window's close, never reset. Setting it
// raises a flag and then an event, so that the check every network call makes
// before it starts costs no trip to the kernel, and a wait can still take the
// event together with what it waits for.
//
// A call's check and its start exclude the stop (StartUnlessSet): once Set()
// has returned, no call starts. The lock behind this is held only while a
// call is being started, and a reader's uncontended acquire stays in user
// mode; Set() waits for a start in progress at most kLongestStartWait.

#include <windows.h>

#include <atomic>
#include <memory>

#include "common/win32_handles.h"

namespace kelvora {

// A reader of a stop's flag that may outlive the StopSignal: for a thread
// that a stop leaves behind. An empty one is never set. Any thread.
class StopFlag {
 public:
  StopFlag() = default;
  bool IsSet() const { return set_ && set_->load(std::memory_order_acquire); }

 private:
  friend class StopSignal;
  explicit StopFlag(std::shared_ptr<const std::atomic<bool>> set) : set_(std::move(set)) {}
  std::shared_ptr<const std::atomic<bool>> set_;
};

class StopSignal {
 public:
  // Check Ready(): without its event a stop could not end any wait.
  StopSignal() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  bool Ready() const { return static_cast<bool>(event_); }
  // How long Set() waits at most for a start in progress to return.
  static constexpr ULONGLONG kLongestStartWait = 250;
  // Any thread. When it returns, every StartUnlessSet has either begun its
  // call (and finished starting it, unless that took over kLongestStartWait)
  // or will not start.
  void Set();
  bool IsSet() const { return set_->load(std::memory_order_acquire); }
  // The flag alone, shared: it stays readable after this object is gone.
  StopFlag Flag() const { return StopFlag(set_); }
  // Any thread: runs `start` (which must only start something, not wait for
  // it) unless the stop is set, and returns whether it ran. Set() waits for
  // a start in progress to return.
  template <typename Start>
  bool StartUnlessSet(Start&& start) const {
    ::AcquireSRWLockShared(&lock_);
    const bool run = !IsSet();
    if (run) start();
    ::ReleaseSRWLockShared(&lock_);
    return run;
  }
  // Manual-reset, signalled once set; lives as long as this object.
  HANDLE Event() const { return event_.get(); }

 private:
  // Shared with the StopFlags given out (a thread left behind may hold one).
  std::shared_ptr<std::atomic<bool>> set_ = std::make_shared<std::atomic<bool>>(false);
  mutable SRWLOCK lock_ = SRWLOCK_INIT;
  unique_handle event_;
};

}  // namespace kelvora
