#include "download/kept_file_keeper_win.h"

#include <windows.h>

#include "download/kept_file_win.h"
#include "download/working_file_win.h"

namespace kelvora {

namespace {

class KeptFileKeeper : public DownloadKeeper {
 public:
  void TakeUp(const std::wstring& target) override {
    target_ = target;
    kept_ = TakeUpKept(target_);
  }

  std::optional<ResumePoint> TakeFor(const std::wstring& url, std::int64_t size, unique_file& working) override {
    if (!kept_ || kept_->record.url != url || size < 0) return std::nullopt;
    const KeptDownload record = kept_->record;
    LARGE_INTEGER end{};
    end.QuadPart = size;
    if (!MayContinue(record, url, size) || !::SetFilePointerEx(kept_->file.get(), end, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(kept_->file.get())) {
      RemoveKept(target_, std::move(kept_->file));
      kept_.reset();
      return std::nullopt;
    }
    working = std::move(kept_->file);
    kept_.reset();
    // The bytes are written on from here: their record no longer tells what they are.
    RemoveKeptRecord(target_);
    return ResumePoint{record.validator, record.length, record.total};
  }

  void KeepOrDiscard(unique_file working, const std::wstring& url, std::int64_t size,
                     const FetchProgress& progress) override {
    const KeptDownload record{url, size, progress.reached.validator, progress.reached.in_place};
    if (progress.reached.total != size || !MayKeep(record) || (kept_ && record.length <= kept_->record.length)) {
      DiscardFile(std::move(working));
      return;
    }
    if (kept_) RemoveKept(target_, std::move(kept_->file));
    kept_ = KeepBytes(std::move(working), target_, record);
  }

  // Only what this keeper holds is removed: whatever else lies at the kept
  // names (a link left alone at the start) stays as it is.
  void Forget() override {
    if (kept_) RemoveKept(target_, std::move(kept_->file));
    kept_.reset();
  }

 private:
  std::wstring target_;
  std::optional<HeldKept> kept_;
};

}  // namespace

std::unique_ptr<DownloadKeeper> MakeKeptFileKeeper() { return std::make_unique<KeptFileKeeper>(); }

}  // namespace kelvora
