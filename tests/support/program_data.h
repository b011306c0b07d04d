// The one configuration file privileged copies accept, in the configuration
// folder of the ProgramData known folder, owned by a test while it runs.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace tarnwick::e2e {

// A configuration the tunnel stand-in accepts: one interface, one peer.
constexpr char kValidConfig[] =
    "[Interface]\r\n"
    "PrivateKey = yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=\r\n"
    "Address = 10.8.0.2/32\r\n"
    "\r\n"
    "[Peer]\r\n"
    "PublicKey = xTIBA5rboUvnH4htodjb6e697QjLERt1NAB4mZqp8Dg=\r\n"
    "AllowedIPs = 0.0.0.0/0\r\n"
    "Endpoint = 192.0.2.1:51820\r\n";

// The ProgramData known folder as the system names it (not the PROGRAMDATA
// variable); empty when the system does not say.
[[nodiscard]] std::wstring ProgramDataDir();

// The configuration's folder and file below a ProgramData of a test's own.
[[nodiscard]] std::wstring ConfigFolderBelow(const std::wstring& program_data);
[[nodiscard]] std::wstring ConfigFileBelow(const std::wstring& program_data);

// What SHGetKnownFolderPath gives a test that scripts the known folder:
// folder as the shell's allocation, freed by the caller with CoTaskMemFree.
HRESULT AnswerKnownFolder(const std::wstring& folder, PWSTR* path);

// "<ProgramData>\Tarnwick" for the life of a test: whatever an earlier run
// left there is removed when the object is made and what the test made is
// removed when it goes (a link, not what it points at).
class ProgramDataConfig {
 public:
  ProgramDataConfig();
  ~ProgramDataConfig();
  ProgramDataConfig(const ProgramDataConfig&) = delete;
  ProgramDataConfig& operator=(const ProgramDataConfig&) = delete;

  // False when the folder is unknown or a leftover could not be removed.
  [[nodiscard]] bool ready() const { return ready_; }
  [[nodiscard]] const std::wstring& folder() const { return folder_; }
  // The configuration file's path.
  [[nodiscard]] const std::wstring& path() const { return path_; }
  // Creates the folder if needed and writes the file.
  [[nodiscard]] bool Write(std::string_view text) const;

 private:
  std::wstring folder_;
  std::wstring path_;
  bool ready_ = false;
};

}  // namespace tarnwick::e2e
