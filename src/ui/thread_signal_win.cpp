#include "ui/thread_signal.h"

#include <system_error>

#include "common/win32_handles.h"

namespace kelvora::ui {

struct ThreadSignal::Impl {
  unique_handle event{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

ThreadSignal::ThreadSignal() : impl_(std::make_unique<Impl>()) {
  if (!impl_->event) throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "CreateEventW");
}
ThreadSignal::~ThreadSignal() = default;

void ThreadSignal::Notify() { ::SetEvent(impl_->event.get()); }

void ThreadSignal::Wait() { ::WaitForSingleObject(impl_->event.get(), INFINITE); }

}  // namespace kelvora::ui
