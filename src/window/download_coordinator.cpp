// The download run: for each download address in turn, ask for the
// installer's size, prepare the working file, let the workers fetch their
// fragments into it and put a complete file in place that passes the
// publisher check; then hand over to the completion step and release the
// window.

#include <windows.h>

#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "config/download_address.h"
#include "config/fallback_addresses.h"
#include "config/installer_publisher.h"
#include "config/resume_attempts.h"
#include "net/winhttp_transport.h"
#include "shell/file_exists.h"
#include "shell/launch_program.h"
#include "ui/dialogs_win.h"
#include "window/FDownloadDemo.h"
#include "download/address_run.h"
#include "download/download_keeper_win.h"
#include "download/fetch_files.h"
#include "window/download_thread_win.h"
#include "download/file_pin_win.h"
#include "window/installer_key_gate_win.h"
#include "window/progress_text.h"
#include "window/publisher_check_win.h"
#include "download/random_draw_win.h"
#include "download/size_request.h"
#include "download/stop_wait_win.h"
#include "window/target_path.h"
#include "window/temp_folder.h"
#include "download/transfer_check.h"
#include "download/working_file_win.h"

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
  unique_file working_file;  // the run's handle, from the working file's creation until its move
  bool own_file_only = false;  // set once the size is known: only this run's own file may be launched
  unique_file held_file;     // the file to launch, held from its check until the shell has it
  bool accepted = false;     // the held file passed the publisher check
  // Builds that resume and check a publisher keep a cut-off download for the
  // next run; others have no keeper.
  std::unique_ptr<DownloadKeeper> keeper;
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

// The coordinator's files as a fetch from `url` begins: the earlier file at
// the target path, the kept bytes and the working file.
class RunFiles : public FetchFiles {
 public:
  explicit RunFiles(DownloadRunState& state) : state_(state) {}
  void RemoveEarlierFile() override { kelvora::RemoveEarlierFile(state_.LFileName); }
  std::optional<ResumePoint> TakeKept(const std::wstring& url, std::int64_t size) override {
    return state_.keeper ? state_.keeper->TakeFor(url, size, state_.working_file) : std::nullopt;
  }
  void CreateWorkingFile(std::int64_t size) override {
    state_.working_file = kelvora::CreateWorkingFile(state_.LWorkingName, size);
  }

 private:
  DownloadRunState& state_;
};

