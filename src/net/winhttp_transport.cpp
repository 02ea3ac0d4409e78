#include "net/winhttp_transport.h"

#include <algorithm>
#include <vector>

#include "common/win32_error.h"
#include "net/winhttp_call_win.h"
#include "net/winhttp_proxy.h"

namespace kelvora::net {

namespace {

// Past WinHTTP's own time-outs, how long a line that has sent nothing is
// waited for before the call is given up as timed out (CallLink::Await:
// silence counts, not the length of a call).
constexpr DWORD kNoWordGrace = 5000;

class WinHttpRequest : public TransportRequest {
 public:
  explicit WinHttpRequest(WinHttpTransport& transport) : transport_(transport) {}
  ~WinHttpRequest() override { CloseHandles(); }

  OpenFailure Open(const Url& url, std::wstring_view method, std::uint32_t& error) override {
    CloseHandles();
    std::wstring host = url.host;
    if (host.size() > 2 && host.front() == L'[') host = host.substr(1, host.size() - 2);
    connection_.reset(api().Connect(transport_.session(), host.c_str(), url.port, 0));
    if (!connection_) {
      error = ::GetLastError();
      return OpenFailure::Connect;
    }
    const std::wstring verb(method);
    const std::wstring object = url.PathAndQuery();
    request_.reset(api().OpenRequest(connection_.get(), verb.c_str(), object.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                        url.secure() ? WINHTTP_FLAG_SECURE : 0));
    if (!request_) {
      error = ::GetLastError();
      return OpenFailure::OpenRequest;
    }
    link_ = CallLink::Create();
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(link_);
    if (!link_ || !api().SetOption(request_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context))) {
      error = link_ ? ::GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
      if (link_) link_->Release(false);
      link_ = nullptr;
      request_.reset();
      return OpenFailure::OpenRequest;
    }
    // The receive-response timeout is set on its own as well: without it a
    // server that never sends headers keeps the request waiting on some stacks.
    const DWORD timeout = transport_.timeout_ms();
    DWORD receive_timeout = timeout;
    if (!api().SetTimeouts(request_.get(), static_cast<int>(timeout), static_cast<int>(timeout),
                              static_cast<int>(timeout), static_cast<int>(timeout)) ||
        !api().SetOption(request_.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive_timeout,
                            sizeof(receive_timeout))) {
      error = ::GetLastError();
      return OpenFailure::Timeouts;
    }
    return OpenFailure::None;
  }

  std::uint32_t AddHeader(std::wstring_view name, std::wstring_view value, HeaderMode mode) override {
    if (!request_) return ERROR_WINHTTP_OPERATION_CANCELLED;
    const std::wstring line = std::wstring(name) + L": " + std::wstring(value);
    const DWORD flags = WINHTTP_ADDREQ_FLAG_ADD | (mode == HeaderMode::CoalesceWithComma
                                                       ? WINHTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA
                                                       : WINHTTP_ADDREQ_FLAG_REPLACE);
    return api().AddRequestHeaders(request_.get(), line.c_str(), static_cast<DWORD>(line.size()), flags)
               ? 0
               : ::GetLastError();
  }

  std::uint32_t QueryRequestHeaders(std::wstring& raw) override {
    return QueryRaw(WINHTTP_QUERY_RAW_HEADERS_CRLF | WINHTTP_QUERY_FLAG_REQUEST_HEADERS, raw);
  }

  void PrepareAttempt(const ProxySetting& proxy) override {
    if (!request_) return;
    DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
    api().SetOption(request_.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy));
    if (!proxy.proxy.empty()) {
      std::wstring name = proxy.proxy;
      std::wstring bypass = proxy.bypass;
      WINHTTP_PROXY_INFO info = {};
      info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
      info.lpszProxy = name.data();
      info.lpszProxyBypass = bypass.empty() ? nullptr : bypass.data();
      api().SetOption(request_.get(), WINHTTP_OPTION_PROXY, &info, sizeof(info));
    }
  }

