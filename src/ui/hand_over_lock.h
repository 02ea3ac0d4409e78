#pragma once
// The lock and the wake-up of the step hand-over: one lock with one
// condition, living as long as the queue, so that handing over a step creates
// no kernel object and allocates nothing. On Windows an SRW lock with a
// condition variable (Vista and later, no handle to close); elsewhere the
// standard mutex and condition variable.

#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#endif

namespace kelvora::ui {

class HandOverLock {
 public:
  HandOverLock() = default;
  HandOverLock(const HandOverLock&) = delete;
  HandOverLock& operator=(const HandOverLock&) = delete;

  void Lock();
  void Unlock();
  // With the lock held: releases it, sleeps until a NotifyAll (or for no
  // reason: callers test their condition again), then takes it again.
  void Wait();
  // Any thread, with or without the lock: wakes every waiter.
  void NotifyAll();

 private:
#ifdef _WIN32
  // An SRWLOCK and a CONDITION_VARIABLE: one pointer each, zero when unused.
  void* lock_ = nullptr;
  void* condition_ = nullptr;
#else
  std::mutex mutex_;
  std::condition_variable condition_;
#endif
};

}  // namespace kelvora::ui
