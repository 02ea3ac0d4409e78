#pragma once
// Which proxy a request goes through, from the user's system configuration.

#include <cstdint>
#include <functional>
#include <string>

#include "net/transport.h"

namespace kelvora::net {

// The user's proxy configuration as the system keeps it.
struct UserProxyConfig {
  bool present = false;         // false: the system has none at all
  bool auto_detect = false;
  std::wstring auto_config_url; // a PAC script's address, "" for none
  std::wstring proxy;           // fixed proxy list, "" for none
  std::wstring bypass;
};

// Asking the platform for a proxy with a script or by automatic detection.
struct ProxyQuery {
  const std::wstring* url = nullptr;  // the request's address
  const std::wstring* script_url = nullptr;  // null: automatic detection
  bool auto_logon = false;
};
struct ProxyAnswer {
  std::uint32_t error = 0;
  std::wstring proxy;
  std::wstring bypass;
};
using ProxyAsker = std::function<ProxyAnswer(const ProxyQuery&)>;

// A script wins over detection; detection is used when asked for or when there
// is no configuration; otherwise the fixed proxy and bypass list as they are.
// A login failure (12015) is asked once more with automatic logon. Any other
// failure, or an empty answer, means direct.
ProxySetting ChooseProxy(const UserProxyConfig& config, const std::wstring& url, const ProxyAsker& ask);

}  // namespace kelvora::net
