#pragma once
// Hand-over of steps to the UI thread. A background thread appends a step,
// posts a wake-up to the UI thread and waits until the step has run there;
// an exception the step throws is thrown again in the waiting thread. The UI
// thread runs queued steps in order whenever it dispatches a wake-up (also
// inside modal loops) and whenever its main loop is idle.
//
// A hand-over allocates nothing: the queue entry lives on the waiting
// thread's stack, the step is referred to, not copied, and the wake-up of the
// waiter is a condition that lives as long as the queue.

#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <type_traits>

#include "ui/hand_over_lock.h"

namespace kelvora::ui {

// A reference to a callable taking no arguments: refers to it, never copies
// it. The callable must outlive the reference (a temporary passed straight to
// StepQueue::Run lives until Run returns).
class StepRef {
 public:
  template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, StepRef> && std::is_invocable_v<F&>)
  StepRef(F&& step) noexcept  // NOLINT(google-explicit-constructor): lambdas pass straight in
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(step)))),
        call_([](void* object) { (*static_cast<std::remove_reference_t<F>*>(object))(); }) {}

  void operator()() const { call_(object_); }

 private:
  void* object_;
  void (*call_)(void*);
};

class StepQueue {
 public:
  // Constructed on the UI thread. post_wakeup must be callable from any
  // thread and make the UI thread call RunPending soon.
  explicit StepQueue(std::function<void()> post_wakeup);
  StepQueue(const StepQueue&) = delete;
  StepQueue& operator=(const StepQueue&) = delete;

  // Any thread. On the UI thread the step runs at once. Elsewhere it blocks
  // until the UI thread has run the step; rethrows what the step threw.
  // A step still queued when the UI thread stops for good is never run, and
  // its caller waits until the process ends.
  void Run(StepRef step);

  // UI thread only: runs every step queued so far, first in, first out.
  // Re-entrant: a step that runs a modal loop lets later steps run inside it.
  void RunPending();

  bool OnUiThread() const { return std::this_thread::get_id() == ui_thread_; }

  // UI thread only: whether a step is running now, also while it waits in a
  // modal loop of its own (a dialog), inside which other events are handled.
  bool RunningStep() const { return running_ > 0; }

 private:
  // One waiting hand-over, on its caller's stack; linked into the queue.
  struct Entry {
    explicit Entry(StepRef s) : step(s) {}
    StepRef step;
    std::exception_ptr error;
    Entry* next = nullptr;
    bool done = false;  // guarded by lock_
  };

  const std::thread::id ui_thread_;
  const std::function<void()> post_wakeup_;
  HandOverLock lock_;
  Entry* head_ = nullptr;  // guarded by lock_
  Entry* tail_ = nullptr;  // guarded by lock_
  int running_ = 0;        // steps running on the UI thread, nested ones counted
};

}  // namespace kelvora::ui
