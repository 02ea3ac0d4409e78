#pragma once
// The download worker: fetches one fragment of the installer with a ranged
// GET straight into its part of the file, reporting progress as it goes.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/stop_signal_win.h"
#include "common/win32_handles.h"
#include "download/fragment_fetch.h"
#include "download/transfer_check.h"

namespace kelvora {

// A worker's progress notification; always called on the worker's thread.
// A handler that leaves `Abort` true stops the worker's transfer.
using TDownloadThreadDataEvent =
    std::function<void(const void* Sender, std::int32_t ThreadNo, std::int32_t ASpeed, std::int64_t AContentLength,
                       std::int64_t AReadCount, bool& Abort)>;

// A worker owns one thread that runs Execute. It is made not running and
// started with Start; the finished flag is set as the thread's last act,
// after a normal end or an error. An error only ends the transfer: the
// outcome then says it did not end normally, and nothing reports it.
class TDownloadThread {
 public:
  // `File` is the worker's own handle on the run's working file (a
  // duplicate of the coordinator's): the file is never opened by name, where
  // another process could have put something else.
  TDownloadThread(std::wstring URL, unique_file File, std::int32_t ThreadNo, std::int64_t StartPoint,
                  std::int64_t EndPoint);

  // The run's stop signal (it outlives the worker):
  // once set, the transfer and any wait between its requests end at once.
  // Further GETs after a dropped connection, a busy answer or a connection
  // that failed (see FetchFragment); none by default. Both set before Start.
  void SetStopSignal(const StopSignal* stop) { stop_ = stop; }
  void SetResumeAttempts(int attempts) { resume_attempts_ = attempts; }
  // Bytes an earlier run left in place at the fragment's start, to continue
  // (FetchRequest::continue_from); set before Start.
  // Until the fetch reports otherwise, the fragment stands where those bytes end.
  void SetContinuation(std::optional<ResumePoint> point) {
    if (point) progress_.reached = *point;
    continue_from_ = std::move(point);
  }
  // Waits for the thread's end.
  ~TDownloadThread();
  TDownloadThread(const TDownloadThread&) = delete;
  TDownloadThread& operator=(const TDownloadThread&) = delete;

  // The progress handler; set before Start.
  void SetOnThreadData(TDownloadThreadDataEvent handler) { FOnThreadData = std::move(handler); }

  // Starts the thread; throws Win32Error when it cannot be created.
  void Start();
  bool Finished() const { return finished_.load(); }
  // The thread's handle for waiting on, null before Start.
  HANDLE Handle() const { return thread_.get(); }
  // Waits without limit for the thread's end (nothing when never started).
  void WaitForEnd();

  // How the transfer ended; read after the thread has ended.
  const TransferOutcome& Outcome() const { return outcome_; }
  // Where the fragment stands however the transfer ended; read after the thread has ended.
  const FetchProgress& Progress() const { return progress_; }

 private:
  static DWORD WINAPI ThreadProc(void* self);
  void Execute();
  void ReceiveDataHook(const void* Sender, std::int64_t AContentLength, std::int64_t AReadCount, bool& Abort);

  TDownloadThreadDataEvent FOnThreadData;
  std::wstring FURL;
  unique_file FFile;
  std::int64_t FStartPoint;
  std::int64_t FEndPoint;
  std::int32_t FThreadNo;
  std::uint32_t FTimeStart = 0;
  int resume_attempts_ = 0;
  std::optional<ResumePoint> continue_from_;
  const StopSignal* stop_ = nullptr;
  TransferOutcome outcome_;
  FetchProgress progress_;
  // The bytes this run brought, for the speed: bytes kept from an earlier
  // run, or written again after a start-over, do not count twice.
  std::int64_t last_count_ = -1;
  std::int64_t run_bytes_ = 0;
  unique_handle thread_;
  std::atomic<bool> finished_{false};
};

}  // namespace kelvora
