#pragma once
// The errors that end an HTTP exchange. Both carry the German text the user
// would see: message() as wide text, what() as UTF-8.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvora::net {

// One family of network errors; the kind names the stage that failed.
class HttpError : public std::runtime_error {
 public:
  enum class Kind {
    Client,       // opening the session, sending, waiting for the response
    Request,      // setting up the request, the redirect limit
    Response,     // reading the body
    Certificate,  // server or client certificate
    Header,       // querying response headers
    Url,          // an address that cannot be parsed or resolved
  };

  // `error_number` is the platform's number for the failure, 0 when none
  // caused it (a redirect limit, an address that cannot be parsed).
  HttpError(Kind kind, std::wstring message, std::uint32_t error_number = 0);

  Kind kind() const noexcept { return kind_; }
  const std::wstring& message() const noexcept { return message_; }
  std::uint32_t error_number() const noexcept { return error_number_; }

 private:
  Kind kind_;
  std::wstring message_;
  std::uint32_t error_number_;
};

// Raised by a TargetStream whose write (or resize or seek) fails:
// "Stream-Schreibfehler", followed by ": " and the system's text for the last
// error number when there is one.
class StreamWriteError : public std::runtime_error {
 public:
  explicit StreamWriteError(std::wstring_view system_text = {});
  const std::wstring& message() const noexcept { return message_; }

 private:
  explicit StreamWriteError(std::wstring message, int);
  std::wstring message_;
};

// Fills a message format: the first "%d" gets `code`, the first "%s" gets
// `text`. Formats without one of them are left as they are there.
std::wstring FormatNetMessage(std::wstring_view format, std::int64_t code, std::wstring_view text);
std::wstring FormatNetMessage(std::wstring_view format, std::wstring_view text);

}  // namespace kelvora::net
