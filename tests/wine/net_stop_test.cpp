// Once the run's stop signal is set, nothing more goes out: the WinHTTP
// transport starts no call and the proxy look-up asks WinHTTP nothing. The
// real WinHTTP runs underneath, seen through a table whose network calls
// count themselves before passing on.
#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "common/stop_signal_win.h"
#include "common/win32_handles.h"
#include "net/http_client.h"
#include "net/http_error.h"
#include "net/winhttp_proxy.h"
#include "net/winhttp_transport.h"

namespace kelvora::net {
namespace {

// Nothing listens on port 1 of the loopback: a call that does go out fails
// at once, without a server.
const wchar_t kUnreachable[] = L"https://localhost:1/fileadmin/Kelvora_Install.exe";

std::atomic<int> sends, receives, queries, reads, proxy_lookups;

BOOL WINAPI CountedSend(HINTERNET request, LPCWSTR headers, DWORD headers_length, LPVOID optional,
                        DWORD optional_length, DWORD total_length, DWORD_PTR context) {
  ++sends;
  return WinHttp()->SendRequest(request, headers, headers_length, optional, optional_length, total_length, context);
}
BOOL WINAPI CountedReceive(HINTERNET request, LPVOID reserved) {
  ++receives;
  return WinHttp()->ReceiveResponse(request, reserved);
}
BOOL WINAPI CountedQuery(HINTERNET request, LPDWORD available) {
  ++queries;
  return WinHttp()->QueryDataAvailable(request, available);
}
BOOL WINAPI CountedRead(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read) {
  ++reads;
  return WinHttp()->ReadData(request, buffer, size, read);
}
BOOL WINAPI CountedProxyLookup(HINTERNET session, LPCWSTR url, WINHTTP_AUTOPROXY_OPTIONS* options,
                               WINHTTP_PROXY_INFO* info) {
  ++proxy_lookups;
  return WinHttp()->GetProxyForUrl(session, url, options, info);
}

WinHttpApi CountingApi() {
  sends = receives = queries = reads = proxy_lookups = 0;
  WinHttpApi api = *WinHttp();
  api.SendRequest = CountedSend;
  api.ReceiveResponse = CountedReceive;
  api.QueryDataAvailable = CountedQuery;
  api.ReadData = CountedRead;
  api.GetProxyForUrl = CountedProxyLookup;
  return api;
}

TEST(NetStop, NoWinHttpCallStartsOnceTheRunIsStopped) {
  ASSERT_NE(WinHttp(), nullptr);
  const WinHttpApi api = CountingApi();
  StopSignal stop;
  ASSERT_TRUE(stop.Ready());
  WinHttpTransport transport(&stop, WinHttpTransport::kTimeoutMs, &api);
  const Url url = *ParseUrl(kUnreachable);

  // Not yet stopped: the send goes out (and fails, nobody listens).
  {
    auto request = transport.NewRequest();
    std::uint32_t error = 0;
    ASSERT_EQ(request->Open(url, L"HEAD", error), OpenFailure::None);
    EXPECT_NE(request->Send(), 0u);
    EXPECT_EQ(sends.load(), 1);
  }

  stop.Set();
  struct {
    const char* name;
    std::uint32_t (*call)(TransportRequest&);
  } calls[] = {
      {"send", [](TransportRequest& r) { return r.Send(); }},
      {"receive response", [](TransportRequest& r) { return r.ReceiveResponse(); }},
      {"query available", [](TransportRequest& r) {
         std::uint32_t bytes = 0;
         return r.QueryDataAvailable(bytes);
       }},
      {"read", [](TransportRequest& r) {
         const std::uint8_t* data = nullptr;
         std::uint32_t read = 0;
         return r.ReadData(16, data, read);
       }},
  };
  for (const auto& c : calls) {
    SCOPED_TRACE(c.name);
    auto request = transport.NewRequest();
    std::uint32_t error = 0;
    ASSERT_EQ(request->Open(url, L"GET", error), OpenFailure::None);
    EXPECT_EQ(c.call(*request), static_cast<std::uint32_t>(ERROR_WINHTTP_OPERATION_CANCELLED));
    // The stopped request is closed: nothing more is asked of it either.
    EXPECT_EQ(request->Send(), static_cast<std::uint32_t>(ERROR_WINHTTP_OPERATION_CANCELLED));
  }
  EXPECT_EQ(sends.load(), 1);
  EXPECT_EQ(receives.load(), 0);
  EXPECT_EQ(queries.load(), 0);
  EXPECT_EQ(reads.load(), 0);
}

// A stop set from another thread while a call is being started: Set() does
// not return before a short start has (a check made apart from the start
// would let a stop slip past it), nor waits for a start that holds the
// calling thread long (Wine's read that finds bytes at hand), and the call
// after it never starts.
StopSignal* stop_during_send = nullptr;
std::chrono::milliseconds send_takes{0};
std::atomic<bool> set_returned{false};
std::atomic<bool> set_returned_during_send{false};
std::thread closer;
BOOL WINAPI SendThatIsStoppedMeanwhile(HINTERNET request, LPCWSTR headers, DWORD headers_length, LPVOID optional,
                                       DWORD optional_length, DWORD total_length, DWORD_PTR context) {
  ++sends;
  closer = std::thread([] {
    stop_during_send->Set();
    set_returned = true;
  });
  std::this_thread::sleep_for(send_takes);
  set_returned_during_send = set_returned.load();
  return WinHttp()->SendRequest(request, headers, headers_length, optional, optional_length, total_length, context);
}

TEST(NetStop, AStopWaitsBrieflyForACallBeingStartedAndNoCallStartsAfterIt) {
  const struct {
    const char* name;
    std::chrono::milliseconds start_takes;
    bool set_returns_during_the_start;
  } rows[] = {
      {"a start of 100 ms is waited for", std::chrono::milliseconds(100), false},
      {"a start of 3 s holds the stop no longer than 250 ms", std::chrono::milliseconds(3000), true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WinHttpApi api = CountingApi();
    api.SendRequest = SendThatIsStoppedMeanwhile;
    StopSignal stop;
    ASSERT_TRUE(stop.Ready());
    stop_during_send = &stop;
    send_takes = row.start_takes;
    set_returned = set_returned_during_send = false;
    WinHttpTransport transport(&stop, WinHttpTransport::kTimeoutMs, &api);
    const Url url = *ParseUrl(kUnreachable);
    auto request = transport.NewRequest();
    std::uint32_t error = 0;
    ASSERT_EQ(request->Open(url, L"GET", error), OpenFailure::None);
    // The send started before the stop; the stop ends its wait.
    EXPECT_NE(request->Send(), 0u);
    closer.join();
    EXPECT_EQ(sends.load(), 1);
    EXPECT_EQ(set_returned_during_send.load(), row.set_returns_during_the_start);
    EXPECT_TRUE(stop.IsSet());
    auto next = transport.NewRequest();
    ASSERT_EQ(next->Open(url, L"GET", error), OpenFailure::None);
    EXPECT_EQ(next->Send(), static_cast<std::uint32_t>(ERROR_WINHTTP_OPERATION_CANCELLED));
    EXPECT_EQ(sends.load(), 1);
  }
}

TEST(NetStop, AStoppedClientSendsNothing) {
  const WinHttpApi api = CountingApi();
  StopSignal stop;
  stop.Set();
  HttpClient client(std::make_unique<WinHttpTransport>(&stop, WinHttpTransport::kTimeoutMs, &api));
  try {
    client.Head(kUnreachable);
    FAIL() << "no error";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.kind(), HttpError::Kind::Client);
  }
  EXPECT_EQ(sends.load(), 0);
}

TEST(NetStop, NoProxyLookUpStartsOnceTheRunIsStopped) {
  const WinHttpApi api = CountingApi();
  const std::wstring url = kUnreachable;
  const std::wstring script = L"http://localhost:1/proxy.pac";
  ProxyQuery query;
  query.url = &url;
  query.script_url = &script;
  StopSignal stop;

  // Not yet stopped: WinHTTP is asked (and fails to fetch the script).
  EXPECT_NE(LookUpProxyWithWinHttp(api, query, &stop).error, 0u);
  EXPECT_EQ(proxy_lookups.load(), 1);

  stop.Set();
  EXPECT_EQ(LookUpProxyWithWinHttp(api, query, &stop).error,
            static_cast<std::uint32_t>(ERROR_WINHTTP_OPERATION_CANCELLED));
  // A look-up thread would not be waited for: give one the time to ask.
  ::Sleep(500);
  EXPECT_EQ(proxy_lookups.load(), 1);
}


// A close while the look-up's thread is starting: the thread was made before
// the stop, and the stop comes before the thread asks WinHTTP. The thread
// then asks nothing. The window's StopSignal is gone by the time the thread
// looks, as it may be when a closing window leaves the thread behind.
std::unique_ptr<StopSignal> stop_while_starting;
HANDLE signal_gone = nullptr;     // set once the test has destroyed the StopSignal
HANDLE session_closed = nullptr;  // the look-up's session is closed: the thread is at its end
HINTERNET WINAPI OpenThenStop(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) {
  const HINTERNET session = WinHttp()->Open(agent, access, proxy, bypass, flags);
  stop_while_starting->Set();
  // Bounded: a test that went wrong must not hang.
  ::WaitForSingleObject(signal_gone, 10000);
  return session;
}
BOOL WINAPI CloseAndTell(HINTERNET handle) {
  const BOOL closed = WinHttp()->CloseHandle(handle);
  ::SetEvent(session_closed);
  return closed;
}

TEST(NetStop, ALookUpThreadStoppedBeforeItAsksAsksNothing) {
  WinHttpApi api = CountingApi();
  api.Open = OpenThenStop;
  api.CloseHandle = CloseAndTell;
  const unique_handle gone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const unique_handle closed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(gone && closed);
  signal_gone = gone.get();
  session_closed = closed.get();
  stop_while_starting = std::make_unique<StopSignal>();
  ASSERT_TRUE(stop_while_starting->Ready());
  const std::wstring url = kUnreachable;
  const std::wstring script = L"http://localhost:1/proxy.pac";
  ProxyQuery query;
  query.url = &url;
  query.script_url = &script;

  // The stop ends the wait for the thread at once.
  EXPECT_EQ(LookUpProxyWithWinHttp(api, query, stop_while_starting.get()).error,
            static_cast<std::uint32_t>(ERROR_WINHTTP_OPERATION_CANCELLED));
  stop_while_starting.reset();
  ::SetEvent(gone.get());
  // The thread ends by itself; its session's close is its last WinHTTP call.
  ASSERT_EQ(::WaitForSingleObject(closed.get(), 30000), WAIT_OBJECT_0);
  EXPECT_EQ(proxy_lookups.load(), 0);
}

}  // namespace
}  // namespace kelvora::net
