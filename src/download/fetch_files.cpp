#include "download/fetch_files.h"

namespace kelvora {

PreparedFiles PrepareFetchFiles(FetchFiles& files, const std::function<bool()>& stopped, const std::wstring& url,
                                std::int64_t size, bool may_continue) {
  PreparedFiles prepared;
  // Before each step: a close at any moment starts none after it.
  if ((prepared.stopped = stopped())) return prepared;
  files.RemoveEarlierFile();
  if (may_continue) {
    if ((prepared.stopped = stopped())) return prepared;
    prepared.continue_from = files.TakeKept(url, size);
  }
  if (prepared.continue_from) return prepared;
  if ((prepared.stopped = stopped())) return prepared;
  files.CreateWorkingFile(size);
  return prepared;
}

FetchProgress StandingAfterFetch(const std::optional<ResumePoint>& continue_from, const FetchProgress* worker) {
  if (worker) return *worker;
  FetchProgress standing;
  if (continue_from) standing.reached = *continue_from;
  return standing;
}

}  // namespace kelvora
