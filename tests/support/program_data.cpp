#include "tests/support/program_data.h"

#include <algorithm>

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include "platform/tunnel_identity.h"
#include "tests/support/paths.h"

namespace tarnwick::e2e {

std::wstring ProgramDataDir() {
  PWSTR known = nullptr;
  std::wstring folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_DEFAULT, nullptr, &known))) {
    folder = known;
  }
  ::CoTaskMemFree(known);
  return folder;
}

std::wstring ConfigFolderBelow(const std::wstring& program_data) {
  return JoinPath(program_data, kConfigFolderName);
}

std::wstring ConfigFileBelow(const std::wstring& program_data) {
  return JoinPath(ConfigFolderBelow(program_data), kConfigFileName);
}

ProgramDataConfig::ProgramDataConfig() {
  const std::wstring program_data = ProgramDataDir();
  if (program_data.empty()) return;
  folder_ = ConfigFolderBelow(program_data);
  path_ = ConfigFileBelow(program_data);
  ready_ = RemoveTree(folder_) || ::GetFileAttributesW(folder_.c_str()) == INVALID_FILE_ATTRIBUTES;
}

ProgramDataConfig::~ProgramDataConfig() {
  if (!folder_.empty()) RemoveTree(folder_);
}

bool ProgramDataConfig::Write(std::string_view text) const {
  if (!ready_) return false;
  if (!::CreateDirectoryW(folder_.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return false;
  }
  return WriteFileBytes(path_, text);
}

HRESULT AnswerKnownFolder(const std::wstring& folder, PWSTR* path) {
  *path = static_cast<PWSTR>(::CoTaskMemAlloc((folder.size() + 1) * sizeof(wchar_t)));
  if (*path == nullptr) return E_OUTOFMEMORY;
  std::copy(folder.c_str(), folder.c_str() + folder.size() + 1, *path);
  return S_OK;
}

}  // namespace tarnwick::e2e
