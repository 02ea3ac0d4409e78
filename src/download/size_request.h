#pragma once
// The size request of one address, asked again while the server is busy or
// does not answer, as the build's retry rules allow.

#include <cstdint>
#include <string>

#include "net/http_client.h"
#include "download/retry_rules.h"

namespace kelvora {

struct SizeAnswer {
  bool answered = false;  // some HTTP response came (a busy one too)
  bool usable = false;    // the address may be asked for the file: false when it failed
  bool stopped = false;   // the run was stopped during a pause
  std::int64_t size = -1; // the file's size when a 2xx response told it, else -1
};

// HEADs `url` through `client`, at most 1 + rules.attempts times. A 2xx
// answer gives the size (SizeFromHead); any other answer goes on without a
// size. With attempts, a busy answer (IsBusyStatus) and a failure that
// another try may not meet are asked again after a pause (BusyPause,
// BackoffPause) through `wait`; once the attempts are spent a busy answer
// goes on without a size and a failure fails the address. A busy answer that
// asks for more than kLongestRetryAfter, or any other failure, fails it at
// once; a cancelled call (the run was stopped) ends it as stopped. Each
// answer is classified and the next step decided by the table of
// next_step.h, as the GET's is. Throws only what is no HttpError.
SizeAnswer AskSize(net::HttpClient& client, const std::wstring& url, const RetryRules& rules,
                   const WaitUnlessStopped& wait);

}  // namespace kelvora
