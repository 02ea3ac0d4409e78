#include "net/winhttp_transport.h"

#include <vector>

#include "common/win32_error.h"
#include "net/winhttp_proxy.h"

namespace kelvora::net {

namespace {

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);

class WinHttpRequest : public TransportRequest {
 public:
  explicit WinHttpRequest(WinHttpTransport& transport) : transport_(transport) {}

  OpenFailure Open(const Url& url, std::wstring_view method, std::uint32_t& error) override {
    request_.reset();
    connection_.reset();
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
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(this);
    api().SetOption(request_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
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
    DWORD feature = WINHTTP_DISABLE_REDIRECTS;
    api().SetOption(request_.get(), WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof(feature));
    feature = WINHTTP_DISABLE_COOKIES;
    api().SetOption(request_.get(), WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof(feature));
  }

  std::uint32_t Send() override {
    return api().SendRequest(request_.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
               ? 0
               : ::GetLastError();
  }

  std::uint32_t ReceiveResponse() override {
    return api().ReceiveResponse(request_.get(), nullptr) ? 0 : ::GetLastError();
  }

  std::uint32_t DeclareNoClientCertificate() override {
    return api().SetOption(request_.get(), WINHTTP_OPTION_CLIENT_CERT_CONTEXT, WINHTTP_NO_CLIENT_CERT_CONTEXT, 0)
               ? 0
               : ::GetLastError();
  }

  std::uint32_t QueryStatus(std::int32_t& status) override {
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
    DWORD available = 0;
    if (!api().QueryDataAvailable(request_.get(), &available)) return ::GetLastError();
    bytes = available;
    return 0;
  }

  std::uint32_t ReadData(void* buffer, std::uint32_t size, std::uint32_t& read) override {
    DWORD count = 0;
    if (!api().ReadData(request_.get(), buffer, size, &count)) return ::GetLastError();
    read = count;
    return 0;
  }

  WinHttpTransport& transport() { return transport_; }

 private:
  const WinHttpApi& api() const { return transport_.api(); }
  std::uint32_t QueryRaw(DWORD level, std::wstring& raw) {
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
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  if (status != WINHTTP_CALLBACK_STATUS_SECURE_FAILURE || !context || !info || length < sizeof(DWORD)) return;
  auto* request = reinterpret_cast<WinHttpRequest*>(context);
  request->transport().RecordSecureFailure(*static_cast<const DWORD*>(info));
}

}  // namespace

WinHttpTransport::WinHttpTransport(DWORD timeout_ms) : api_(WinHttp()), timeout_ms_(timeout_ms) {
  // Without System32's WinHTTP there is no session to be had.
  if (api_)
    session_.reset(api_->Open(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
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
  api_->SetStatusCallback(session_.get(), OnStatus, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
}

std::unique_ptr<TransportRequest> WinHttpTransport::NewRequest() { return std::make_unique<WinHttpRequest>(*this); }

ProxySetting WinHttpTransport::FindProxy(const Url& url) {
  return FindProxyWithWinHttp(*api_, session_.get(), url.ToString());
}

std::wstring WinHttpTransport::ErrorText(std::uint32_t error) {
  // WinHTTP's numbers live in its own message table; others in the system's.
  std::wstring text = SystemErrorText(error, api_->module);
  if (text.empty()) text = SystemErrorText(error);
  return text;
}

std::unique_ptr<HttpClient> CreateWinHttpClient() {
  return std::make_unique<HttpClient>(std::make_unique<WinHttpTransport>());
}

}  // namespace kelvora::net
