#include "window/download_thread_win.h"

#include "common/win32_error.h"
#include "net/file_stream_win.h"
#include "net/winhttp_transport.h"
#include "download/random_draw_win.h"
#include "download/stop_wait_win.h"
#include "window/transfer_speed.h"

namespace kelvora {

TDownloadThread::TDownloadThread(std::wstring URL, unique_file File, std::int32_t ThreadNo, std::int64_t StartPoint,
                                 std::int64_t EndPoint)
    : FURL(std::move(URL)),
      FFile(std::move(File)),
      FStartPoint(StartPoint),
      FEndPoint(EndPoint),
      FThreadNo(ThreadNo) {}

TDownloadThread::~TDownloadThread() { WaitForEnd(); }

void TDownloadThread::Start() {
  thread_.reset(::CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
  if (!thread_) ThrowLastError("CreateThread");
}

DWORD WINAPI TDownloadThread::ThreadProc(void* context) {
  auto* self = static_cast<TDownloadThread*>(context);
  try {
    self->Execute();
  } catch (...) {
    // The outcome shows the transfer did not end normally; that is all
    // anybody needs to know of the error.
  }
  self->finished_ = true;
  return 0;
}

void TDownloadThread::WaitForEnd() {
  if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
}

void TDownloadThread::Execute() {
  // Declared in release order: the file is closed before the client goes.
  std::unique_ptr<net::HttpClient> client = net::CreateWinHttpClient(stop_);
  const unique_file file = std::move(FFile);
  FTimeStart = ::GetTickCount();
  net::FileStream stream(file.get());

  // The fragment's end as the ranged GET takes it: inclusive, -1 for open.
  const Fragment fragment{FStartPoint, FEndPoint, FEndPoint >= 0 ? FEndPoint - FStartPoint + 1 : -1};
  const RetryRules retries{resume_attempts_, SystemRandomDraw, nullptr};
  outcome_ = FetchFragment(
      *client, {FURL, fragment, retries, continue_from_}, stream,
      [this](const void* sender, std::int64_t content_length, std::int64_t read_count, bool& abort) {
        ReceiveDataHook(sender, content_length, read_count, abort);
      },
      StopAwareWait(stop_), &progress_);
}

void TDownloadThread::ReceiveDataHook(const void* Sender, std::int64_t AContentLength, std::int64_t AReadCount,
                                      bool& Abort) {
  if (FOnThreadData) {
    // The whole run's rate: the bytes this run brought over the time since
    // the start. The count goes on from bytes already in place (kept by an
    // earlier run, or before a drop), and back to 0 at a start-over.
    if (last_count_ >= 0 && AReadCount > last_count_) run_bytes_ += AReadCount - last_count_;
    last_count_ = AReadCount;
    const std::int32_t ASpeed = AverageSpeed(run_bytes_, ::GetTickCount(), FTimeStart);
    FOnThreadData(Sender, FThreadNo, ASpeed, AContentLength, AReadCount, Abort);
  }
}

}  // namespace kelvora
