#pragma once
// WinHTTP, taken from System32 at run time. winhttp.dll is not one of the
// system's known DLLs: as a static import it would be looked for in the exe's
// own folder first, usually a Downloads folder where anybody may have dropped
// one, and its DllMain would run before the program's first line.

#include <windows.h>
#include <winhttp.h>

#include "common/unique_any.h"
#include "common/win32_handles.h"

namespace kelvora::net {

// The WinHTTP functions the program calls, named without their prefix.
struct WinHttpApi {
  HMODULE module = nullptr;
  decltype(&::WinHttpOpen) Open = nullptr;
  decltype(&::WinHttpCloseHandle) CloseHandle = nullptr;
  decltype(&::WinHttpSetStatusCallback) SetStatusCallback = nullptr;
  decltype(&::WinHttpConnect) Connect = nullptr;
  decltype(&::WinHttpOpenRequest) OpenRequest = nullptr;
  decltype(&::WinHttpSetTimeouts) SetTimeouts = nullptr;
  decltype(&::WinHttpSetOption) SetOption = nullptr;
  decltype(&::WinHttpAddRequestHeaders) AddRequestHeaders = nullptr;
  decltype(&::WinHttpSendRequest) SendRequest = nullptr;
  decltype(&::WinHttpReceiveResponse) ReceiveResponse = nullptr;
  decltype(&::WinHttpQueryHeaders) QueryHeaders = nullptr;
  decltype(&::WinHttpQueryDataAvailable) QueryDataAvailable = nullptr;
  decltype(&::WinHttpReadData) ReadData = nullptr;
  decltype(&::WinHttpGetIEProxyConfigForCurrentUser) GetIEProxyConfigForCurrentUser = nullptr;
  decltype(&::WinHttpGetProxyForUrl) GetProxyForUrl = nullptr;
};

// The table, loaded from System32 on the first call and kept until the process
// ends (threads may still be inside WinHTTP while it exits). Null when the DLL
// or one of the functions is missing. Any thread.
const WinHttpApi* WinHttp() noexcept;

// Only called for handles WinHTTP gave out, so the table is there.
inline void close_hinternet(HINTERNET handle) noexcept {
  KeepLastError keep;
  WinHttp()->CloseHandle(handle);
}
using unique_hinternet = unique_any<HINTERNET, close_hinternet>;

}  // namespace kelvora::net
