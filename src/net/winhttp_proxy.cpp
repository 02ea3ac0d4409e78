#include "net/winhttp_proxy.h"

#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "common/win32_handles.h"

namespace kelvora::net {

namespace {
// Strings in WinHTTP's proxy structures are the caller's to free.
std::wstring TakeGlobalString(LPWSTR text) {
  const unique_global_text owner(text);
  return owner ? owner.get() : L"";
}
}  // namespace

const UserProxyConfig& UserProxyConfiguration() {
  static std::mutex guard;
  static bool read = false;
  static UserProxyConfig config;
  std::lock_guard lock(guard);
  if (!read) {
    const WinHttpApi* api = WinHttp();
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie = {};
    if (api && api->GetIEProxyConfigForCurrentUser(&ie)) {
      config.present = true;
      config.auto_detect = ie.fAutoDetect != FALSE;
      config.auto_config_url = TakeGlobalString(ie.lpszAutoConfigUrl);
      config.proxy = TakeGlobalString(ie.lpszProxy);
      config.bypass = TakeGlobalString(ie.lpszProxyBypass);
    }
    read = true;
  }
  return config;
}

namespace {

// One look-up by script or detection. It may fetch a script from the network
// and cannot be interrupted, so it runs on a thread of its own with a
// session of its own, and a stop leaves it behind: it then ends by itself,
// touching only what it owns here (its copy of the table of functions, the
// stop's shared flag, never the StopSignal, which the window owns and which
// may be gone by then).
struct Lookup {
  WinHttpApi api;
  StopFlag stop;
  std::wstring url;
  std::optional<std::wstring> script_url;
  bool auto_logon = false;
  ProxyAnswer answer;
  unique_handle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

  void Run() {
    // The session goes through the same table it came from.
    struct Session {
      const WinHttpApi& api;
      HINTERNET handle;
      ~Session() {
        if (handle) api.CloseHandle(handle);
      }
    } session{api, api.Open(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)};
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (script_url) {
      options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = script_url->c_str();
    } else {
      options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = auto_logon ? TRUE : FALSE;
    WINHTTP_PROXY_INFO info = {};
    // A stop set while this thread started asks nothing of the network. The
    // instant between this check and the call remains: a stop set there
    // does not prevent the call, which cannot be interrupted and then
    // fetches the script on this thread left behind, its answer unused. The
    // call blocks, so no lock may hold the stop off across it.
    if (stop.IsSet()) {
      answer.error = ERROR_WINHTTP_OPERATION_CANCELLED;
    } else if (!session.handle || !api.GetProxyForUrl(session.handle, url.c_str(), &options, &info)) {
      answer.error = ::GetLastError();
    } else {
      std::wstring proxy = TakeGlobalString(info.lpszProxy);
      std::wstring bypass = TakeGlobalString(info.lpszProxyBypass);
      if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
        answer.proxy = std::move(proxy);
        answer.bypass = std::move(bypass);
      }
    }
    ::SetEvent(done.get());
  }
};

// Past WinHTTP's own time-outs for fetching a script, how long a look-up is
// waited for before it is left behind as failed.
constexpr DWORD kLookupLimitMs = 65000;

}  // namespace

ProxyAnswer LookUpProxyWithWinHttp(const WinHttpApi& api, const ProxyQuery& query, const StopSignal* stop) {
  ProxyAnswer failed;
  failed.error = ERROR_WINHTTP_OPERATION_CANCELLED;
  if (stop && stop->IsSet()) return failed;
  auto lookup = std::make_shared<Lookup>();
  lookup->api = api;
  if (stop) lookup->stop = stop->Flag();
  lookup->url = *query.url;
  if (query.script_url) lookup->script_url = *query.script_url;
  lookup->auto_logon = query.auto_logon;
  failed.error = ERROR_WINHTTP_AUTODETECTION_FAILED;
  if (!lookup->done) return failed;
  try {
    std::thread([lookup] { lookup->Run(); }).detach();
  } catch (const std::system_error&) {
    return failed;
  }
  const HANDLE handles[] = {lookup->done.get(), stop ? stop->Event() : nullptr};
  if (::WaitForMultipleObjects(stop ? 2 : 1, handles, FALSE, kLookupLimitMs) == WAIT_OBJECT_0) return lookup->answer;
  failed.error = ::WaitForSingleObject(lookup->done.get(), 0) == WAIT_OBJECT_0 ? lookup->answer.error
                                                                             : ERROR_WINHTTP_OPERATION_CANCELLED;
  return failed;
}

ProxySetting FindProxyWithWinHttp(const WinHttpApi& api, const std::wstring& url, const StopSignal* stop) {
  return ChooseProxy(UserProxyConfiguration(), url,
                     [&api, stop](const ProxyQuery& query) { return LookUpProxyWithWinHttp(api, query, stop); });
}

}  // namespace kelvora::net
