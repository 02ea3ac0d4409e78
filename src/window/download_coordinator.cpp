// The download run: ask for the installer's size, prepare the working file,
// let the workers fetch their fragments into it, put a complete file in place,
// then hand over to the completion step and release the window.

#include <windows.h>

#include <exception>
#include <memory>
#include <stdexcept>
#include <vector>

#include "config/download_address.h"
#include "config/installer_publisher.h"
#include "config/resume_attempts.h"
#include "net/winhttp_transport.h"
#include "shell/file_exists.h"
#include "shell/launch_program.h"
#include "ui/dialogs_win.h"
#include "window/FDownloadDemo.h"
#include "window/download_thread_win.h"
#include "window/file_pin_win.h"
#include "window/progress_text.h"
#include "window/publisher_check_win.h"
#include "window/random_draw_win.h"
#include "window/size_request.h"
#include "window/stop_wait_win.h"
#include "window/target_path.h"
#include "window/temp_folder.h"
#include "window/transfer_check.h"
#include "window/working_file_win.h"

namespace kelvora {

namespace {

// The coordinator's working values. The slot set-up and completion steps read
// them on the UI thread while the coordinator waits for those steps.
struct DownloadRunState {
  std::wstring LFileName;
  std::wstring LWorkingName;
  std::int64_t LSize = -1;
  std::int32_t I = 0;
  std::vector<Fragment> plan;
  bool complete = false;
  unique_file working_file;  // the run's handle, from the working file's creation until its move
  bool own_file_only = false;  // set once the size is known: only this run's own file may be launched
  unique_file held_file;     // the file to launch, held from its check until the shell has it
};

// Until every worker has ended, or the run is stopped: then the workers end
// by themselves at once, and their release waits for that.
void WaitForWorkers(const std::vector<std::unique_ptr<TDownloadThread>>& workers, HANDLE stop) {
  std::vector<HANDLE> running;
  for (const auto& worker : workers)
    if (worker->Handle()) running.push_back(worker->Handle());
  while (!running.empty()) {
    std::vector<HANDLE> handles = running;
    handles.push_back(stop);
    const DWORD woken = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
    if (woken >= WAIT_OBJECT_0 + running.size()) return;  // stopped, or the wait failed
    running.erase(running.begin() + (woken - WAIT_OBJECT_0));
  }
}

}  // namespace

void TFormKelvoraInstaller::SampleDownload() {
  DownloadRunState state;
  std::exception_ptr failure;
  std::unique_ptr<net::HttpClient> client;
  try {
    // Everything that can fail, the client and the path included, lies
    // inside: the final steps below must always run to release the window.
    client = net::CreateWinHttpClient(StopSignal());
    // Without a usable temporary folder the run fails: a bare or relative
    // name would put the download in, and launch it from, whatever folder the
    // program was started from.
    const std::wstring folder = TemporaryFolder();
    if (!IsFullyQualifiedFolder(folder)) throw std::runtime_error("no usable temporary folder");
    state.LFileName = JoinTargetPath(folder);
    state.LWorkingName = WorkingFileName(state.LFileName);

    const RetryRules retries{kResumeAttempts, SystemRandomDraw, nullptr};
    const SizeAnswer size = AskSize(*client, kDownloadUrl, retries, StopAwareWait(StopSignal()));
    // Once any answer came, only this run's own file may be launched.
    state.own_file_only = size.answered;
    if (!size.usable) throw std::runtime_error("the size request failed");
    state.LSize = size.size;
    // No installer is that large (the body of a GET is capped there too):
    // nothing is set aside for it, and the run fails.
    if (!InstallerSizeAllowed(state.LSize)) throw std::runtime_error("announced size above the limit");

    // Only a complete download may lie at the target path from now on.
    RemoveEarlierFile(state.LFileName);
    state.working_file = CreateWorkingFile(state.LWorkingName, state.LSize);

    state.plan = PlanFragments(state.LSize, ThreadCount);
    std::vector<std::unique_ptr<TDownloadThread>> workers;
    for (state.I = 0; state.I < static_cast<std::int32_t>(state.plan.size()) && !FClosingForm; ++state.I) {
      const Fragment& fragment = state.plan[state.I];
      workers.push_back(std::make_unique<TDownloadThread>(kDownloadUrl, DuplicateFileHandle(state.working_file.get()),
                                                          state.I, fragment.start, fragment.end));
      workers.back()->SetStopSignal(StopSignal());
      workers.back()->SetResumeAttempts(kResumeAttempts);
      workers.back()->SetOnThreadData([this](const void* Sender, std::int32_t ThreadNo, std::int32_t ASpeed,
                                             std::int64_t AContentLength, std::int64_t AReadCount, bool& Abort) {
        ReceiveThreadDataEvent(Sender, ThreadNo, ASpeed, AContentLength, AReadCount, Abort);
      });
      RunOnUiThread([this, &state] {
        ProgressBarArray[state.I]->SetUpSlot(SlotMaximum(state.plan[state.I]));
        LabelProgressArray[state.I]->SetCaption(SetupSpeedText());
      });
    }

    for (auto& worker : workers) worker->Start();
    WaitForWorkers(workers, StopSignal());

    std::vector<TransferOutcome> outcomes;
    for (auto& worker : workers) {
      worker->WaitForEnd();
      outcomes.push_back(worker->Outcome());
      worker.reset();
    }
    state.complete = DownloadComplete(state.plan, state.LSize, outcomes);
    if (state.complete) state.held_file = PutInPlace(std::move(state.working_file), state.LFileName);
  } catch (...) {
    failure = std::current_exception();
  }

  // Final steps, however the run went.
  client.reset();
  if (state.working_file) DiscardFile(std::move(state.working_file));
  // What may be launched is held from here until the shell has it: the file
  // this run put in place, or, when the size request itself failed, a file
  // an earlier run left. Once the size is known, a file that turns up at the
  // path (or stays there) is never launched.
  if (!state.held_file && !state.own_file_only && !state.LFileName.empty())
    state.held_file = PinFile(state.LFileName, unique_file());
  // Checked here rather than in the completion step: hashing the whole file
  // must not stall the window. A rejected file is gone.
  const bool accepted = state.held_file && AcceptInstaller(state.LFileName, state.held_file, kInstallerPublisher);
  try {
    RunOnUiThread([this, &state, accepted] {
      // A run the user stopped starts nothing, not even a file from before.
      if (!FClosingForm && accepted && state.held_file && FileExists(state.LFileName))
        LaunchProgram(state.LFileName, L"", false, SW_SHOWNORMAL);
      else
        ui::ShowPlainMessage(application_.Handle(), kDownloadFailedText);
    });
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  state.held_file.reset();
  FAllowFormClose = true;
  RunOnUiThread([] { FormKelvoraInstaller->CloseAtRunEnd(); });
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kelvora
