#include "uninstall/quarantine.h"

#include <optional>
#include <utility>

#include "platform/random_name.h"
#include "platform/security_descriptor.h"
#include "platform/system_error.h"
#include "uninstall/by_handle.h"

namespace tarnwick {

Quarantine::Quarantine(HANDLE program_data, std::wstring program_data_path,
                       const UninstallCalls& calls, Warn warn)
    : program_data_(program_data),
      program_data_path_(std::move(program_data_path)),
      calls_(calls),
      warn_(std::move(warn)) {}

Quarantine::~Quarantine() {
  if (!folder_) return;
  if (taken_ == 0) {
    (void)DeleteByHandle(folder_.get(), FILE_ATTRIBUTE_DIRECTORY, calls_);
    return;
  }
  // After its entries, which the restart deletes first, in the order given.
  if (!calls_.MoveFileExW(path_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    warn_(path_ + L" cannot be deleted at restart: " +
          CallFailed(L"MoveFileExW", calls_.GetLastError()));
  }
}

bool Quarantine::Take(HANDLE object, const std::wstring& path, const std::wstring& why) {
  if (!Ready(path, why)) return false;
  const std::wstring name = std::to_wstring(taken_ + 1);
  const DWORD moved = MoveByHandle(object, folder_.get(), name, calls_);
  if (moved != ERROR_SUCCESS) {
    warn_(path + L" cannot be deleted (" + why + L") nor moved aside (" +
          CallFailed(L"NtSetInformationFile", moved) + L"); left in place");
    return false;
  }
  ++taken_;
  const std::wstring moved_path = path_ + L"\\" + name;
  if (!calls_.MoveFileExW(moved_path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    warn_(path + L" cannot be deleted (" + why + L"); moved to " + moved_path +
          L", which cannot be deleted at restart: " +
          CallFailed(L"MoveFileExW", calls_.GetLastError()));
    return true;
  }
  warn_(path + L" cannot be deleted now (" + why + L"); moved to " + moved_path +
        L", which is deleted at restart");
  return true;
}

bool Quarantine::Ready(const std::wstring& path, const std::wstring& why) {
  if (folder_) return true;
  const auto left = [&](const std::wstring& reason) {
    warn_(path + L" cannot be deleted (" + why + L"); left in place: " + reason);
    return false;
  };
  const std::optional<std::wstring> random = UnpredictableName(calls_.BCryptGenRandom);
  if (!random) return left(L"no name for a quarantine folder");
  const UniqueLocalMemory permissions = SecurityDescriptorFromSddl(kQuarantineSddl);
  if (!permissions)
    return left(
        CallFailed(L"ConvertStringSecurityDescriptorToSecurityDescriptorW", ::GetLastError()));
  const std::wstring name = kQuarantinePrefix + *random;
  // Created here and now, or not at all: a folder that already stood at
  // the name would be someone else's.
  RelativeOpen created = CreateFolderIn(program_data_, name, permissions.get(), calls_);
  if (!created.handle) {
    return left(program_data_path_ + L"\\" + name + L": " +
                CallFailed(L"NtCreateFile", created.error));
  }
  folder_ = std::move(created.handle);
  path_ = program_data_path_ + L"\\" + name;
  return true;
}

}  // namespace tarnwick
