#pragma once
// A run's stop: set once, by the window's close, never reset. Setting it
// raises a flag and then an event, so that the check every network call makes
// before it starts costs no trip to the kernel, and a wait can still take the
// event together with what it waits for.

#include <windows.h>

#include <atomic>

#include "common/win32_handles.h"

namespace kelvora {

class StopSignal {
 public:
  // Check Ready(): without its event a stop could not end any wait.
  StopSignal() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  bool Ready() const { return static_cast<bool>(event_); }
  // Any thread.
  void Set();
  bool IsSet() const { return set_.load(std::memory_order_acquire); }
  // Manual-reset, signalled once set; lives as long as this object.
  HANDLE Event() const { return event_.get(); }

 private:
  std::atomic<bool> set_{false};
  unique_handle event_;
};

}  // namespace kelvora
