#include "tests/support/security.h"

#include <sddl.h>

#include <gtest/gtest.h>

namespace tarnwick::e2e {

DWORD AnswerWithSddl(const std::wstring& sddl, PSID* owner, PACL* dacl,
                     PSECURITY_DESCRIPTOR* descriptor) {
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              descriptor, nullptr)) {
    ADD_FAILURE() << "bad SDDL";
    return ERROR_INVALID_PARAMETER;
  }
  BOOL present = FALSE, defaulted = FALSE;
  *owner = nullptr;
  ::GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
  *dacl = nullptr;
  ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
  return ERROR_SUCCESS;
}

void ScriptedSecurity::Install(FileTrustCalls& calls) {
  calls.CreateFileW = [this](LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                             DWORD disposition, DWORD flags, HANDLE template_file) {
    const HANDLE handle = ::CreateFileW(path, access, share, sa, disposition, flags, template_file);
    opened_.push_back(path);
    if (handle != INVALID_HANDLE_VALUE) handles_[handle] = path;
    return handle;
  };
  calls.GetSecurityInfo = [this](HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION which,
                                 PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                 PSECURITY_DESCRIPTOR* descriptor) -> DWORD {
    const auto path = handles_.find(handle);
    const auto sddl = path == handles_.end() ? sddl_.end() : sddl_.find(path->second);
    if (sddl != sddl_.end()) return AnswerWithSddl(sddl->second, owner, dacl, descriptor);
    if (!default_.empty()) return AnswerWithSddl(default_, owner, dacl, descriptor);
    return ::GetSecurityInfo(handle, type, which, owner, group, dacl, sacl, descriptor);
  };
}

}  // namespace tarnwick::e2e
