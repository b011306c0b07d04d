// Security descriptors written as SDDL, for objects created with the
// permissions they need from the first moment.
#pragma once

#include <windows.h>

#include <sddl.h>

#include "platform/calls.h"
#include "platform/unique_handle.h"

namespace tarnwick {

// The descriptor the SDDL text describes, in memory the owner frees; empty
// when the text does not parse (the last error says why).
[[nodiscard]] UniqueLocalMemory SecurityDescriptorFromSddl(
    const wchar_t* sddl,
    const Call<decltype(::ConvertStringSecurityDescriptorToSecurityDescriptorW)>& convert =
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW);

// Attributes that carry the descriptor and are not inherited by child
// processes; valid while the descriptor lives.
[[nodiscard]] inline SECURITY_ATTRIBUTES AttributesOf(const UniqueLocalMemory& descriptor) {
  return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
}

}  // namespace tarnwick
