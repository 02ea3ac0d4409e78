#include "net/http_client.h"

#include <algorithm>

#include "common/text.h"

namespace kelvora::net {

const wchar_t HttpClient::kUserAgent[] = L"Kelvora-Installer/1.0";

namespace {

constexpr wchar_t kSendFailed[] = L"Fehler beim Senden der Daten: (%d) %s";
constexpr wchar_t kReceiveFailed[] = L"Fehler beim Empfangen der Daten: (%d) %s";
constexpr wchar_t kReadFailed[] = L"Fehler beim Lesen der Daten: (%d) %s";
constexpr wchar_t kHeaderFailed[] = L"Fehler beim Abrufen der Header: (%d) %s";
constexpr wchar_t kAddHeaderFailed[] = L"Fehler beim Hinzufügen des Headers: (%d) %s";

// The platform's "invalid server response": what a body longer than the
// range asked for is.
constexpr std::uint32_t kErrorInvalidServerResponse = 12152;
// The most one read takes of what is at hand (Windows may have more buffered
// than one read need hold).
constexpr std::uint32_t kLargestRead = 256 * 1024;

bool IsRedirectStatus(std::int32_t status) {
  switch (status) {
    case 300: case 301: case 302: case 303: case 307: case 308:
      return true;
    default:
      return false;
  }
}

// Headers that belong to one target and must not follow a redirect: the
// transport's own, and the cookies, which are chosen again for the new address.
bool StaysWithTarget(std::wstring_view name) {
  static constexpr std::wstring_view kNames[] = {L"Host", L"Cookie", L"Connection", L"Proxy-Connection",
                                                 L"Content-Length"};
  for (auto n : kNames)
    if (EqualsIgnoreCase(n, name)) return true;
  return false;
}

bool HasHeader(const HeaderList& headers, std::wstring_view name) {
  for (const auto& header : headers)
    if (EqualsIgnoreCase(header.first, name)) return true;
  return false;
}

}  // namespace

HttpClient::HttpClient(std::unique_ptr<Transport> transport, Clock clock)
    : transport_(std::move(transport)), clock_(std::move(clock)) {}

HttpClient::~HttpClient() = default;

HttpResponse HttpClient::Head(const std::wstring& url, const HeaderList& extra_headers) {
  return Exchange(L"HEAD", url, extra_headers, nullptr, 0);
}

HttpResponse HttpClient::GetRange(const std::wstring& url, std::int64_t start, std::int64_t end,
                                  TargetStream& target, const HeaderList& extra_headers) {
  HeaderList headers = extra_headers;
  headers.emplace_back(L"Range", RangeHeaderValue(start, end));
  const std::int64_t body_limit = (end >= 0 && start >= 0 && end >= start) ? end - start + 1 : open_range_limit_;
  return Exchange(L"GET", url, headers, &target, body_limit);
}

HttpResponse HttpClient::Get(const std::wstring& url, TargetStream& target, std::int64_t body_limit) {
  return Exchange(L"GET", url, {}, &target, body_limit);
}

void HttpClient::Throw(HttpError::Kind kind, std::wstring_view format, std::uint32_t error) {
  throw HttpError(kind, FormatNetMessage(format, error, TrimPlatformText(transport_->ErrorText(error))), error);
}

void HttpClient::Open(TransportRequest& request, const Url& url, std::wstring_view method) {
  std::uint32_t error = 0;
  switch (request.Open(url, method, error)) {
    case OpenFailure::None:
      return;
    case OpenFailure::Connect:
      throw HttpError(HttpError::Kind::Request, FormatNetMessage(L"Fehler beim Verbinden zum Server: %s", url.host));
    case OpenFailure::OpenRequest:
      Throw(HttpError::Kind::Request, L"Fehler beim Öffnen der Anforderung: (%d) %s", error);
    case OpenFailure::Timeouts:
      Throw(HttpError::Kind::Request, L"Fehler beim Festlegen der Zeitüberschreitung für die Anforderung: (%d) %s",
            error);
  }
}

void HttpClient::AddHeader(TransportRequest& request, std::wstring_view name, std::wstring_view value,
                           HeaderMode mode) {
  if (const auto error = request.AddHeader(name, value, mode)) Throw(HttpError::Kind::Request, kAddHeaderFailed, error);
}

HeaderList HttpClient::RequestHeaders(TransportRequest& request) {
  std::wstring raw;
  if (const auto error = request.QueryRequestHeaders(raw)) Throw(HttpError::Kind::Header, kHeaderFailed, error);
  return ParseHeaderBlock(raw);
}

HttpResponse HttpClient::Exchange(std::wstring_view method, const std::wstring& address, const HeaderList& headers,
                                  TargetStream* target, std::int64_t body_limit) {
  const ReceiveDataHandler handler = receive_data_;
  const Url url = ParseUrlOrThrow(address);
  transport_->ClearSecureFailures();
  auto request = transport_->NewRequest();
  Open(*request, url, method);
  AddHeader(*request, L"User-Agent", kUserAgent, HeaderMode::CoalesceWithComma);
  for (const auto& [name, value] : headers) AddHeader(*request, name, value, HeaderMode::AddOrReplace);

  if (!target) return RunAttempts(method, url, *request, nullptr, handler, body_limit);
  const std::int64_t start_position = target->Position();
  HttpResponse response;
  try {
    response = RunAttempts(method, url, *request, target, handler, body_limit);
  } catch (...) {
    try {
      target->Seek(start_position);
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  target->Seek(start_position);
  return response;
}

HttpResponse HttpClient::RunAttempts(std::wstring_view method, Url url, TransportRequest& request,
                                     TargetStream* target, const ReceiveDataHandler& handler,
                                     std::int64_t body_limit) {
  const std::int64_t start_position = target ? target->Position() : 0;
  const std::int64_t start_size = target ? target->Size() : 0;
  // The first request's headers, recorded at its first attempt; a redirect's
  // new request takes them over at its own first attempt.
  HeaderList first_headers;
  enum class HeaderStep { Record, CarryOver, None } header_step = HeaderStep::Record;
  int redirects = 0;
  int resends = kMaxResends;  // per request: a redirect's new request gets its own

  for (;;) {
    const ProxySetting proxy = PrepareAttempt(request, url);
    if (target) {
      target->SetSize(start_size);
      target->Seek(start_position);
    }
    if (header_step == HeaderStep::Record) first_headers = RequestHeaders(request);
    if (header_step == HeaderStep::CarryOver) CarryHeadersOver(request, first_headers);
    header_step = HeaderStep::None;
    request.DisableRedirectsAndCookies();
    if (!SendAttempt(request, method, url, proxy, resends)) continue;

    std::vector<std::wstring> set_cookies;
    HttpResponse response = ReadResponse(request, method, target, handler, body_limit, set_cookies);
    Url next;
    const Hop hop = NextHop(response, url, redirects, next);
    if (hop == Hop::Redirect) Open(request, next, method);
    for (const auto& value : set_cookies) cookies_.Store(url, value, clock_());

    switch (hop) {
      case Hop::Done:
        return response;
      case Hop::Challenge:
        // No credentials are ever stored: the attempt that would answer the
        // challenge is prepared like any other, and then not made.
        PrepareAttempt(request, url);
        return response;
      case Hop::Redirect:
        url = std::move(next);
        header_step = HeaderStep::CarryOver;
        resends = kMaxResends;
        break;
    }
  }
}

ProxySetting HttpClient::PrepareAttempt(TransportRequest& request, const Url& url) {
  ProxySetting proxy = transport_->FindProxy(url);
  request.PrepareAttempt(proxy);
  const std::wstring cookie = cookies_.HeaderFor(url, clock_());
  if (!cookie.empty()) AddHeader(request, L"Cookie", cookie, HeaderMode::AddOrReplace);
  return proxy;
}

void HttpClient::CarryHeadersOver(TransportRequest& request, const HeaderList& first_headers) {
  const HeaderList present = RequestHeaders(request);
  for (const auto& [name, value] : first_headers)
    if (!StaysWithTarget(name) && !HasHeader(present, name)) AddHeader(request, name, value, HeaderMode::AddOrReplace);
}

bool HttpClient::SendAttempt(TransportRequest& request, std::wstring_view method, const Url& url,
                             const ProxySetting& proxy, int& resends) {
  const std::uint32_t send_error = request.Send();
  if (observer_) {
    AttemptRecord record{std::wstring(method), url.ToString(), proxy, {}, send_error};
    std::wstring raw;
    if (request.QueryRequestHeaders(raw) == 0) record.request_headers = ParseHeaderBlock(raw);
    observer_(record);
  }
  if (send_error) {
    HandleSendFailure(send_error, kSendFailed, request, resends);
    return false;
  }
  if (const auto error = request.ReceiveResponse()) {
    HandleSendFailure(error, kReceiveFailed, request, resends);
    return false;
  }
  return true;
}

HttpResponse HttpClient::ReadResponse(TransportRequest& request, std::wstring_view method, TargetStream* target,
                                      const ReceiveDataHandler& handler, std::int64_t body_limit,
                                      std::vector<std::wstring>& set_cookies) {
  HttpResponse response;
  if (const auto error = request.QueryStatus(response.status)) Throw(HttpError::Kind::Header, kHeaderFailed, error);
  std::wstring raw;
  if (const auto error = request.QueryResponseHeaders(raw)) Throw(HttpError::Kind::Header, kHeaderFailed, error);
  response.headers = ParseHeaderBlock(raw, &set_cookies);
  response.content_length = ParseContentLength(response.Header(L"Content-Length"));
  if (response_handler_) {
    bool abort = false;
    response_handler_(response, abort);
    if (abort) return response;
  }
  if (target && !EqualsIgnoreCase(method, L"HEAD")) ReadBody(request, response, *target, handler, body_limit);
  return response;
}

HttpClient::Hop HttpClient::NextHop(const HttpResponse& response, const Url& url, int& redirects, Url& next) {
  if (response.status == 401 || response.status == 407) return Hop::Challenge;
  if (!IsRedirectStatus(response.status)) return Hop::Done;
  if (++redirects > kMaxRedirects)
    throw HttpError(HttpError::Kind::Request,
                    FormatNetMessage(L"Maximale Anzahl von Umleitungen (%d) überschritten", kMaxRedirects, L""));
  transport_->ClearSecureFailures();
  const std::wstring location = TrimBlanks(response.Header(L"Location"));
  if (location.empty()) return Hop::Done;
  next = ResolveRedirect(url, location);
  // Once on https, never step down: that 3xx is the answer.
  if (url.secure() && !next.secure()) return Hop::Done;
  return Hop::Redirect;
}

void HttpClient::HandleSendFailure(std::uint32_t error, std::wstring_view format, TransportRequest& request,
                                   int& resends) {
  // A transport that keeps asking would otherwise hold the exchange for ever.
  if ((error == kErrorResendRequest || error == kErrorClientAuthCertNeeded) && resends-- <= 0)
    Throw(HttpError::Kind::Client, format, error);
  switch (error) {
    case kErrorResendRequest:
      return;
    case kErrorClientAuthCertNeeded:
      if (request.DeclareNoClientCertificate() != 0)
        throw HttpError(HttpError::Kind::Certificate, L"Nicht spezifiziertes Zertifikat vom Client", error);
      return;
    case kErrorSecureFailure:
      if (transport_->SecureFailures() == secure_failure::kSecurityChannelError)
        Throw(HttpError::Kind::Client, format, error);
      throw HttpError(HttpError::Kind::Certificate, L"Serverzertifikat ungültig oder nicht vorhanden", error);
    default:
      Throw(HttpError::Kind::Client, format, error);
  }
}

void HttpClient::ReadBody(TransportRequest& request, const HttpResponse& response, TargetStream& target,
                          const ReceiveDataHandler& handler, std::int64_t body_limit) {
  const std::int64_t content_length = response.content_length == 0 ? -1 : response.content_length;
  if (response.status >= 300) body_limit = kStatusPageBodyLimit;
  const bool notify = response.status < 300 && handler;
  std::int64_t count = 0;
  auto notify_progress = [&] {
    bool abort = false;
    if (notify) handler(&request, content_length, count, abort);
    return abort;
  };

  // Reads one piece of at most `wanted` bytes into the target; 0 at the
  // body's end. Never more than one byte past the limit is asked for, and
  // that byte is not written: it only shows that the body is too long.
  auto read_piece = [&](std::uint32_t wanted) -> std::uint32_t {
    const std::int64_t room = body_limit - count + 1;
    const auto asked = static_cast<std::uint32_t>(std::min<std::int64_t>(wanted, room));
    const std::uint8_t* data = nullptr;
    std::uint32_t read = 0;
    if (const auto error = request.ReadData(asked, data, read)) Throw(HttpError::Kind::Response, kReadFailed, error);
    if (read == 0) return 0;
    if (read > asked) read = asked;
    const bool too_long = count + read > body_limit;
    const std::uint32_t kept = too_long ? static_cast<std::uint32_t>(body_limit - count) : read;
    std::size_t written = 0;
    while (written < kept) {
      const std::size_t taken = target.Write(data + written, kept - written);
      if (taken == 0) throw StreamWriteError();
      written += taken;
    }
    count += kept;
    if (too_long) Throw(HttpError::Kind::Response, kReadFailed, kErrorInvalidServerResponse);
    return read;
  };

  // Each step waits until bytes are at hand and reads exactly those. A read
  // that asked for more would wait for the line to fill it (Wine measured:
  // an asynchronous read returns only when its buffer is full or the body
  // ends, and one that fails keeps nothing; Windows documents that a read
  // returns once some bytes are there): the bar would stand while bytes
  // arrive, and a line that dies would take them along. Asking first also
  // means a read never waits: what waits is the ask, on WinHTTP's thread,
  // where a stop ends the wait (Wine measured: a read started while bytes are
  // at hand runs on the calling thread until its buffer is full).
  //
  // Under Wine the bytes at hand are one TLS record at most (16 KiB), and a
  // hand-over to the window costs about 0.1 ms: one per record would double
  // the time of a fast download. So what a step wrote is shown at once when
  // the last showing is kShowEvery old, and otherwise as soon as the next ask
  // begins to wait for the network: new bytes reach the bar within
  // kShowEvery plus one step's reading, however the line runs.
  constexpr std::chrono::milliseconds kShowEvery{50};
  bool abort = notify_progress();
  std::int64_t shown_count = count;
  auto shown = read_clock_();
  auto show = [&] {
    abort = notify_progress();
    shown_count = count;
    shown = read_clock_();
  };
  struct WaitingShows {
    TransportRequest& request;
    ~WaitingShows() { request.SetWaitingHandler({}); }
  } waiting_shows{request};
  request.SetWaitingHandler([&] {
    if (!abort && count > shown_count) show();
  });
  while (!abort) {
    std::uint32_t at_hand = 0;
    const auto error = request.QueryDataAvailable(at_hand);
    // An abort answered while the ask waited ends the transfer as one
    // answered between two reads does.
    if (abort) break;
    if (error) {
      // What came before a line broke is in the file: the bar says so.
      if (count > shown_count) show();
      Throw(HttpError::Kind::Response, kReadFailed, error);
    }
    if (at_hand == 0) break;
    if (read_piece(std::min(at_hand, kLargestRead)) == 0) break;
    if (read_clock_() - shown >= kShowEvery) show();
  }
  if (!abort && count > shown_count) show();
}

}  // namespace kelvora::net
