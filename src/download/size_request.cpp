#include "download/size_request.h"

#include "download/next_step.h"

namespace kelvora {

SizeAnswer AskSize(net::HttpClient& client, const std::wstring& url, const RetryRules& rules,
                   const WaitUnlessStopped& wait) {
  SizeAnswer answer;
  for (int used = 0;;) {
    RequestFacts facts;
    facts.retrying = rules.attempts > 0;
    net::HttpResponse response;
    try {
      response = client.Head(url);
      facts.status = response.status;
    } catch (const net::HttpError& error) {
      facts.failure = FailureOf(error);
    }
    answer.answered |= facts.status != 0;
    std::optional<std::chrono::milliseconds> busy_pause;
    if (facts.retrying && IsBusyStatus(facts.status)) {
      busy_pause = BusyPause(response, used + 1, rules);
      facts.pause_too_long = !busy_pause;
    }
    const Ending ending = ClassifyEnding(facts);
    switch (DecideNextStep(ending, RequestKind::Size, rules.attempts - used, InPlace::Nothing)) {
      case NextStep::Done:
        answer.usable = true;
        answer.size = net::SizeFromHead(response);
        return answer;
      case NextStep::AskAgain:
        if (PauseToAskAgain(busy_pause, used, rules, wait)) continue;
        answer.stopped = true;
        return answer;
      case NextStep::EndRun:
        answer.stopped = true;
        return answer;
      default:
        return answer;  // the address gives no file
    }
  }
}

}  // namespace kelvora
