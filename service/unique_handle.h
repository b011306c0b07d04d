// Move-only owners for Windows handles. Each alias says what "no handle"
// means for its kind and which call closes it. The close call is stored with
// the handle, so code that takes its Windows calls from a table (see the
// *Calls structs) closes through that same table. Declare a service handle
// after its manager handle: C++ destroys in reverse order, so the service
// handle is closed first on every path.
#pragma once

#include <windows.h>

#include <utility>

namespace tarnwick {

template <typename T, typename Invalid>
class UniqueHandle {
 public:
  using pointer = T;
  using CloseFn = BOOL(WINAPI*)(T);

  UniqueHandle() noexcept = default;
  UniqueHandle(pointer value, CloseFn close) noexcept : value_(value), close_(close) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept
      : value_(other.release()), close_(other.close_) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      close_ = other.close_;
      value_ = other.release();
    }
    return *this;
  }

  [[nodiscard]] pointer get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Invalid::value(); }

  [[nodiscard]] pointer release() noexcept {
    return std::exchange(value_, Invalid::value());
  }
  void reset() noexcept {
    pointer old = std::exchange(value_, Invalid::value());
    if (old != Invalid::value() && close_ != nullptr) close_(old);
  }

 private:
  pointer value_ = Invalid::value();
  CloseFn close_ = nullptr;
};

template <typename T>
struct NullIsInvalid {
  static T value() noexcept { return nullptr; }
};
struct InvalidHandleValueIsInvalid {
  static HANDLE value() noexcept { return INVALID_HANDLE_VALUE; }
};

// Process, thread, event, mutex, mapping: null means none; CloseHandle.
using UniqueKernelHandle = UniqueHandle<HANDLE, NullIsInvalid<HANDLE>>;
// CreateFileW: INVALID_HANDLE_VALUE means none; CloseHandle.
using UniqueFileHandle = UniqueHandle<HANDLE, InvalidHandleValueIsInvalid>;
// Service manager and service handles; CloseServiceHandle.
using UniqueScHandle = UniqueHandle<SC_HANDLE, NullIsInvalid<SC_HANDLE>>;
// Run-time loaded library; FreeLibrary.
using UniqueLibrary = UniqueHandle<HMODULE, NullIsInvalid<HMODULE>>;

}  // namespace tarnwick
