#include "ui/step_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kelvora::ui {
namespace {

// A stand-in UI thread: the test's own thread, which runs the queue when the
// wake-up arrives, as the hidden application window does.
struct FakeUiThread {
  std::mutex mutex;
  std::condition_variable woken;
  int wakeups = 0;
  StepQueue queue{[this] {
    std::lock_guard lock(mutex);
    ++wakeups;
    woken.notify_one();
  }};

  // Waits for `count` wake-ups in total, running the queue after each.
  void Dispatch(int count) {
    for (int seen = 0; seen < count;) {
      std::unique_lock lock(mutex);
      woken.wait(lock, [&] { return wakeups > seen; });
      seen = wakeups;
      lock.unlock();
      queue.RunPending();
    }
  }
};

TEST(StepQueue, StepOnTheUiThreadRunsAtOnceWithoutWakeUp) {
  FakeUiThread ui;
  int ran = 0;
  ui.queue.Run([&] { ++ran; });
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(ui.wakeups, 0);
}

TEST(StepQueue, BackgroundStepRunsOnTheUiThreadAndCallerWaitsForIt) {
  FakeUiThread ui;
  const auto ui_id = std::this_thread::get_id();
  std::thread::id ran_on;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    ui.queue.Run([&] { ran_on = std::this_thread::get_id(); });
    returned = true;
  });
  ui.Dispatch(1);
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(ran_on, ui_id);
}

TEST(StepQueue, StepsRunFirstInFirstOut) {
  FakeUiThread ui;
  std::vector<int> order;
  std::vector<std::thread> workers;
  // Hand over one step per thread, one after another, so the order is known.
  for (int i = 0; i < 5; ++i) {
    workers.emplace_back([&, i] { ui.queue.Run([&, i] { order.push_back(i); }); });
    // Wait until this thread's wake-up has arrived before starting the next.
    std::unique_lock lock(ui.mutex);
    ui.woken.wait(lock, [&] { return ui.wakeups > i; });
  }
  ui.queue.RunPending();
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(StepQueue, ErrorOfAStepIsRaisedAgainInTheWaitingThread) {
  FakeUiThread ui;
  std::string caught;
  std::thread worker([&] {
    try {
      ui.queue.Run([] { throw std::runtime_error("Stream-Schreibfehler"); });
    } catch (const std::runtime_error& error) {
      caught = error.what();
    }
  });
  ui.Dispatch(1);
  worker.join();
  EXPECT_EQ(caught, "Stream-Schreibfehler");
  // The queue goes on working after a failed step.
  int ran = 0;
  std::thread next([&] { ui.queue.Run([&] { ++ran; }); });
  ui.Dispatch(2);
  next.join();
  EXPECT_EQ(ran, 1);
}

TEST(StepQueue, StepsHandedOverDuringAStepRunInsideItsNestedDispatch) {
  // A step that runs a modal loop (a dialog) lets later steps run inside it.
  FakeUiThread ui;
  std::vector<std::string> events;
  std::thread second;
  std::thread first([&] {
    ui.queue.Run([&] {
      events.push_back("first begins");
      second = std::thread([&] { ui.queue.Run([&] { events.push_back("second"); }); });
      ui.Dispatch(2);  // the nested loop
      events.push_back("first ends");
    });
  });
  ui.Dispatch(1);
  first.join();
  second.join();
  EXPECT_EQ(events, (std::vector<std::string>{"first begins", "second", "first ends"}));
}

TEST(StepQueue, KnowsWhileAStepRunsItsModalLoop) {
  // A close request handled inside a step's dialog must be able to tell.
  FakeUiThread ui;
  std::vector<bool> seen;
  std::thread worker([&] {
    ui.queue.Run([&] { seen.push_back(ui.queue.RunningStep()); });
    try {
      ui.queue.Run([] { throw std::runtime_error("failed step"); });
    } catch (const std::runtime_error&) {
    }
  });
  seen.push_back(ui.queue.RunningStep());
  ui.Dispatch(2);
  worker.join();
  seen.push_back(ui.queue.RunningStep());  // also after a step that threw
  ui.queue.Run([&] { seen.push_back(ui.queue.RunningStep()); });
  EXPECT_EQ(seen, (std::vector<bool>{false, true, false, true}));
}

TEST(StepQueue, ManyThreadsHandingOverConcurrentlyAllComplete) {
  FakeUiThread ui;
  constexpr int kThreads = 4, kSteps = 200;
  int total = 0;  // touched only on the UI thread
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t)
    workers.emplace_back([&] {
      for (int i = 0; i < kSteps; ++i) ui.queue.Run([&] { ++total; });
      ++finished;
    });
  while (finished < kThreads) {
    std::unique_lock lock(ui.mutex);
    ui.woken.wait_for(lock, std::chrono::milliseconds(10));
    lock.unlock();
    ui.queue.RunPending();
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(total, kThreads * kSteps);
}

}  // namespace
}  // namespace kelvora::ui
