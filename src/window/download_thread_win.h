#pragma once
// The download worker: fetches one fragment of the installer with a ranged
// GET straight into its part of the file, reporting progress as it goes.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "common/win32_handles.h"
#include "window/transfer_check.h"

namespace kelvora {

// A worker's progress notification; always called on the worker's thread.
// A handler that leaves `Abort` true stops the worker's transfer.
using TDownloadThreadDataEvent =
    std::function<void(const void* Sender, std::int32_t ThreadNo, std::int32_t ASpeed, std::int64_t AContentLength,
                       std::int64_t AReadCount, bool& Abort)>;

// An object owning one thread that runs Execute. Made not running, started
// with Start; the finished flag is set as the thread's last act, after a
// normal end or an error, which is kept and never reported. The most derived
// class must call WaitForEnd in its destructor, before its own members go.
class TBackgroundThread {
 public:
  TBackgroundThread() = default;
  virtual ~TBackgroundThread();
  TBackgroundThread(const TBackgroundThread&) = delete;
  TBackgroundThread& operator=(const TBackgroundThread&) = delete;

  // Starts the thread; throws Win32Error when it cannot be created.
  void Start();
  bool Finished() const { return finished_.load(); }
  // The thread's handle for waiting on, null before Start.
  HANDLE Handle() const { return thread_.get(); }
  // Waits without limit for the thread's end (nothing when never started).
  void WaitForEnd();

 protected:
  virtual void Execute() = 0;
  bool EndedByError() const { return static_cast<bool>(error_); }

 private:
  static DWORD WINAPI ThreadProc(void* self);
  unique_handle thread_;
  std::exception_ptr error_;
  std::atomic<bool> finished_{false};
};

class TDownloadThread : public TBackgroundThread {
 public:
  // `File` is the worker's own handle on the run's working file (a
  // duplicate of the coordinator's): the file is never opened by name, where
  // another process could have put something else.
  TDownloadThread(std::wstring URL, unique_file File, std::int32_t ThreadNo, std::int64_t StartPoint,
                  std::int64_t EndPoint);
  // Waits for the thread's end, then discards any error it kept.
  ~TDownloadThread() override;

  // The progress handler; set before Start.
  void SetOnThreadData(TDownloadThreadDataEvent handler) { FOnThreadData = std::move(handler); }

  // How the transfer ended; read after the thread has ended.
  const TransferOutcome& Outcome() const { return outcome_; }

 protected:
  void Execute() override;
  void ReceiveDataHook(const void* Sender, std::int64_t AContentLength, std::int64_t AReadCount, bool& Abort);

 private:
  TDownloadThreadDataEvent FOnThreadData;
  std::wstring FURL;
  unique_file FFile;
  std::int64_t FStartPoint;
  std::int64_t FEndPoint;
  std::int32_t FThreadNo;
  std::uint32_t FTimeStart = 0;
  TransferOutcome outcome_;
};

}  // namespace kelvora
