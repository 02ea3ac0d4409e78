#pragma once
// One move-only owner for every kind of platform handle: the close function and
// the invalid value are template parameters, copying is deleted, so a handle is
// closed exactly once by whoever owns it last.

#include <cstdint>
#include <type_traits>
#include <utility>

namespace kelvora {

// Invalid is given as an integer so that pointer-like handles can use -1
// (INVALID_HANDLE_VALUE) as well as 0.
template <typename T, auto Close, std::intptr_t Invalid = 0>
class unique_any {
  static T invalid() noexcept {
    if constexpr (std::is_pointer_v<T>)
      return reinterpret_cast<T>(Invalid);
    else
      return static_cast<T>(Invalid);
  }

 public:
  unique_any() noexcept = default;
  explicit unique_any(T value) noexcept : value_(value) {}
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  unique_any(unique_any&& other) noexcept : value_(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~unique_any() { reset(); }

  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != invalid(); }

  void reset(T value = invalid()) noexcept {
    T old = std::exchange(value_, value);
    if (old != invalid()) Close(old);
  }
  [[nodiscard]] T release() noexcept { return std::exchange(value_, invalid()); }
  // For out-parameters: frees the current value and hands out the slot.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  T value_ = invalid();
};

}  // namespace kelvora
