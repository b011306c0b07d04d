// Names no other process can guess, for objects a privileged or careful
// copy creates where others may create objects too: nobody can lay a link
// or a file of their own at such a name first.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <optional>
#include <string>

#include "platform/calls.h"
#include "platform/system_library.h"

namespace tarnwick {

// What the random-number call gives when bcrypt.dll cannot be loaded.
inline constexpr NTSTATUS kStatusDllNotFound = static_cast<NTSTATUS>(0xC0000135L);

using GenRandomCall = Call<decltype(::BCryptGenRandom)>;

// The system's random numbers; bcrypt.dll is not a known DLL, so it is
// taken from System32 only.
[[nodiscard]] inline GenRandomCall SystemGenRandom() {
  return SystemLibraryCall<decltype(::BCryptGenRandom)>(L"bcrypt.dll", "BCryptGenRandom",
                                                        kStatusDllNotFound);
}

// 32 hexadecimal digits from the system's random numbers; nothing when the
// system gives none.
[[nodiscard]] std::optional<std::wstring> UnpredictableName(const GenRandomCall& gen_random);

}  // namespace tarnwick
