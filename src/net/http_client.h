#pragma once
// The HTTP client: the HEAD request and the ranged GET, with redirects,
// cookies and proxy choice handled here and the wire left to a Transport.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/cookie_store.h"
#include "net/http_error.h"
#include "net/http_response.h"
#include "net/target_stream.h"
#include "net/transport.h"

namespace kelvora::net {

// What one attempt's request was given, reported after it was sent (also
// when sending failed). For tests and diagnostics.
struct AttemptRecord {
  std::wstring method;
  std::wstring url;
  ProxySetting proxy;
  HeaderList request_headers;  // as the transport reports them after sending
  std::uint32_t send_error = 0;
};

// Owned and used by the one thread that created it; one exchange at a time.
// Every exchange either returns the final response, whatever its status, or
// throws HttpError (or StreamWriteError, or whatever the receive-data handler
// throws). No status code is an error.
class HttpClient {
 public:
  // Called on the exchange's thread, for a response with a status below 300:
  // before the first read, after a read when the last call is 50 ms old or
  // more, when the next read begins to wait for the network with bytes not
  // yet shown, and at the body's end with bytes not yet shown (ReadBody).
  // `sender` identifies the exchange's request; set `abort` to stop reading
  // (the exchange then returns normally).
  using ReceiveDataHandler =
      std::function<void(const void* sender, std::int64_t content_length, std::int64_t read_count, bool& abort)>;
  // Called on the exchange's thread when a response has arrived (any status,
  // a redirect's too), before its body is read; set `abort` to read none of
  // it. Nothing of that body is written, and the exchange goes on as if it
  // were empty: a redirect is still followed, any other response returned.
  using ResponseHandler = std::function<void(const HttpResponse& response, bool& abort)>;
  using AttemptObserver = std::function<void(const AttemptRecord&)>;
  using Clock = std::function<CookieStore::Seconds()>;
  // A monotonic clock, for how often reads are shown.
  using ReadClock = std::function<std::chrono::steady_clock::time_point()>;

  static constexpr int kMaxRedirects = 5;
  // Repeats of one request that the transport may ask for (12032, 12044);
  // the next such failure is raised as the error it is.
  static constexpr int kMaxResends = 4;
  // The most body a response to an open-ended range may bring: no Windows
  // executable is larger, as the PE format's offsets are 32-bit.
  static constexpr std::int64_t kOpenRangeBodyLimit = std::int64_t{4} << 30;
  // The most body of a response with a status of 300 or more (an error page,
  // a redirect's note): never the file, and never large.
  static constexpr std::int64_t kStatusPageBodyLimit = 1 << 20;
  static const wchar_t kUserAgent[];

  explicit HttpClient(std::unique_ptr<Transport> transport, Clock clock = NowSeconds);
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;
  ~HttpClient();

  // Copied into the exchange when it begins: set it before.
  void SetReceiveDataHandler(ReceiveDataHandler handler) { receive_data_ = std::move(handler); }
  void SetResponseHandler(ResponseHandler handler) { response_handler_ = std::move(handler); }
  void SetAttemptObserver(AttemptObserver observer) { observer_ = std::move(observer); }
  // For tests: a smaller limit for bodies of open-ended ranges.
  void SetOpenRangeBodyLimit(std::int64_t bytes) { open_range_limit_ = bytes; }
  // For tests: the clock that times reads.
  void SetReadClock(ReadClock clock) { read_clock_ = std::move(clock); }

  // HEAD: no body is read and no notification made.
  HttpResponse Head(const std::wstring& url, const HeaderList& extra_headers = {});

  // GET with "Range: bytes=start-end" (end inclusive, -1 for open), set after
  // the extra headers. The body of every response read (error pages too) is
  // written into `target` from its current position; before each attempt the
  // target is set back to its start size and position, and at the end, on
  // return or error, back to its start position. `target` stays the caller's.
  // A body longer than the range asked for (kOpenRangeBodyLimit for an open
  // range; kStatusPageBodyLimit for a status of 300 or more) is never written
  // past that length: the exchange fails with the read error as soon as a
  // byte more arrives.
  HttpResponse GetRange(const std::wstring& url, std::int64_t start, std::int64_t end, TargetStream& target,
                        const HeaderList& extra_headers = {});

  // GET without a range, for a small file whole: its body (at most
  // `body_limit` bytes, error pages as GetRange's) into `target` as GetRange
  // writes it; a byte more fails the exchange with the read error.
  HttpResponse Get(const std::wstring& url, TargetStream& target, std::int64_t body_limit);

 private:
  HttpResponse Exchange(std::wstring_view method, const std::wstring& address, const HeaderList& headers,
                        TargetStream* target, std::int64_t body_limit);
  // What follows a response: it is the answer (Done, Challenge), or the
  // request goes on to the address its redirect names.
  enum class Hop { Done, Challenge, Redirect };

  // The attempts of one exchange, every redirect's among them.
  HttpResponse RunAttempts(std::wstring_view method, Url url, TransportRequest& request, TargetStream* target,
                           const ReceiveDataHandler& handler, std::int64_t body_limit);
  void Open(TransportRequest& request, const Url& url, std::wstring_view method);
  void AddHeader(TransportRequest& request, std::wstring_view name, std::wstring_view value, HeaderMode mode);
  HeaderList RequestHeaders(TransportRequest& request);
  // The proxy found for `url`, given to the request, and the cookies that belong there.
  ProxySetting PrepareAttempt(TransportRequest& request, const Url& url);
  // A redirect's new request gets the first request's headers that it lacks,
  // except those that belong to one target.
  void CarryHeadersOver(TransportRequest& request, const HeaderList& first_headers);
  // Sends and waits for the response's headers. Returns false when the
  // attempt is to be made again; throws for any other failure.
  bool SendAttempt(TransportRequest& request, std::wstring_view method, const Url& url, const ProxySetting& proxy,
                   int& resends);
  // Returns when the attempt is to be made again; throws otherwise, and once
  // `resends` has run out.
  void HandleSendFailure(std::uint32_t error, std::wstring_view format, TransportRequest& request, int& resends);
  // Status and headers (the Set-Cookie values go to `set_cookies`), and the
  // body into `target` unless the method is HEAD.
  HttpResponse ReadResponse(TransportRequest& request, std::wstring_view method, TargetStream* target,
                            const ReceiveDataHandler& handler, std::int64_t body_limit,
                            std::vector<std::wstring>& set_cookies);
  // Counts a redirect in `redirects` and puts its address in `next`; throws
  // past kMaxRedirects and for a Location that gives no address.
  Hop NextHop(const HttpResponse& response, const Url& url, int& redirects, Url& next);
  void ReadBody(TransportRequest& request, const HttpResponse& response, TargetStream& target,
                const ReceiveDataHandler& handler, std::int64_t body_limit);
  [[noreturn]] void Throw(HttpError::Kind kind, std::wstring_view format, std::uint32_t error);

  std::unique_ptr<Transport> transport_;
  Clock clock_;
  CookieStore cookies_;
  ReceiveDataHandler receive_data_;
  ResponseHandler response_handler_;
  AttemptObserver observer_;
  std::int64_t open_range_limit_ = kOpenRangeBodyLimit;
  ReadClock read_clock_ = std::chrono::steady_clock::now;
};

}  // namespace kelvora::net
