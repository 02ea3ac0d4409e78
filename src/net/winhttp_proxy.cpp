#include "net/winhttp_proxy.h"

#include <mutex>

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

ProxySetting FindProxyWithWinHttp(const WinHttpApi& api, HINTERNET session, const std::wstring& url) {
  auto ask = [&api, session](const ProxyQuery& query) {
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (query.script_url) {
      options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = query.script_url->c_str();
    } else {
      options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = query.auto_logon ? TRUE : FALSE;
    WINHTTP_PROXY_INFO info = {};
    ProxyAnswer answer;
    if (!api.GetProxyForUrl(session, query.url->c_str(), &options, &info)) {
      answer.error = ::GetLastError();
      return answer;
    }
    const bool named = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    std::wstring proxy = TakeGlobalString(info.lpszProxy);
    std::wstring bypass = TakeGlobalString(info.lpszProxyBypass);
    if (named) {
      answer.proxy = std::move(proxy);
      answer.bypass = std::move(bypass);
    }
    return answer;
  };
  return ChooseProxy(UserProxyConfiguration(), url, ask);
}

}  // namespace kelvora::net
