// kelvora_http_probe: performs one exchange with the installer's HTTP client
// (WinHTTP transport) and prints, one item per line in UTF-8:
//   attempt <method> <url> proxy=<p> bypass=<b> source=<s> send_error=<n>
//   sent <name>: <value>             request headers of that attempt
//   notify <content_length> <read_count>
//   status <n> / content_length <n> / header <name>: <value>
//   error <kind> <message>           an HttpError
//   stream_error <message>           the target file's write error
//
//   kelvora_http_probe head URL [options]
//   kelvora_http_probe get URL START END OUT_FILE [options]
// Options: --header "Name: value" (repeatable), --abort-after N (answer the
// N-th notification, counting from 0, with an abort), --timeout-ms N (a short
// transport timeout; the product always uses 60000), --protocols N (replace
// the session's secure protocol flags after the product has set its own:
// shows what the platform could do without them).
// The first line is "protocols <flags>", the flags the product set, in hex.
// Exit code: 0 response, 2 HttpError, 3 stream error, 1 usage or other.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/win32_handles.h"
#include "net/file_stream_win.h"
#include "net/http_client.h"
#include "net/winhttp_transport.h"

namespace {

using namespace kelvora;
using namespace kelvora::net;

void Print(const std::wstring& line) {
  const std::string text = ToUtf8(line) + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

const wchar_t* KindName(HttpError::Kind kind) {
  switch (kind) {
    case HttpError::Kind::Client: return L"client";
    case HttpError::Kind::Request: return L"request";
    case HttpError::Kind::Response: return L"response";
    case HttpError::Kind::Certificate: return L"certificate";
    case HttpError::Kind::Header: return L"header";
    case HttpError::Kind::Url: return L"url";
  }
  return L"?";
}

const wchar_t* SourceName(ProxySetting::Source source) {
  switch (source) {
    case ProxySetting::Source::Direct: return L"direct";
    case ProxySetting::Source::Fixed: return L"fixed";
    case ProxySetting::Source::Script: return L"script";
    case ProxySetting::Source::AutoDetect: return L"auto-detect";
  }
  return L"?";
}

int Usage() {
  std::fputs("usage: kelvora_http_probe head URL [options] | get URL START END OUT_FILE [options]\n", stderr);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  const std::wstring mode = argv[1];
  const std::wstring url = argv[2];
  int next = 3;
  std::int64_t start = 0, end = -1;
  std::wstring out_file;
  if (mode == L"get") {
    if (argc < 6) return Usage();
    start = std::wcstoll(argv[3], nullptr, 10);
    end = std::wcstoll(argv[4], nullptr, 10);
    out_file = argv[5];
    next = 6;
  } else if (mode != L"head") {
    return Usage();
  }
  HeaderList headers;
  long long abort_after = -1;
  DWORD timeout_ms = WinHttpTransport::kTimeoutMs;
  DWORD protocols = 0;
  for (; next < argc; ++next) {
    const std::wstring option = argv[next];
    if (next + 1 >= argc) return Usage();
    const std::wstring value = argv[++next];
    if (option == L"--header") {
      const auto colon = value.find(L':');
      if (colon == std::wstring::npos) return Usage();
      headers.emplace_back(TrimBlanks(value.substr(0, colon)), TrimBlanks(value.substr(colon + 1)));
    } else if (option == L"--abort-after") {
      abort_after = std::wcstoll(value.c_str(), nullptr, 10);
    } else if (option == L"--protocols") {
      protocols = static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 0));
    } else if (option == L"--timeout-ms") {
      timeout_ms = static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10));
    } else {
      return Usage();
    }
  }

  try {
    auto transport = std::make_unique<WinHttpTransport>(nullptr, timeout_ms);
    wchar_t flags[16];
    std::swprintf(flags, 16, L"0x%lx", static_cast<unsigned long>(transport->secure_protocols()));
    Print(std::wstring(L"protocols ") + flags);
    if (protocols &&
        !transport->api().SetOption(transport->session(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
      std::fprintf(stderr, "the protocols were refused (%lu)\n", ::GetLastError());
      return 1;
    }
    HttpClient client(std::move(transport));
    long long notifications = 0;
    client.SetReceiveDataHandler([&](const void*, std::int64_t length, std::int64_t count, bool& abort) {
      Print(L"notify " + std::to_wstring(length) + L" " + std::to_wstring(count));
      if (notifications++ == abort_after) abort = true;
    });
    client.SetAttemptObserver([](const AttemptRecord& record) {
      Print(L"attempt " + record.method + L" " + record.url + L" proxy=" + record.proxy.proxy + L" bypass=" +
            record.proxy.bypass + L" source=" + SourceName(record.proxy.source) + L" send_error=" +
            std::to_wstring(record.send_error));
      for (const auto& [name, value] : record.request_headers) Print(L"sent " + name + L": " + value);
    });

    HttpResponse response;
    if (mode == L"head") {
      response = client.Head(url, headers);
    } else {
      unique_file file(::CreateFileW(out_file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file) {
        std::fprintf(stderr, "cannot open the output file (%lu)\n", ::GetLastError());
        return 1;
      }
      FileStream stream(file.get());
      stream.Seek(start > 0 ? start : 0);
      response = client.GetRange(url, start, end, stream, headers);
      Print(L"position " + std::to_wstring(stream.Position()));
    }
    Print(L"status " + std::to_wstring(response.status));
    Print(L"content_length " + std::to_wstring(response.content_length));
    for (const auto& [name, value] : response.headers) Print(L"header " + name + L": " + value);
    return 0;
  } catch (const HttpError& e) {
    Print(std::wstring(L"error ") + KindName(e.kind()) + L" " + e.message());
    return 2;
  } catch (const StreamWriteError& e) {
    Print(L"stream_error " + e.message());
    return 3;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "unexpected: %s\n", e.what());
    return 1;
  }
}
