// Every name by which the system, the package and the copies of this
// executable know the one tunnel: its service, its configuration, its
// network adapter, its lock, its lines and its machine policy. A second
// tunnel starts here.
//
// The names hang together through the tunnel library: it names the tunnel
// after its configuration file (the file name without ".conf"), gives the
// network adapter it creates that name, and runs as the service
// "WireGuardTunnel$" + that name. Service names ignore letter case, so
// "WireGuardTunnel$Tarnwick" and the adapter "tarnwick" are one tunnel.
//
// The package (packaging/tarnwick.wxs), the run command and the package
// test take these names from this file too; keep each on one line of its
// own, as written.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

// The service that carries the tunnel.
inline constexpr wchar_t kTunnelServicePrefix[] = L"WireGuardTunnel$";
inline constexpr wchar_t kTunnelServiceName[] = L"WireGuardTunnel$Tarnwick";
inline constexpr wchar_t kTunnelServiceDisplayName[] = L"Tarnwick WireGuard Tunnel";

// The configuration: "<ProgramData known folder>\Tarnwick\tarnwick.conf".
inline constexpr wchar_t kConfigFolderName[] = L"Tarnwick";
inline constexpr wchar_t kConfigFileName[] = L"tarnwick.conf";
inline constexpr wchar_t kConfigFileExtension[] = L".conf";

// The tunnel's name for a configuration file name: the name without its
// extension ("tarnwick" for "tarnwick.conf").
[[nodiscard]] inline std::wstring TunnelNameFromConfigFileName(std::wstring_view file_name) {
  return std::wstring(file_name.substr(0, file_name.rfind(L'.')));
}

// The alias of the network adapter the tunnel library creates.
[[nodiscard]] inline std::wstring TunnelAdapterAlias() {
  return TunnelNameFromConfigFileName(kConfigFileName);
}

// Whether two texts are equal but for ASCII letter case.
constexpr bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}
// The service, the file and with it the adapter name one tunnel.
static_assert(EqualIgnoringCase(std::wstring_view(kTunnelServiceName)
                                    .substr(std::wstring_view(kTunnelServicePrefix).size()),
                                std::wstring_view(kConfigFileName)
                                    .substr(0, std::wstring_view(kConfigFileName).size() -
                                                   std::wstring_view(kConfigFileExtension).size())),
              "the service must be named after the configuration file");

// The machine-wide lock of the elevated copies: in a private namespace of
// this name where the system offers one, else under the global name.
inline constexpr wchar_t kOperationNamespace[] = L"Tarnwick";
inline constexpr wchar_t kOperationMutexName[] = L"Tarnwick\\ServiceOperation";
inline constexpr wchar_t kOperationMutexFallbackName[] = L"Global\\TarnwickServiceOperation";

// The Application event log's source of the privileged copies' lines.
inline constexpr wchar_t kEventSourceName[] = L"Tarnwick";

// The machine policy, under HKEY_LOCAL_MACHINE; only administrators can
// write it. Its values: the development switch (trust/program_folder.h)
// and the upgrade's marker (uninstall/data_removal.h).
inline constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Tarnwick";
inline constexpr wchar_t kAllowUnprotectedProgramFolderValue[] = L"AllowUnprotectedProgramFolder";
inline constexpr wchar_t kUpgradeInProgressValue[] = L"UpgradeInProgress";

}  // namespace tarnwick
