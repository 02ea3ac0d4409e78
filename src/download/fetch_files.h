#pragma once
// The file steps that begin an address's fetch, in their order, and what a
// close does to them: once the run is stopped nothing more is touched, so
// bytes an earlier run kept stay, with their record, for the next run.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "download/fragment_fetch.h"

namespace kelvora {

// The coordinator's files as a fetch begins (the Win32 side gives the real
// ones, tests give fakes). Coordinator thread only.
class FetchFiles {
 public:
  virtual ~FetchFiles() = default;
  // Removes what lies at the installer's path: only a complete download may
  // lie there from now on. Throws what the removal throws.
  virtual void RemoveEarlierFile() = 0;
  // The bytes an earlier run kept for `url`, whose size request gave
  // `size`, to go on from: they become the working file. Never throws.
  virtual std::optional<ResumePoint> TakeKept(const std::wstring& url, std::int64_t size) = 0;
  // Creates the working file of `size` bytes (-1: unknown) unless kept
  // bytes became it. Throws what the creation throws.
  virtual void CreateWorkingFile(std::int64_t size) = 0;
};

struct PreparedFiles {
  bool stopped = false;                      // the run was stopped: no further step was taken
  std::optional<ResumePoint> continue_from;  // the kept bytes that became the working file
};

// Takes the steps of `files` for `url` of `size` in their order (kept bytes
// only when `may_continue`), looking at `stopped` before each: a close
// between the size answer and the working file leaves everything after it as
// it was. Throws what the steps throw.
PreparedFiles PrepareFetchFiles(FetchFiles& files, const std::function<bool()>& stopped, const std::wstring& url,
                                std::int64_t size, bool may_continue);

// Where the working file stands when a fetch ended without a complete file,
// for the keeper: what the first fragment's worker reported, or, when none
// ran (a close before it started), the kept bytes it was to go on from,
// which nothing has written since.
FetchProgress StandingAfterFetch(const std::optional<ResumePoint>& continue_from, const FetchProgress* worker);

}  // namespace kelvora
