#pragma once
// The production transport: WinHTTP, one session per client. Each call
// returns when it is done, as the client expects, but a stop signal ends any
// of them at once (ERROR_WINHTTP_OPERATION_CANCELLED).

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <memory>

#include "common/stop_signal_win.h"
#include "net/http_client.h"
#include "net/transport.h"
#include "net/winhttp_api.h"

namespace kelvora::net {

class WinHttpTransport : public Transport {
 public:
  static constexpr DWORD kTimeoutMs = 60000;

  // Opens the session (no proxy of its own, empty agent: the agent goes as an
  // explicit header) and limits it to TLS 1.2 and later. Throws
  // HttpError(Client, "Fehler beim Abrufen des Sitzungs-Handle") when it
  // cannot be opened (System32's WinHTTP missing included) or the system
  // cannot do TLS 1.2. `stop` (null for none) ends every call in progress
  // once set, and no call starts after; it must outlive the transport. The
  // product always uses the default timeouts; only test tools pass a shorter
  // one, and only tests another table of WinHTTP's functions (null:
  // System32's).
  explicit WinHttpTransport(const StopSignal* stop = nullptr, DWORD timeout_ms = kTimeoutMs,
                            const WinHttpApi* api = nullptr);

  std::unique_ptr<TransportRequest> NewRequest() override;
  ProxySetting FindProxy(const Url& url) override;
  std::wstring ErrorText(std::uint32_t error) override;
  std::uint32_t SecureFailures() override { return secure_failures_.load(); }
  void ClearSecureFailures() override { secure_failures_ = 0; }

  const WinHttpApi& api() const { return *api_; }
  HINTERNET session() const { return session_.get(); }
  // The WINHTTP_FLAG_SECURE_PROTOCOL_* flags the session accepted.
  DWORD secure_protocols() const { return secure_protocols_; }
  DWORD timeout_ms() const { return timeout_ms_; }
  const StopSignal* stop() const { return stop_; }
  bool Stopped() const;
  // Runs `start` unless the run is stopped, excluding a stop meanwhile
  // (StopSignal::StartUnlessSet); returns whether it ran.
  template <typename Start>
  bool StartUnlessStopped(Start&& start) const {
    if (!stop_) {
      start();
      return true;
    }
    return stop_->StartUnlessSet(start);
  }
  void RecordSecureFailure(std::uint32_t reasons) { secure_failures_ |= reasons; }

 private:
  const WinHttpApi* api_;
  const StopSignal* stop_;
  DWORD timeout_ms_;
  unique_hinternet session_;
  DWORD secure_protocols_ = 0;
  std::atomic<std::uint32_t> secure_failures_{0};
};

// The client the download engine uses, ended at once by `stop` (see
// WinHttpTransport). Call on the thread that will use the client; throws
// HttpError(Client) when the session cannot be opened.
std::unique_ptr<HttpClient> CreateWinHttpClient(const StopSignal* stop = nullptr);

}  // namespace kelvora::net
