#pragma once
// A one-shot wake-up for a thread that waits for a UI-thread step; on Windows
// it is an auto-reset event, the cheapest wait the platform offers.

#include <memory>

namespace kelvora::ui {

class ThreadSignal {
 public:
  ThreadSignal();
  ~ThreadSignal();
  ThreadSignal(const ThreadSignal&) = delete;
  ThreadSignal& operator=(const ThreadSignal&) = delete;

  void Notify();  // any thread
  void Wait();    // the owning thread; returns once per Notify

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kelvora::ui