// The whole file from `url` into a new working file (or on from bytes an
// earlier run kept), put in place when complete and kept (held) when it
// passes the publisher check. Throws what setting the file up throws.
FetchEnd FetchFrom(TFormKelvoraInstaller& form, DownloadRunState& state, const std::wstring& url, std::int64_t size,
                   bool first_address) {
  // No installer is that large (the body of a GET is capped there too):
  // nothing is set aside for it.
  if (!InstallerSizeAllowed(size)) return FetchEnd::Failed;

  state.LSize = size;
  state.plan = PlanFragments(state.LSize, ThreadCount);
  // Kept bytes are the first bytes of the file: only a plan of one fragment goes on from them.
  const bool single_fragment = state.plan.size() == 1;
  // Only a complete download may lie at the target path from now on. A close
  // before any of these steps leaves it and all after it untouched: kept
  // bytes stay as they are, with their record, for the next run.
  RunFiles files(state);
  PreparedFiles prepared = PrepareFetchFiles(files, [&form] { return form.FClosingForm.load(); }, url, size,
                                             state.keeper && single_fragment);
  if (prepared.stopped) return FetchEnd::Stopped;
  std::optional<ResumePoint> continue_from = std::move(prepared.continue_from);
  int attempts = kResumeAttempts;

  // Twice at most: once more from byte 0 when a file that held kept bytes
  // fails the publisher check (the kept bytes may have been changed).
  for (;;) {
    // Once more from byte 0 after a refusal: a new working file.
    if (!state.working_file) state.working_file = CreateWorkingFile(state.LWorkingName, state.LSize);
    std::vector<std::unique_ptr<TDownloadThread>> workers;
    for (state.I = 0; state.I < static_cast<std::int32_t>(state.plan.size()) && !form.FClosingForm; ++state.I) {
      const Fragment& fragment = state.plan[state.I];
      workers.push_back(std::make_unique<TDownloadThread>(url, DuplicateFileHandle(state.working_file.get()),
                                                          state.I, fragment.start, fragment.end));
      workers.back()->SetStopSignal(&form.RunStopSignal());
      workers.back()->SetResumeAttempts(attempts);
      if (state.I == 0) workers.back()->SetContinuation(continue_from);
      workers.back()->SetOnThreadData([&form](const void* Sender, std::int32_t ThreadNo, std::int32_t ASpeed,
                                              std::int64_t AContentLength, std::int64_t AReadCount, bool& Abort) {
        form.ReceiveThreadDataEvent(Sender, ThreadNo, ASpeed, AContentLength, AReadCount, Abort);
      });
      // The bar starts again from 0 at every address; the label goes on.
      form.RunOnUiThread([&form, &state, first_address] {
        form.ProgressBarArray[state.I]->SetUpSlot(SlotMaximum(state.plan[state.I]));
        if (first_address) form.LabelProgressArray[state.I]->SetCaption(SetupSpeedText());
      });
    }

    for (auto& worker : workers) worker->Start();
    WaitForWorkers(workers, form.RunStopSignal().Event());

    std::vector<TransferOutcome> outcomes;
    std::optional<FetchProgress> first;
    for (auto& worker : workers) {
      worker->WaitForEnd();
      outcomes.push_back(worker->Outcome());
      if (outcomes.size() == 1) first = worker->Progress();
      worker.reset();
    }
    // A close before the first worker began leaves the kept bytes that
    // became the working file as they were: the keeper gets them back.
    const FetchProgress progress = StandingAfterFetch(continue_from, first ? &*first : nullptr);
    if (!DownloadComplete(state.plan, state.LSize, outcomes)) {
      if (state.keeper && single_fragment)
        state.keeper->KeepOrDiscard(std::move(state.working_file), url, size, progress);
      else
        DiscardFile(std::move(state.working_file));
      return form.FClosingForm ? FetchEnd::Stopped : FetchEnd::Failed;
    }
    state.held_file = PutInPlace(std::move(state.working_file), state.LFileName);
    // A run the user stopped launches nothing, so nothing is hashed for it.
    if (form.FClosingForm) return FetchEnd::Stopped;
    // The signature is asked for once the file is complete: a run that
    // breaks off never needs it. It is only held in memory.
    std::optional<EcdsaP256Signature> signature;
    if (InstallerKeysBuiltIn()) {
      signature = FetchInstallerSignature(form.RunStopSignal(), url);
      if (form.FClosingForm) return FetchEnd::Stopped;
    }
    // Checked here rather than in the completion step: hashing the whole file
    // must not stall the window. A rejected file is gone, and the next address
    // may have a good one. With both settings, both checks must pass.
    state.accepted = AcceptInstaller(state.LFileName, state.held_file, kInstallerPublisher) &&
                     AcceptKeySigned(state.LFileName, state.held_file, signature);
    if (state.accepted) {
      // A complete download: nothing kept is needed any more.
      if (state.keeper) state.keeper->Forget();
      return FetchEnd::Accepted;
    }
    state.held_file.reset();
    // Without a signature another download of the file cannot help.
    if (InstallerKeysBuiltIn() && !signature) return FetchEnd::Failed;
    // From byte 0 once more, at the cost of a GET, when the refused file held
    // kept bytes.
    const std::optional<int> again = AttemptsForRefetch(progress, attempts);
    if (!again || form.FClosingForm) return FetchEnd::Failed;
    continue_from.reset();
    attempts = *again;
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
    client = net::CreateWinHttpClient(&RunStopSignal());
    // Without a usable temporary folder the run fails: a bare or relative
    // name would put the download in, and launch it from, whatever folder the
    // program was started from.
    const std::wstring folder = TemporaryFolder();
    if (!IsFullyQualifiedFolder(folder)) throw std::runtime_error("no usable temporary folder");
    state.LFileName = JoinTargetPath(folder);
    state.LWorkingName = WorkingFileName(state.LFileName);
    state.keeper = MakeDownloadKeeper();
    if (state.keeper) state.keeper->TakeUp(state.LFileName);

    const RetryRules retries{kResumeAttempts, SystemRandomDraw, nullptr};
    const WaitUnlessStopped wait = StopAwareWait(&RunStopSignal());
    std::exception_ptr last_failure;
    AddressSteps steps;
    steps.stopped = [this] { return FClosingForm.load(); };
    steps.ask_size = [&](const std::wstring& url) {
      // Every address has a client of its own: its cookies and proxy choice stay with it.
      if (!client) client = net::CreateWinHttpClient(&RunStopSignal());
      const SizeAnswer answer = AskSize(*client, url, retries, wait);
      client.reset();
      // Once any answer came, only this run's own file may be launched.
      if (answer.answered) state.own_file_only = true;
      return answer;
    };
    steps.fetch = [&](const std::wstring& url, std::int64_t size, std::size_t index) {
      try {
        return FetchFrom(*this, state, url, size, index == 0);
      } catch (...) {
        // Whatever went wrong here, the next address may still give the file.
        last_failure = std::current_exception();
        if (state.working_file) DiscardFile(std::move(state.working_file));
        return FClosingForm ? FetchEnd::Stopped : FetchEnd::Failed;
      }
    };
    const AddressRun run = TryAddresses(DownloadAddresses(kDownloadUrl, kFallbackUrls), steps);
    if (!run.accepted && last_failure) std::rethrow_exception(last_failure);
  } catch (...) {
    failure = std::current_exception();
  }

  // Final steps, however the run went.
  client.reset();
  if (state.working_file) DiscardFile(std::move(state.working_file));
  // A run the user stopped launches nothing, so it opens and checks nothing
  // either: no earlier file is pinned, and nothing is hashed.
  const bool stopped = FClosingForm;
  // What may be launched is held from here until the shell has it: the file
  // this run put in place, or, when no size request got an answer, a file
  // an earlier run left. Once a size is known, a file that turns up at the
  // path (or stays there) is never launched. Nor, in a build with keys, is
  // an earlier run's file: without the network there is no signature to
  // check it against.
  if (!stopped && !state.held_file && !state.own_file_only && !state.LFileName.empty() && !InstallerKeysBuiltIn()) {
    state.held_file = PinFile(state.LFileName, unique_file());
    // A rejected file is gone.
    state.accepted = state.held_file && AcceptInstaller(state.LFileName, state.held_file, kInstallerPublisher);
  }
  const bool accepted = !stopped && state.accepted;
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
