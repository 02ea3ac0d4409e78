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

// The proxy for `url`, asking WinHTTP with a script or by detection when the
// configuration says so. Such a look-up ends early, as failed, when `stop`
// (may be null) is set. The calling thread.
ProxySetting FindProxyWithWinHttp(const WinHttpApi& api, const std::wstring& url, HANDLE stop);

}  // namespace kelvora::net