  void DisableRedirectsAndCookies() override {
    if (!request_) return;
    DWORD feature = WINHTTP_DISABLE_REDIRECTS;
    api().SetOption(request_.get(), WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof(feature));
    feature = WINHTTP_DISABLE_COOKIES;
    api().SetOption(request_.get(), WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof(feature));
  }

  std::uint32_t Send() override {
    // The context goes with the call too: WinHTTP sets the handle's context to it.
    const auto error = Call([this] {
      return api().SendRequest(request_.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                               reinterpret_cast<DWORD_PTR>(link_));
    });
    TakeSecureFailures();
    return error;
  }

  std::uint32_t ReceiveResponse() override {
    const auto error = Call([this] { return api().ReceiveResponse(request_.get(), nullptr); });
    TakeSecureFailures();
    return error;
  }

  std::uint32_t DeclareNoClientCertificate() override {
    if (!request_) return ERROR_WINHTTP_OPERATION_CANCELLED;
    return api().SetOption(request_.get(), WINHTTP_OPTION_CLIENT_CERT_CONTEXT, WINHTTP_NO_CLIENT_CERT_CONTEXT, 0)
               ? 0
               : ::GetLastError();
  }

  std::uint32_t QueryStatus(std::int32_t& status) override {
    if (!request_) return ERROR_WINHTTP_OPERATION_CANCELLED;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!api().QueryHeaders(request_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &value, &size, WINHTTP_NO_HEADER_INDEX))
      return ::GetLastError();
    status = static_cast<std::int32_t>(value);
    return 0;
  }

  std::uint32_t QueryResponseHeaders(std::wstring& raw) override {
    return QueryRaw(WINHTTP_QUERY_RAW_HEADERS_CRLF, raw);
  }

  std::uint32_t QueryDataAvailable(std::uint32_t& bytes) override {
    // In asynchronous mode the count comes with the completion.
    if (const auto error = Call([this] { return api().QueryDataAvailable(request_.get(), nullptr); })) return error;
    bytes = link_->bytes();
    return 0;
  }

  void SetWaitingHandler(std::function<void()> handler) override { waiting_ = std::move(handler); }

  std::uint32_t ReadData(std::uint32_t size, const std::uint8_t*& data, std::uint32_t& read) override {
    // Wine (measured): in asynchronous mode a read ends when the buffer is
    // full or the body is, a read that fails keeps nothing of what it had,
    // and a read started while bytes are at hand runs on this thread until
    // it is full; Windows (documented) returns once some bytes are there. So
    // the client only reads what QueryDataAvailable found at hand. The bytes
    // land in the link's buffer, which WinHTTP may still write into after a
    // stop.
    std::uint8_t* landing = nullptr;
    const auto error = Call([this, size, &landing] {
      landing = link_->ReadBuffer(size);
      return api().ReadData(request_.get(), landing, size, nullptr);
    });
    if (error) return error;
    read = std::min<std::uint32_t>(link_->bytes(), size);
    data = landing;
    return 0;
  }

 private:
  const WinHttpApi& api() const { return transport_.api(); }

  // Starts one asynchronous call and waits for it, or for the stop signal.
  // Once the run is stopped no call starts. A stopped or silent call closes
  // the handles: nothing more is asked of this request, and its connection
  // goes at once.
  template <typename Start>
  std::uint32_t Call(Start start) {
    if (!request_) return ERROR_WINHTTP_OPERATION_CANCELLED;
    std::uint32_t error = ERROR_WINHTTP_OPERATION_CANCELLED;
    bool started = false;
    DWORD start_error = 0;
    // The check and the start exclude a stop: once the window's Set() has
    // returned, no call starts. An asynchronous start returns at once.
    const bool ran = transport_.StartUnlessStopped([&] {
      link_->BeginCall();
      started = start();
      start_error = started ? 0 : ::GetLastError();
      link_->EndCall();
    });
    if (ran) {
      error = started ? link_->Await(transport_.stop(), transport_.timeout_ms() + kNoWordGrace, waiting_)
                      : start_error;
      // A stop that came while the call was finishing still counts: the run is over.
      if (!error && transport_.Stopped()) error = ERROR_WINHTTP_OPERATION_CANCELLED;
    }
    if (error == ERROR_WINHTTP_OPERATION_CANCELLED || error == ERROR_WINHTTP_TIMEOUT) {
      request_.reset();
      connection_.reset();
    }
    return error;
  }

  void TakeSecureFailures() {
    if (link_) transport_.RecordSecureFailure(link_->TakeSecureFailures());
  }

  void CloseHandles() {
    request_.reset();
    connection_.reset();
    if (link_) link_->Release();
    link_ = nullptr;
  }

  std::uint32_t QueryRaw(DWORD level, std::wstring& raw) {
    if (!request_) return ERROR_WINHTTP_OPERATION_CANCELLED;
    DWORD size = 0;
    api().QueryHeaders(request_.get(), level, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                          WINHTTP_NO_HEADER_INDEX);
    const DWORD error = ::GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) return error ? error : ERROR_WINHTTP_HEADER_NOT_FOUND;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);
    if (!api().QueryHeaders(request_.get(), level, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size,
                               WINHTTP_NO_HEADER_INDEX))
      return ::GetLastError();
    raw.assign(buffer.data(), size / sizeof(wchar_t));
    return 0;
  }

  WinHttpTransport& transport_;
  // Declared in this order so that the request closes before its connection.
  unique_hinternet connection_;
  unique_hinternet request_;
  CallLink* link_ = nullptr;  // the request handle's, while it is open
  std::function<void()> waiting_;
};

}  // namespace

