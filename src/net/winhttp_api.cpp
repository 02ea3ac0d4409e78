#include "net/winhttp_api.h"

#include "common/system_library_win.h"

namespace kelvora::net {

namespace {

template <typename Function>
bool Take(HMODULE module, const char* name, Function& slot) {
  slot = ModuleFunction<Function>(module, name);
  return slot != nullptr;
}

WinHttpApi Load() {
  WinHttpApi api;
  api.module = LoadSystemLibrary(L"winhttp.dll");
  if (!api.module) return api;
  const HMODULE m = api.module;
  const bool complete =
      Take(m, "WinHttpOpen", api.Open) && Take(m, "WinHttpCloseHandle", api.CloseHandle) &&
      Take(m, "WinHttpSetStatusCallback", api.SetStatusCallback) && Take(m, "WinHttpConnect", api.Connect) &&
      Take(m, "WinHttpOpenRequest", api.OpenRequest) && Take(m, "WinHttpSetTimeouts", api.SetTimeouts) &&
      Take(m, "WinHttpSetOption", api.SetOption) && Take(m, "WinHttpAddRequestHeaders", api.AddRequestHeaders) &&
      Take(m, "WinHttpSendRequest", api.SendRequest) && Take(m, "WinHttpReceiveResponse", api.ReceiveResponse) &&
      Take(m, "WinHttpQueryHeaders", api.QueryHeaders) &&
      Take(m, "WinHttpQueryDataAvailable", api.QueryDataAvailable) && Take(m, "WinHttpReadData", api.ReadData) &&
      Take(m, "WinHttpGetIEProxyConfigForCurrentUser", api.GetIEProxyConfigForCurrentUser) &&
      Take(m, "WinHttpGetProxyForUrl", api.GetProxyForUrl);
  if (!complete) api.module = nullptr;  // the module stays loaded; nothing of it is used
  return api;
}

}  // namespace

const WinHttpApi* WinHttp() noexcept {
  // Loaded once, under the guard of the static's initialisation.
  static const WinHttpApi api = Load();
  return api.module ? &api : nullptr;
}

}  // namespace kelvora::net
