#pragma once
// Proxy discovery with WinHTTP from the current user's configuration.

#include <windows.h>
#include <winhttp.h>

#include "common/stop_signal_win.h"
#include "net/proxy_choice.h"
#include "net/winhttp_api.h"

namespace kelvora::net {

// The user's configuration, read on the first call under a process-wide lock
// and kept until the process ends. Any thread.
const UserProxyConfig& UserProxyConfiguration();

// The proxy for `url`, asking WinHTTP with a script or by detection when the
// configuration says so. Such a look-up ends early, as failed, when `stop`
// (may be null) is set, and once it is set none begins. The calling thread.
ProxySetting FindProxyWithWinHttp(const WinHttpApi& api, const std::wstring& url, const StopSignal* stop);

// One look-up by script or detection, on a thread of its own that a stop
// leaves behind. Once `stop` is set no thread starts and WinHTTP is not asked:
// the answer is ERROR_WINHTTP_OPERATION_CANCELLED; a thread already started
// looks at the stop right before it asks. The thread keeps a copy of `api`
// and the stop's shared flag: neither `api` nor `stop` needs to outlive it.
ProxyAnswer LookUpProxyWithWinHttp(const WinHttpApi& api, const ProxyQuery& query, const StopSignal* stop);

}  // namespace kelvora::net
