#include "trust/tunnel_config.h"

#include "platform/command_line.h"
#include "platform/unique_handle.h"

namespace tarnwick {
namespace {

// The trusted principals of a configuration: SYSTEM, administrators and
// the user who wrote the file.
bool OnlyOwnerAndAdministratorsCanChange(const InspectedPath& path, PSID file_owner) {
  const UniqueLocalMemory system = WellKnownSid(Principal::kSystem);
  const UniqueLocalMemory administrators = WellKnownSid(Principal::kAdministrators);
  return OnlyTrustedCanChange(path.owner, path.dacl,
                              {system.get(), administrators.get(), file_owner});
}

}  // namespace

ConfigLocation TunnelConfigLocation(const TrustCalls& calls) {
  ConfigLocation location;
  PWSTR known = nullptr;
  const HRESULT result =
      calls.SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_DEFAULT, nullptr, &known);
  // The path is the caller's to free even when the call fails.
  const UniqueCoTaskMemory known_owner(known);
  if (FAILED(result) || known == nullptr || *known == L'\0') {
    location.error = FAILED(result) ? result : E_UNEXPECTED;
    return location;
  }
  location.program_data = known;
  location.folder = location.program_data + L"\\" + kConfigFolderName;
  location.file = location.folder + L"\\" + kConfigFileName;
  return location;
}

std::optional<Refusal> CheckTunnelConfigPath(const std::wstring& config_path,
                                             const ConfigLocation& location,
                                             const TrustCalls& calls) {
  if (!IsQuotablePath(config_path)) {
    return Refusal{L"configuration path holds a quote or ends in a backslash"};
  }
  if (!location) {
    return Refusal{L"ProgramData folder unknown: " + SystemErrorText(location.error)};
  }
  if (::CompareStringOrdinal(config_path.c_str(), -1, location.file.c_str(), -1, TRUE) !=
      CSTR_EQUAL) {
    return Refusal{L"configuration is not the ProgramData configuration file"};
  }

  InspectedPath folder_seen;
  PathFault fault = InspectPath(location.folder, PathKind::kDirectory, 0, &folder_seen, calls);
  if (fault != PathFault::kNone) {
    return Refusal{L"configuration folder " + DescribePathFault(fault, folder_seen.error)};
  }
  InspectedPath file_seen;
  fault = InspectPath(location.file, PathKind::kFile, 0, &file_seen, calls);
  if (fault != PathFault::kNone) {
    return Refusal{L"configuration file " + DescribePathFault(fault, file_seen.error)};
  }

  if (!OnlyOwnerAndAdministratorsCanChange(folder_seen, file_seen.owner)) {
    return Refusal{L"configuration folder can be changed by others"};
  }
  if (!OnlyOwnerAndAdministratorsCanChange(file_seen, file_seen.owner)) {
    return Refusal{L"configuration file can be changed by others"};
  }
  return std::nullopt;
}

}  // namespace tarnwick
