#pragma once
// Proxy discovery with WinHTTP from the current user's configuration.

#include <windows.h>
#include <winhttp.h>

#include "net/proxy_choice.h"
#include "net/winhttp_api.h"

namespace kelvora::net {

// The user's configuration, read on the first call under a process-wide lock
// and kept until the process ends. Any thread.
const UserProxyConfig& UserProxyConfiguration();

// The proxy for `url`, asking WinHTTP with a script or by detection through
// `session` when the configuration says so. The calling thread.
ProxySetting FindProxyWithWinHttp(const WinHttpApi& api, HINTERNET session, const std::wstring& url);

}  // namespace kelvora::net
