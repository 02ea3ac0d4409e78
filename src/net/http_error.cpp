#include "net/http_error.h"

#include "common/text.h"

namespace kelvora::net {

HttpError::HttpError(Kind kind, std::wstring message, std::uint32_t error_number)
    : std::runtime_error(ToUtf8(message)), kind_(kind), message_(std::move(message)), error_number_(error_number) {}

namespace {
std::wstring StreamWriteMessage(std::wstring_view system_text) {
  std::wstring message = L"Stream-Schreibfehler";
  if (!system_text.empty()) {
    message += L": ";
    message += system_text;
  }
  return message;
}

void ReplaceFirst(std::wstring& text, std::wstring_view placeholder, std::wstring_view value) {
  const auto at = text.find(placeholder);
  if (at != std::wstring::npos) text.replace(at, placeholder.size(), value);
}
}  // namespace

StreamWriteError::StreamWriteError(std::wstring_view system_text)
    : StreamWriteError(StreamWriteMessage(system_text), 0) {}

StreamWriteError::StreamWriteError(std::wstring message, int)
    : std::runtime_error(ToUtf8(message)), message_(std::move(message)) {}

std::wstring FormatNetMessage(std::wstring_view format, std::int64_t code, std::wstring_view text) {
  std::wstring result(format);
  // %d first: the text put in for %s might itself contain "%d".
  const auto d = result.find(L"%d");
  const auto s = result.find(L"%s");
  const std::wstring number = std::to_wstring(code);
  if (d != std::wstring::npos && s != std::wstring::npos && s < d) {
    result.replace(d, 2, number);
    result.replace(s, 2, text);
  } else {
    if (s != std::wstring::npos) result.replace(s, 2, text);
    if (d != std::wstring::npos) result.replace(d, 2, number);
  }
  return result;
}

std::wstring FormatNetMessage(std::wstring_view format, std::wstring_view text) {
  std::wstring result(format);
  ReplaceFirst(result, L"%s", text);
  return result;
}

}  // namespace kelvora::net
