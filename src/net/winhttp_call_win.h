#pragma once
// One WinHTTP request handle in asynchronous mode, waited for like a
// synchronous call: each call is started, and the calling thread waits for
// its completion or for the run's stop signal, whichever comes first. A
// synchronous WinHTTP call cannot be interrupted; an asynchronous one is
// ended by closing its handle.
//
// WinHTTP completes a call whose data is already at hand on the calling
// thread, inside the call itself. Such a completion is only recorded.
//
// A completion on WinHTTP's own thread wakes the caller through a condition
// variable, not an event: under Wine every event set and every wait on one is
// a round trip to the Wine server, and a read loop that hands each record
// over that way took 2.1 times as long as the synchronous loop; with a
// condition variable 1.1 times (measured, Wine 8, 512 MiB over loopback).
// The waiting caller looks at the run's stop between slices of kStopPollMs.

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/stop_signal_win.h"

namespace kelvora::net {

// What the status callback and the waiting thread share for one request
// handle. WinHTTP holds one reference from the handle's opening until it
// reports the handle closed (HANDLE_CLOSING), the request the other. A handle
// closed in the middle of a call may never be reported closed (Wine): the
// link then stays for the rest of the process, so that a late callback never
// finds it gone; that is a few bytes, and a read buffer, per stopped request.
class CallLink {
 public:
  // Null when out of memory.
  static CallLink* Create();
  // How often a waiting caller looks at the stop: a close ends every wait
  // within this, and a call that has waited this long counts as waiting for
  // the network (the waiting handler runs).
  static constexpr DWORD kStopPollMs = 25;
  CallLink(const CallLink&) = delete;
  CallLink& operator=(const CallLink&) = delete;

  // The status callback of every session in asynchronous mode; the context
  // of a request handle is its link.
  static void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);
  // The notifications OnStatus needs.
  static constexpr DWORD kNotifications =
      WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_FLAG_HANDLES |
      WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED;

  // The request lets go of its reference; `winhttp_holds` false when the
  // handle never got the link as its context (no HANDLE_CLOSING will come).
  void Release(bool winhttp_holds = true);

  // Around the start of one call, on the calling thread: a completion that
  // comes while the call is being started on this thread is taken at once.
  void BeginCall();
  void EndCall() { caller_.store(0, std::memory_order_relaxed); }
  // After a call was started: waits for its completion, or until `stop`
  // (may be null) is set, or until no byte has come from the server for
  // `silence_ms` (SilenceRule: a read that fills slowly is waited for as long
  // as bytes arrive); not at all when it completed while being started.
  // `waiting` (may be empty) runs once, on this thread, when the call is
  // still waiting after kStopPollMs.
  // Returns 0 or the call's error; on a stop ERROR_WINHTTP_OPERATION_CANCELLED,
  // on silence ERROR_WINHTTP_TIMEOUT: the caller must then close the handle
  // and make no further call on it.
  std::uint32_t Await(const StopSignal* stop, DWORD silence_ms, const std::function<void()>& waiting);

  // Of the last completed call: the bytes available or read.
  DWORD bytes() const { return bytes_; }
  // Where reads land: WinHTTP may still write into it after a stop, so it
  // lives with the link, not with the caller.
  std::uint8_t* ReadBuffer(std::size_t size);
  // The reasons the secure-failure notifications gave since the last call.
  std::uint32_t TakeSecureFailures() { return secure_failures_.exchange(0); }

 private:
  CallLink() = default;
  ~CallLink() = default;
  void Complete(DWORD error, DWORD bytes);

  std::atomic<int> references_{2};
  // A completion on another thread: done_ under lock_, then a wake. Reset
  // when the next call begins; after a stop or a time-out the link makes no
  // more calls, so a late completion finds nobody waiting.
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE completed_ = CONDITION_VARIABLE_INIT;
  bool done_ = false;
  // When bytes last came from the server (GetTickCount64), from the
  // RESPONSE_RECEIVED notifications. They come while a read is pending (Wine
  // measured: one per 8 KiB taken from the connection, on WinHTTP's thread;
  // Windows documents them as bytes received). Only the time is used: the
  // counts are the connection's bytes, not the file's.
  std::atomic<std::uint64_t> heard_ms_{0};
  std::uint64_t started_ms_ = 0;  // the caller's thread only
  // The thread starting a call, while it does; 0 otherwise.
  std::atomic<DWORD> caller_{0};
  bool completed_while_starting_ = false;  // the caller's thread only
  DWORD error_ = 0;
  DWORD bytes_ = 0;
  std::vector<std::uint8_t> buffer_;
  std::atomic<std::uint32_t> secure_failures_{0};
};

}  // namespace kelvora::net
