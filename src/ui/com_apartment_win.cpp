#include "ui/com_apartment_win.h"

#include <objbase.h>

namespace kelvora::ui {

ComApartment::ComApartment() noexcept
    : joined_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}

ComApartment::~ComApartment() {
  if (joined_) ::CoUninitialize();
}

}  // namespace kelvora::ui
