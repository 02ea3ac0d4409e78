#include "window/FDownloadDemo.h"

namespace kelvora {

// Until the download engine is in place the run ends at once: the window is
// released and closed as at the end of every run.
void TFormKelvoraInstaller::SampleDownload() {
  FAllowFormClose = true;
  RunOnUiThread([] { FormKelvoraInstaller->Close(); });
}

void TFormKelvoraInstaller::ReceiveThreadDataEvent(const void*, std::int32_t, std::int32_t, std::int64_t,
                                                   std::int64_t, bool& Abort) {
  Abort = Abort || FClosingForm;
}

}  // namespace kelvora
