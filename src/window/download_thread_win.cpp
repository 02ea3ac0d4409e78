#include "window/download_thread_win.h"

#include "common/win32_error.h"
#include "net/file_stream_win.h"
#include "net/winhttp_transport.h"
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
  std::unique_ptr<net::HttpClient> client = net::CreateWinHttpClient();
  client->SetReceiveDataHandler([this](const void* sender, std::int64_t content_length, std::int64_t read_count,
                                       bool& abort) { ReceiveDataHook(sender, content_length, read_count, abort); });

  const unique_file file = std::move(FFile);
  FTimeStart = ::GetTickCount();
  net::FileStream stream(file.get());
  stream.Seek(FStartPoint);

  const net::HttpResponse response = client->GetRange(FURL, FStartPoint, FEndPoint, stream);
  outcome_.status = response.status;
  outcome_.content_range = response.Header(L"Content-Range");
  outcome_.content_length = response.content_length;
  outcome_.ended_normally = true;
}

void TDownloadThread::ReceiveDataHook(const void* Sender, std::int64_t AContentLength, std::int64_t AReadCount,
                                      bool& Abort) {
  // Kept for the completeness check: the count restarts with each response.
  outcome_.bytes_written = AReadCount;
  if (FOnThreadData) {
    const std::int32_t ASpeed = AverageSpeed(AReadCount, ::GetTickCount(), FTimeStart);
    FOnThreadData(Sender, FThreadNo, ASpeed, AContentLength, AReadCount, Abort);
  }
  outcome_.aborted = Abort;
}

}  // namespace kelvora
