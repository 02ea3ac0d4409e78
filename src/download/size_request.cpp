#include "download/size_request.h"

namespace kelvora {

SizeAnswer AskSize(net::HttpClient& client, const std::wstring& url, const RetryRules& rules,
                   const WaitUnlessStopped& wait) {
  SizeAnswer answer;
  for (int attempt = 0;; ++attempt) {
    const bool may_ask_again = attempt < rules.attempts;
    net::HttpResponse response;
    try {
      response = client.Head(url);
    } catch (const net::HttpError& error) {
      if (!may_ask_again || !IsRetryableFailure(error)) return answer;
      if (!wait(BackoffPause(attempt + 1, rules.draw))) {
        answer.stopped = true;
        return answer;
      }
      continue;
    }
    answer.answered = true;
    if (rules.attempts > 0 && IsBusyStatus(response.status)) {
      const auto pause = BusyPause(response, attempt + 1, rules);
      if (!pause) return answer;
      if (may_ask_again) {
        if (!wait(*pause)) {
          answer.stopped = true;
          return answer;
        }
        continue;
      }
    }
    answer.usable = true;
    answer.size = net::SizeFromHead(response);
    return answer;
  }
}

}  // namespace kelvora
