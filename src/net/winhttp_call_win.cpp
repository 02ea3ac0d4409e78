#include "net/winhttp_call_win.h"

#include <algorithm>
#include <new>

#include "net/silence_rule.h"

namespace kelvora::net {

CallLink* CallLink::Create() {
  return new (std::nothrow) CallLink;
}

void CallLink::Release(bool winhttp_holds) {
  const int references = winhttp_holds ? 1 : 2;
  if (references_.fetch_sub(references) == references) delete this;
}

std::uint8_t* CallLink::ReadBuffer(std::size_t size) {
  if (buffer_.size() < size) buffer_.resize(size);
  return buffer_.data();
}

void CallLink::BeginCall() {
  completed_while_starting_ = false;
  ::AcquireSRWLockExclusive(&lock_);
  done_ = false;
  ::ReleaseSRWLockExclusive(&lock_);
  started_ms_ = ::GetTickCount64();
  caller_.store(::GetCurrentThreadId(), std::memory_order_relaxed);
}

void CallLink::Complete(DWORD error, DWORD bytes) {
  error_ = error;
  bytes_ = bytes;
  // Only the thread that is starting the call can be inside it: then the
  // call returns to this very thread, which reads the result itself.
  if (caller_.load(std::memory_order_relaxed) == ::GetCurrentThreadId()) {
    completed_while_starting_ = true;
    return;
  }
  // The lock publishes error_ and bytes_ to the waiting thread.
  ::AcquireSRWLockExclusive(&lock_);
  done_ = true;
  ::ReleaseSRWLockExclusive(&lock_);
  ::WakeConditionVariable(&completed_);
}

std::uint32_t CallLink::Await(const StopSignal* stop, DWORD silence_ms, const std::function<void()>& waiting) {
  if (completed_while_starting_) return error_;
  SilenceRule silence(silence_ms, 0);
  silence.Start(started_ms_);
  bool told_waiting = !waiting;
  // Each slice either sees the completion, or looks at the stop and at the
  // silence: only a silent line runs out the limit. At full speed calls
  // complete long before the first slice ends: no wake-up is added.
  ::AcquireSRWLockExclusive(&lock_);
  for (;;) {
    if (done_) break;
    if (stop && stop->IsSet()) {
      ::ReleaseSRWLockExclusive(&lock_);
      return ERROR_WINHTTP_OPERATION_CANCELLED;
    }
    silence.Heard(heard_ms_.load(std::memory_order_relaxed));
    const std::uint64_t now = ::GetTickCount64();
    if (silence.Silent(now)) {
      ::ReleaseSRWLockExclusive(&lock_);
      return ERROR_WINHTTP_TIMEOUT;
    }
    if (!told_waiting && now - started_ms_ >= kStopPollMs) {
      // Outside the lock: the handler may take its time, and a completion
      // meanwhile is seen right after.
      told_waiting = true;
      ::ReleaseSRWLockExclusive(&lock_);
      waiting();
      ::AcquireSRWLockExclusive(&lock_);
      continue;
    }
    const auto slice = static_cast<DWORD>(std::min<std::uint64_t>(silence.Remaining(now), kStopPollMs));
    // A time-out returns FALSE with the lock held again, like a wake.
    ::SleepConditionVariableSRW(&completed_, &lock_, slice, 0);
  }
  ::ReleaseSRWLockExclusive(&lock_);
  return error_;
}

void CALLBACK CallLink::OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  auto* link = reinterpret_cast<CallLink*>(context);
  if (!link) return;  // the connection's and the session's own handles
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
      if (info && length >= sizeof(DWORD)) link->secure_failures_ |= *static_cast<const DWORD*>(info);
      return;
    case WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED:
      // On WinHTTP's thread, once per piece taken from the connection: one
      // relaxed store, no trip to the kernel.
      link->heard_ms_.store(::GetTickCount64(), std::memory_order_relaxed);
      return;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      link->Complete(0, 0);
      return;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      link->Complete(0, info && length >= sizeof(DWORD) ? *static_cast<const DWORD*>(info) : 0);
      return;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      link->Complete(0, length);
      return;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
      const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
      link->Complete(result ? result->dwError : ERROR_WINHTTP_INTERNAL_ERROR, 0);
      return;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      link->Release();
      return;
    default:
      return;
  }
}

}  // namespace kelvora::net
