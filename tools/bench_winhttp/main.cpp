// The platform's limits for the benchmark: the plainest WinHTTP download
// loops, fetching a URL into a file and nothing else.
//   kelvora_bench_winhttp.exe [MODE] URL OUTPUT_FILE
// MODE:
//   (none)                fixed 1 MiB reads, synchronous
//   --async-1mib          fixed 1 MiB reads on an asynchronous session, each
//                         waited for on an event that the status callback sets
//   --read-pattern        the installer's read pattern (ask how many bytes are
//                         available, read exactly that many, write them),
//                         synchronous: the floor for a program that keeps it
//   --async-read-pattern  the same pattern on an asynchronous session, each
//                         call started and then waited for on an event that
//                         the status callback sets
//   --async-read-pattern-cv  the same, waited for on a condition variable
//                         that the status callback wakes, as the program waits
//   --design-floor        the synchronous read pattern plus one empty step
//                         handed to a UI thread and waited for after every
//                         chunk (PostThreadMessage to a thread in GetMessage,
//                         an SRW lock and condition variable back): what a
//                         program with one UI hand-over per chunk cannot beat
// Prints the bytes fetched; the asynchronous loop also prints, on standard
// error, how many calls it made and how many WinHTTP completed on the calling
// thread before returning.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cwchar>
#include <thread>
#include <vector>

namespace {

bool WriteAll(HANDLE file, const char* data, DWORD count) {
  DWORD written = 0;
  return WriteFile(file, data, count, &written, nullptr) && written == count;
}

// Returns the bytes fetched, or -1 when reading or writing failed.
long long FixedReads(HINTERNET request, HANDLE file) {
  std::vector<char> buffer(1024 * 1024);
  long long total = 0;
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), &read)) return -1;
    if (read == 0) return total;
    if (!WriteAll(file, buffer.data(), read)) return -1;
    total += read;
  }
}

template <typename AfterChunk>
long long ReadPattern(HINTERNET request, HANDLE file, AfterChunk after_chunk) {
  std::vector<char> buffer;
  long long total = 0;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return -1;
    if (available == 0) return total;
    if (buffer.size() < available + 1) buffer.resize(available + 1);
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer.data(), available, &read)) return -1;
    if (read == 0) return total;
    if (!WriteAll(file, buffer.data(), read)) return -1;
    total += read;
    after_chunk();
  }
}

// A UI thread in its message loop that runs an empty step per posted message
// and wakes the thread that handed it over.
class UiThread {
 public:
  UiThread() {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, ready] {
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue
      id_ = GetCurrentThreadId();
      SetEvent(ready);
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message != WM_APP) continue;
        AcquireSRWLockExclusive(&lock_);
        done_ = true;
        ReleaseSRWLockExclusive(&lock_);
        WakeAllConditionVariable(&condition_);
      }
    });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
  }
  ~UiThread() {
    PostThreadMessageW(id_, WM_QUIT, 0, 0);
    thread_.join();
  }
  void Step() {
    AcquireSRWLockExclusive(&lock_);
    done_ = false;
    ReleaseSRWLockExclusive(&lock_);
    PostThreadMessageW(id_, WM_APP, 0, 0);
    AcquireSRWLockExclusive(&lock_);
    while (!done_) SleepConditionVariableSRW(&condition_, &lock_, INFINITE, 0);
    ReleaseSRWLockExclusive(&lock_);
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
  bool done_ = false;
  std::thread thread_;
  DWORD id_ = 0;
};

// The asynchronous session's one request: the callback reports each call's end.
struct AsyncState {
  HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  // With a condition variable in place of the event: a wait that stays in
  // user space where the platform allows it.
  bool use_condition = false;
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE condition = CONDITION_VARIABLE_INIT;
  bool completed = false;
  DWORD caller = GetCurrentThreadId();
  DWORD error = 0;
  DWORD bytes = 0;
  long long calls = 0;
  long long inline_calls = 0;
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  auto* state = reinterpret_cast<AsyncState*>(context);
  if (!state) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      state->bytes = 0;
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      state->bytes = *static_cast<DWORD*>(info);
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      state->bytes = length;
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      state->error = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
      break;
    default:
      return;
  }
  if (GetCurrentThreadId() == state->caller) ++state->inline_calls;
  if (state->use_condition) {
    AcquireSRWLockExclusive(&state->lock);
    state->completed = true;
    ReleaseSRWLockExclusive(&state->lock);
    WakeConditionVariable(&state->condition);
    return;
  }
  SetEvent(state->done);
}

// Starts a call and waits for its completion.
template <typename Start>
bool AsyncCall(AsyncState& state, Start start) {
  ++state.calls;
  if (state.use_condition) {
    AcquireSRWLockExclusive(&state.lock);
    state.completed = false;
    ReleaseSRWLockExclusive(&state.lock);
  }
  if (!start()) return false;
  if (state.use_condition) {
    AcquireSRWLockExclusive(&state.lock);
    while (!state.completed) SleepConditionVariableSRW(&state.condition, &state.lock, 100, 0);
    ReleaseSRWLockExclusive(&state.lock);
  } else {
    WaitForSingleObject(state.done, INFINITE);
  }
  return state.error == 0;
}

