#include "platform/security_descriptor.h"

namespace tarnwick {

UniqueLocalMemory SecurityDescriptorFromSddl(
    const wchar_t* sddl,
    const Call<decltype(::ConvertStringSecurityDescriptorToSecurityDescriptorW)>& convert) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!convert(sddl, SDDL_REVISION_1, &descriptor, nullptr)) return UniqueLocalMemory();
  return UniqueLocalMemory(descriptor);
}

}  // namespace tarnwick
