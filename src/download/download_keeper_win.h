#pragma once
// The keeping of cut-off downloads between two runs, as the download run
// uses it. Only builds that resume and check a publisher have a keeper
// (kept_file_keeper_win.h); the others do not even link one.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/win32_handles.h"
#include "download/fragment_fetch.h"

namespace kelvora {

// Used by the coordinator thread only; no call throws.
class DownloadKeeper {
 public:
  virtual ~DownloadKeeper() = default;
  // At the run's start: takes up, and holds, what an earlier run kept beside `target`.
  virtual void TakeUp(const std::wstring& target) = 0;
  // The kept bytes to go on from at `url`, whose size request gave `size`:
  // they become `working`, sized to `size`. Kept bytes of `url` that cannot
  // go on there (another size) are removed.
  virtual std::optional<ResumePoint> TakeFor(const std::wstring& url, std::int64_t size, unique_file& working) = 0;
  // After an address of `size` ended without a complete file: keeps
  // `working`'s bytes in place when they may be kept and are more than what
  // is kept already; otherwise the file goes.
  virtual void KeepOrDiscard(unique_file working, const std::wstring& url, std::int64_t size,
                             const FetchProgress& progress) = 0;
  // A download completed: nothing kept is needed any more.
  virtual void Forget() = 0;
};

// Defined per executable: each links one of kept_file_download_keeper_win.cpp
// (builds with resume attempts and a publisher) and no_download_keeper_win.cpp.
std::unique_ptr<DownloadKeeper> MakeDownloadKeeper();

}  // namespace kelvora
