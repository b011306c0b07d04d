// Calls that are not imported but found at run time, in System32 alone: the
// exports of libraries that are not on the system's known-DLL list (the
// loader would look for those beside the executable and in the working
// folder first), and exports that not every system has. A call loads the
// library from System32, calls the export (or answers `unavailable` when
// there is none) and lets the library go.
#pragma once

#include <windows.h>

#include "platform/calls.h"
#include "platform/modules.h"
#include "platform/unique_handle.h"

namespace tarnwick {

template <typename Signature>
struct SystemLibraryFunction;

template <typename Result, typename... Args>
struct SystemLibraryFunction<Result(Args...)> {
  template <typename... Unavailable>
  static auto Bind(const wchar_t* library, const char* name, Unavailable... unavailable) {
    return [library, name, unavailable...](Args... args) -> Result {
      const UniqueModule module(::LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
      using Function = Result WINAPI(Args...);
      Function* const function =
          module ? ProcAddress<Function>(module.get(), name) : static_cast<Function*>(nullptr);
      if (function == nullptr) return Result(unavailable...);
      return function(args...);
    };
  }
};

// A call-table default for export `name` of `library` in System32, with the
// signature of the SDK's declaration; `unavailable` is its result when the
// library or the export cannot be found (none for a call without a result,
// which then does nothing).
template <typename Signature, typename... Result>
Call<Signature> SystemLibraryCall(const wchar_t* library, const char* name, Result... unavailable) {
  static_assert(sizeof...(Result) <= 1, "at most one result for an unavailable call");
  return SystemLibraryFunction<Signature>::Bind(library, name, unavailable...);
}

}  // namespace tarnwick