WinHttpTransport::WinHttpTransport(const StopSignal* stop, DWORD timeout_ms, const WinHttpApi* api)
    : api_(api ? api : WinHttp()), stop_(stop), timeout_ms_(timeout_ms) {
  // Without System32's WinHTTP there is no session to be had. Asynchronous,
  // so that a stop can end any call at once (winhttp_call_win.h).
  if (api_)
    session_.reset(api_->Open(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                              WINHTTP_FLAG_ASYNC));
  if (!session_) throw HttpError(HttpError::Kind::Client, L"Fehler beim Abrufen des Sitzungs-Handle");
  // Windows 7 and 8.1 offer SSL 3 and TLS 1.0 by default, which a server
  // limited to TLS 1.2 refuses and an attacker may force a connection down
  // to. TLS 1.3 is asked for too, on systems that know the flag; older ones
  // refuse the whole value, and then TLS 1.2 alone is set. A system that
  // cannot do TLS 1.2 cannot download safely at all.
  for (const DWORD protocols : {DWORD{WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3},
                                DWORD{WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2}}) {
    DWORD value = protocols;
    if (api_->SetOption(session_.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &value, sizeof(value))) {
      secure_protocols_ = protocols;
      break;
    }
  }
  if (!secure_protocols_) throw HttpError(HttpError::Kind::Client, L"Fehler beim Abrufen des Sitzungs-Handle");
  if (api_->SetStatusCallback(session_.get(), CallLink::OnStatus, CallLink::kNotifications, 0) ==
      WINHTTP_INVALID_STATUS_CALLBACK)
    throw HttpError(HttpError::Kind::Client, L"Fehler beim Abrufen des Sitzungs-Handle");
}

std::unique_ptr<TransportRequest> WinHttpTransport::NewRequest() { return std::make_unique<WinHttpRequest>(*this); }

ProxySetting WinHttpTransport::FindProxy(const Url& url) { return FindProxyWithWinHttp(*api_, url.ToString(), stop_); }

bool WinHttpTransport::Stopped() const { return stop_ && stop_->IsSet(); }

std::wstring WinHttpTransport::ErrorText(std::uint32_t error) {
  // WinHTTP's numbers live in its own message table; others in the system's.
  std::wstring text = SystemErrorText(error, api_->module);
  if (text.empty()) text = SystemErrorText(error);
  return text;
}

std::unique_ptr<HttpClient> CreateWinHttpClient(const StopSignal* stop) {
  return std::make_unique<HttpClient>(std::make_unique<WinHttpTransport>(stop));
}

}  // namespace kelvora::net