long long AsyncFixedReads(HINTERNET request, HANDLE file, AsyncState& state) {
  std::vector<char> buffer(1024 * 1024);
  long long total = 0;
  for (;;) {
    if (!AsyncCall(state, [&] {
          return WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr);
        }))
      return -1;
    const DWORD read = state.bytes;
    if (read == 0) return total;
    if (!WriteAll(file, buffer.data(), read)) return -1;
    total += read;
  }
}

long long AsyncReadPattern(HINTERNET request, HANDLE file, AsyncState& state) {
  std::vector<char> buffer;
  long long total = 0;
  for (;;) {
    if (!AsyncCall(state, [&] { return WinHttpQueryDataAvailable(request, nullptr); })) return -1;
    const DWORD available = state.bytes;
    if (available == 0) return total;
    if (buffer.size() < available + 1) buffer.resize(available + 1);
    if (!AsyncCall(state, [&] { return WinHttpReadData(request, buffer.data(), available, nullptr); })) return -1;
    const DWORD read = state.bytes;
    if (read == 0) return total;
    if (!WriteAll(file, buffer.data(), read)) return -1;
    total += read;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  enum class Mode { FixedReads, AsyncFixedReads, ReadPattern, AsyncReadPattern, DesignFloor } mode = Mode::FixedReads;
  bool use_condition = false;
  if (argc == 4) {
    if (std::wcscmp(argv[1], L"--read-pattern") == 0) mode = Mode::ReadPattern;
    else if (std::wcscmp(argv[1], L"--async-1mib") == 0) mode = Mode::AsyncFixedReads;
    else if (std::wcscmp(argv[1], L"--async-read-pattern") == 0) mode = Mode::AsyncReadPattern;
    else if (std::wcscmp(argv[1], L"--async-read-pattern-cv") == 0) {
      mode = Mode::AsyncReadPattern;
      use_condition = true;
    } else if (std::wcscmp(argv[1], L"--design-floor") == 0) mode = Mode::DesignFloor;
    else argc = 0;
  }
  if (argc != 3 && argc != 4) {
    std::fwprintf(stderr, L"usage: kelvora_bench_winhttp [--async-1mib|--read-pattern|--async-read-pattern|--async-read-pattern-cv|"
                          L"--design-floor] "
                          L"URL OUTPUT_FILE\n");
    return 2;
  }
  const wchar_t* url = argv[argc - 2];
  const wchar_t* output = argv[argc - 1];
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  wchar_t host[256], path[2048];
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 2048;
  if (!WinHttpCrackUrl(url, 0, 0, &parts)) return 3;

  const bool async = mode == Mode::AsyncReadPattern || mode == Mode::AsyncFixedReads;
  AsyncState state;
  state.use_condition = use_condition;
  HINTERNET session =
      WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, async ? WINHTTP_FLAG_ASYNC : 0);
  if (async && session &&
      WinHttpSetStatusCallback(session, OnStatus, WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS, 0) ==
          WINHTTP_INVALID_STATUS_CALLBACK)
    return 4;
  HINTERNET connection = session ? WinHttpConnect(session, host, parts.nPort, 0) : nullptr;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path, nullptr, nullptr, nullptr,
                                                      WINHTTP_FLAG_SECURE)
                                 : nullptr;
  if (!request) return 4;
  if (async) {
    const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&state);
    if (!AsyncCall(state, [&] { return WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, context); }) ||
        !AsyncCall(state, [&] { return WinHttpReceiveResponse(request, nullptr); }))
      return 4;
  } else if (!WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) || !WinHttpReceiveResponse(request, nullptr)) {
    return 4;
  }

  HANDLE file = CreateFileW(output, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 5;
  long long total = -1;
  switch (mode) {
    case Mode::FixedReads:
      total = FixedReads(request, file);
      break;
    case Mode::AsyncFixedReads:
      total = AsyncFixedReads(request, file, state);
      std::fprintf(stderr, "calls %lld, completed inline %lld\n", state.calls, state.inline_calls);
      break;
    case Mode::ReadPattern:
      total = ReadPattern(request, file, [] {});
      break;
    case Mode::AsyncReadPattern:
      total = AsyncReadPattern(request, file, state);
      std::fprintf(stderr, "calls %lld, completed inline %lld\n", state.calls, state.inline_calls);
      break;
    case Mode::DesignFloor: {
      UiThread ui;
      total = ReadPattern(request, file, [&ui] { ui.Step(); });
      break;
    }
  }
  CloseHandle(file);
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  if (total < 0) return 6;
  std::printf("%lld\n", total);
  return 0;
}
