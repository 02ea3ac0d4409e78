#include <gtest/gtest.h>

#include <vector>

#include "net/proxy_choice.h"

namespace kelvora::net {
namespace {

struct Asked {
  std::wstring script;  // "" for detection
  bool auto_logon;
};

TEST(NetProxyChoice, FollowsTheUserConfiguration) {
  using Source = ProxySetting::Source;
  struct Case {
    const char* name;
    UserProxyConfig config;
    std::vector<ProxyAnswer> answers;  // one per question the platform is asked
    std::vector<Asked> expected_questions;
    const wchar_t* proxy;
    const wchar_t* bypass;
    Source source;
  } cases[] = {
      {"fixed proxy and bypass taken as they are",
       {true, false, L"", L"proxy.example:8080", L"<local>;*.intern"}, {}, {},
       L"proxy.example:8080", L"<local>;*.intern", Source::Fixed},
      {"nothing configured goes direct", {true, false, L"", L"", L""}, {}, {}, L"", L"", Source::Direct},
      {"script wins over detection and fixed proxy",
       {true, true, L"http://127.0.0.1:9/proxy.pac", L"ignored:1", L""},
       {{0, L"pac-proxy:3128", L"*.local"}}, {{L"http://127.0.0.1:9/proxy.pac", false}},
       L"pac-proxy:3128", L"*.local", Source::Script},
      {"script answering direct", {true, false, L"http://h/p.pac", L"", L""}, {{0, L"", L"x"}},
       {{L"http://h/p.pac", false}}, L"", L"", Source::Script},
      {"detection when asked for", {true, true, L"", L"fixed:1", L""}, {{0, L"wpad-proxy:80", L""}},
       {{L"", false}}, L"wpad-proxy:80", L"", Source::AutoDetect},
      {"detection when there is no configuration", {false, false, L"", L"", L""}, {{12180, L"", L""}},
       {{L"", false}}, L"", L"", Source::AutoDetect},
      {"login failure asked again with logon", {true, false, L"http://h/p.pac", L"", L""},
       {{12015, L"", L""}, {0, L"after-logon:1", L""}},
       {{L"http://h/p.pac", false}, {L"http://h/p.pac", true}}, L"after-logon:1", L"", Source::Script},
      {"login failure twice goes direct", {true, true, L"", L"", L""}, {{12015, L"", L""}, {12015, L"x:1", L""}},
       {{L"", false}, {L"", true}}, L"", L"", Source::AutoDetect},
      {"other failure goes direct without asking again", {true, false, L"http://h/p.pac", L"", L""},
       {{12167, L"x:1", L""}}, {{L"http://h/p.pac", false}}, L"", L"", Source::Script},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Asked> questions;
    size_t next = 0;
    const std::wstring url = L"https://dl.example/file.exe";
    const auto ask = [&](const ProxyQuery& query) {
      EXPECT_EQ(*query.url, url);
      questions.push_back({query.script_url ? *query.script_url : L"", query.auto_logon});
      return next < c.answers.size() ? c.answers[next++] : ProxyAnswer{12180, L"", L""};
    };
    const ProxySetting setting = ChooseProxy(c.config, url, ask);
    EXPECT_EQ(setting.proxy, c.proxy);
    EXPECT_EQ(setting.bypass, c.bypass);
    EXPECT_EQ(setting.source, c.source);
    ASSERT_EQ(questions.size(), c.expected_questions.size());
    for (size_t i = 0; i < questions.size(); ++i) {
      EXPECT_EQ(questions[i].script, c.expected_questions[i].script);
      EXPECT_EQ(questions[i].auto_logon, c.expected_questions[i].auto_logon);
    }
  }
}

}  // namespace
}  // namespace kelvora::net
