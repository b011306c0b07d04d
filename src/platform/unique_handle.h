// Move-only owners for Windows resources. The traits of each kind say, at
// compile time, which value means "none" and which call gives the resource
// back, so an owner is one handle wide and cannot be closed the wrong way.
// Declare a service handle after its manager handle: C++ destroys in
// reverse order, so the service handle is closed first on every path.
#pragma once

#include <windows.h>

#include <combaseapi.h>

#include <utility>

namespace tarnwick {

template <typename Traits>
class UniqueAny {
 public:
  using pointer = typename Traits::Type;

  UniqueAny() noexcept = default;
  explicit UniqueAny(pointer value) noexcept : value_(value) {}
  ~UniqueAny() { reset(); }

  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  [[nodiscard]] pointer get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

  // For calls that hand a resource back through an out-parameter.
  [[nodiscard]] pointer* put() noexcept {
    reset();
    return &value_;
  }

  [[nodiscard]] pointer release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  void reset(pointer value = Traits::Invalid()) noexcept {
    const pointer old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

 private:
  pointer value_ = Traits::Invalid();
};

namespace handle_traits {

// Process, thread, event, mutex, mapping: null means none.
struct Kernel {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ::CloseHandle(value); }
};
// What CreateFileW returns: INVALID_HANDLE_VALUE means none.
struct File {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) noexcept { ::CloseHandle(value); }
};
// Service manager and service handles.
struct Service {
  using Type = SC_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ::CloseServiceHandle(value); }
};
// A library loaded at run time.
struct Module {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ::FreeLibrary(value); }
};
// Memory the system allocated for the caller with LocalAlloc: argument
// arrays, security descriptors made from SDDL, SIDs and the like.
struct Local {
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ::LocalFree(value); }
};
// Memory a shell call allocated for the caller with CoTaskMemAlloc, such as a
// known folder's path.
struct CoTaskMem {
  using Type = void*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ::CoTaskMemFree(value); }
};
// An event log source this code registered.
struct EventSource {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ::DeregisterEventSource(value); }
};
// A registry key this code opened.
struct RegistryKey {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ::RegCloseKey(value); }
};
// A window this code created and destroys itself.
struct Window {
  using Type = HWND;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ::DestroyWindow(value); }
};

}  // namespace handle_traits

using UniqueKernelHandle = UniqueAny<handle_traits::Kernel>;
using UniqueFileHandle = UniqueAny<handle_traits::File>;
using UniqueServiceHandle = UniqueAny<handle_traits::Service>;
using UniqueModule = UniqueAny<handle_traits::Module>;
using UniqueLocalMemory = UniqueAny<handle_traits::Local>;
using UniqueCoTaskMemory = UniqueAny<handle_traits::CoTaskMem>;
using UniqueWindow = UniqueAny<handle_traits::Window>;
using UniqueRegistryKey = UniqueAny<handle_traits::RegistryKey>;
using UniqueEventSource = UniqueAny<handle_traits::EventSource>;

}  // namespace tarnwick
