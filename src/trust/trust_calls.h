// The Windows calls of the trust checks (the known folder, the registry
// switch, the drive of the program folder), defaulting to the real ones. The
// service and tunnel channel tables derive from this one, so each
// subsystem still has one table and a test scripts them all in one place.
#pragma once

#include <windows.h>

#include <shlobj.h>

#include "platform/calls.h"
#include "platform/file_trust.h"

namespace tarnwick {

struct TrustCalls : FileTrustCalls {
  Call<decltype(::SHGetKnownFolderPath)> SHGetKnownFolderPath = ::SHGetKnownFolderPath;
  Call<decltype(::RegGetValueW)> RegGetValueW = ::RegGetValueW;
  Call<decltype(::GetDriveTypeW)> GetDriveTypeW = ::GetDriveTypeW;
};

}  // namespace tarnwick
