#include "net/proxy_choice.h"

namespace kelvora::net {

ProxySetting ChooseProxy(const UserProxyConfig& config, const std::wstring& url, const ProxyAsker& ask) {
  ProxySetting setting;
  const bool use_script = config.present && !config.auto_config_url.empty();
  if (use_script || !config.present || config.auto_detect) {
    ProxyQuery query;
    query.url = &url;
    query.script_url = use_script ? &config.auto_config_url : nullptr;
    ProxyAnswer answer = ask(query);
    if (answer.error == kErrorLoginFailure) {
      query.auto_logon = true;
      answer = ask(query);
    }
    setting.source = use_script ? ProxySetting::Source::Script : ProxySetting::Source::AutoDetect;
    if (answer.error == 0) {
      setting.proxy = std::move(answer.proxy);
      setting.bypass = std::move(answer.bypass);
    }
  } else {
    setting.source = ProxySetting::Source::Fixed;
    setting.proxy = config.proxy;
    setting.bypass = config.bypass;
  }
  if (setting.proxy.empty()) {
    setting.bypass.clear();
    if (setting.source == ProxySetting::Source::Fixed) setting.source = ProxySetting::Source::Direct;
  }
  return setting;
}

}  // namespace kelvora::net
