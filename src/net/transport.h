#pragma once
// The narrow seam between the HTTP client's algorithms and the platform's
// HTTP service. Calls return 0 on success or the platform's error number,
// so that the client decides what a failure means and how it reads.
// WinHTTP is the production transport (winhttp_transport.h); tests script one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/url.h"

namespace kelvora::net {

// Platform error numbers the client's algorithms act on (WinHTTP's values).
inline constexpr std::uint32_t kErrorLoginFailure = 12015;
inline constexpr std::uint32_t kErrorResendRequest = 12032;
inline constexpr std::uint32_t kErrorClientAuthCertNeeded = 12044;
inline constexpr std::uint32_t kErrorSecureFailure = 12175;

// Reasons a secure-failure notification can name (WinHTTP's flag values).
namespace secure_failure {
inline constexpr std::uint32_t kCertRevocationFailed = 0x00000001;
inline constexpr std::uint32_t kInvalidCert = 0x00000002;
inline constexpr std::uint32_t kCertRevoked = 0x00000004;
inline constexpr std::uint32_t kInvalidCa = 0x00000008;
inline constexpr std::uint32_t kCertCnInvalid = 0x00000010;
inline constexpr std::uint32_t kCertDateInvalid = 0x00000020;
inline constexpr std::uint32_t kCertWrongUsage = 0x00000040;
inline constexpr std::uint32_t kSecurityChannelError = 0x80000000;
}  // namespace secure_failure

// The proxy an attempt goes through; an empty proxy means direct.
struct ProxySetting {
  enum class Source { Direct, Fixed, Script, AutoDetect };
  std::wstring proxy;
  std::wstring bypass;
  Source source = Source::Direct;  // how it was chosen
};

enum class HeaderMode {
  CoalesceWithComma,  // joined to a header of the same name
  AddOrReplace,       // replaces a header of the same name
};

// Where setting up a request's handles failed.
enum class OpenFailure { None, Connect, OpenRequest, Timeouts };

// One exchange's request: its connection and request handles, which Open
// makes and a later Open (after a redirect) replaces.
class TransportRequest {
 public:
  virtual ~TransportRequest() = default;

  // Handles for `url` with `method`, and the four timeouts; closes earlier ones.
  virtual OpenFailure Open(const Url& url, std::wstring_view method, std::uint32_t& error) = 0;
  virtual std::uint32_t AddHeader(std::wstring_view name, std::wstring_view value, HeaderMode mode) = 0;
  // The request's headers as they stand, lines separated by CR LF.
  virtual std::uint32_t QueryRequestHeaders(std::wstring& raw) = 0;

  // Per attempt, before sending: context, automatic logon policy (low),
  // the proxy when it is not empty.
  virtual void PrepareAttempt(const ProxySetting& proxy) = 0;
  // Leaves redirects and cookies to the client.
  virtual void DisableRedirectsAndCookies() = 0;
  virtual std::uint32_t Send() = 0;
  virtual std::uint32_t ReceiveResponse() = 0;
  virtual std::uint32_t DeclareNoClientCertificate() = 0;

  virtual std::uint32_t QueryStatus(std::int32_t& status) = 0;
  // The raw response headers, lines separated by CR LF.
  virtual std::uint32_t QueryResponseHeaders(std::wstring& raw) = 0;
  // Waits until body bytes are at hand (or the body has ended) and tells how
  // many can be read without waiting; 0 at the body's end.
  virtual std::uint32_t QueryDataAvailable(std::uint32_t& bytes) = 0;
  // Runs on the calling thread, at most once per call, when a call has begun
  // to wait for the network (empty: nothing runs). The client shows what it
  // has written before such a wait.
  virtual void SetWaitingHandler(std::function<void()> handler) = 0;
  // Up to `size` body bytes, in a buffer of the request's own that `data`
  // points to until the request's next call; `read` 0 at the body's end. A
  // transport may return fewer than asked before the end (Windows'
  // documented reads), or wait until it has all it was asked for and keep
  // nothing when it fails (Wine's measured reads; one started while bytes are
  // at hand then waits inside the call, where no stop reaches it).
  virtual std::uint32_t ReadData(std::uint32_t size, const std::uint8_t*& data, std::uint32_t& read) = 0;
};

// One per client: the session.
class Transport {
 public:
  virtual ~Transport() = default;
  virtual std::unique_ptr<TransportRequest> NewRequest() = 0;
  // The proxy for an address, from the user's system configuration.
  virtual ProxySetting FindProxy(const Url& url) = 0;
  // The platform's message text for an error number, "" when it has none.
  virtual std::wstring ErrorText(std::uint32_t error) = 0;
  // The reasons recorded by secure-failure notifications since the last clear.
  virtual std::uint32_t SecureFailures() = 0;
  virtual void ClearSecureFailures() = 0;
};

}  // namespace kelvora::net
