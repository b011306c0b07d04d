// Windows-like owners and permissions for real files of the prefix, which
// Wine cannot show (one owner, no stored DACLs): the trust checks' calls
// answer GetSecurityInfo from SDDL chosen per path, everything else from the
// real file system.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "platform/file_trust.h"

namespace tarnwick::e2e {

// What GetSecurityInfo gives for an object described by SDDL: a descriptor
// of the system's allocation, with owner and DACL inside it.
DWORD AnswerWithSddl(const std::wstring& sddl, PSID* owner, PACL* dacl,
                     PSECURITY_DESCRIPTOR* descriptor);

class ScriptedSecurity {
 public:
  // The SDDL reported for path (compared as written); other paths keep what
  // Wine reports unless a default is set.
  void Set(const std::wstring& path, const std::wstring& sddl) { sddl_[path] = sddl; }
  // The SDDL reported for every path not Set.
  void SetDefault(const std::wstring& sddl) { default_ = sddl; }
  // Every path the calls opened, in order.
  [[nodiscard]] const std::vector<std::wstring>& opened() const { return opened_; }

  // Makes calls remember which path each handle is and answer its security
  // from Set. This object must outlive the calls.
  void Install(FileTrustCalls& calls);

 private:
  std::map<std::wstring, std::wstring> sddl_;
  std::wstring default_;
  std::vector<std::wstring> opened_;
  std::map<HANDLE, std::wstring> handles_;
};

}  // namespace tarnwick::e2e
