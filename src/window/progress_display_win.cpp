#include "window/FDownloadDemo.h"
#include "window/progress_text.h"

namespace kelvora {

// On a worker's thread, once per notification: the display update goes to
// the UI thread and the worker waits for it; a closing window answers with an
// abort instead.
void TFormKelvoraInstaller::ReceiveThreadDataEvent(const void*, std::int32_t ThreadNo, std::int32_t ASpeed,
                                                   std::int64_t, std::int64_t AReadCount, bool& Abort) {
  const bool LCancel = Abort || FClosingForm;
  if (!LCancel) {
    RunOnUiThread([this, ThreadNo, ASpeed, AReadCount] {
      ProgressBarArray[ThreadNo]->SetPosition(static_cast<double>(AReadCount));
      LabelProgressArray[ThreadNo]->SetCaption(SpeedText(ASpeed).view());
    });
  }
  Abort = LCancel;
}

}  // namespace kelvora
