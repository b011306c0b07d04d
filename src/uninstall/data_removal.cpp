#include "uninstall/data_removal.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/system_error.h"
#include "platform/unique_handle.h"
#include "trust/tunnel_config.h"
#include "uninstall/by_handle.h"
#include "uninstall/quarantine.h"

namespace tarnwick {
namespace {

// FILE_WRITE_ATTRIBUTES clears a read-only attribute where the system
// cannot delete past it.
constexpr DWORD kEntryAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
constexpr DWORD kFolderAccess = kEntryAccess | FILE_LIST_DIRECTORY;
// A folder someone holds open without sharing its deletion is still
// emptied; it stays itself.
constexpr DWORD kHeldFolderAccess = kFolderAccess & ~static_cast<DWORD>(DELETE);

constexpr ULONGLONG kFileTimeUnitsPerMinute = 60ULL * 1000 * 1000 * 10;

ULONGLONG MinutesApart(const FILETIME& a, const FILETIME& b) {
  const ULONGLONG first = (static_cast<ULONGLONG>(a.dwHighDateTime) << 32) | a.dwLowDateTime;
  const ULONGLONG second = (static_cast<ULONGLONG>(b.dwHighDateTime) << 32) | b.dwLowDateTime;
  return (first > second ? first - second : second - first) / kFileTimeUnitsPerMinute;
}

bool IsConfigFile(const ListedEntry& entry) {
  return ::CompareStringOrdinal(entry.name.c_str(), -1, kConfigFileName, -1, TRUE) == CSTR_EQUAL;
}

// A folder being emptied: the handle it is listed and deleted through, its
// name (the data folder's whole path for the first) and its entries.
struct Level {
  UniqueFileHandle handle;
  std::wstring name;
  std::vector<ListedEntry> entries;
  size_t next = 0;
  bool deletable = true;  // opened with DELETE
  bool keeps = false;     // something in it stays, so it stays too
};

// What became of an entry.
enum class Outcome { kGone, kStays, kEntered };

class DataRemoval {
 public:
  explicit DataRemoval(const UninstallCalls& calls) : calls_(calls) {}

  bool Run() {
    if (!Elevated()) return false;
    const ConfigLocation location = TunnelConfigLocation(calls_);
    if (!location) {
      Log(L"ProgramData folder unknown: " + SystemErrorText(location.error));
      return false;
    }
    if (UpgradeKeepsData()) return true;

    // ProgramData is the system's: the data folder and all below it are
    // reached through its handle.
    const UniqueFileHandle program_data(calls_.CreateFileW(
        location.program_data.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!program_data) {
      Log(location.program_data + L": " + CallFailed(L"CreateFileW", calls_.GetLastError()));
      return false;
    }
    quarantine_.emplace(program_data.get(), location.program_data, calls_,
                        [this](const std::wstring& line) { Warn(line); });

    // Some file systems show a link only on the path, others only on the
    // opened object.
    const DWORD path_attributes = calls_.GetFileAttributesW(location.folder.c_str());
    const ListedEntry data_folder{kConfigFolderName,
                                  path_attributes == INVALID_FILE_ATTRIBUTES ? 0 : path_attributes};
    bool deletable = true;
    RelativeOpen opened = OpenEntry(program_data.get(), data_folder, &deletable);
    if (!opened.handle) {
      if (opened.error == ERROR_FILE_NOT_FOUND || opened.error == ERROR_PATH_NOT_FOUND) return true;
      Log(location.folder + L": " + CallFailed(L"NtCreateFile", opened.error));
      return false;
    }
    if (Visit(std::move(opened.handle), data_folder, location.folder, deletable) ==
        Outcome::kEntered) {
      // The private key first: whatever happens to the rest, it is gone.
      std::vector<ListedEntry>& entries = levels_.front().entries;
      std::stable_partition(entries.begin(), entries.end(), IsConfigFile);
      levels_.front().name = location.folder;
      Walk();
    }
    // Scheduled now, after what it holds, while ProgramData's handle lives.
    quarantine_.reset();
    return true;
  }

 private:
  // Errors fail the uninstall; warnings name what is left in place or for
  // the restart.
  void Log(const std::wstring& message, WORD type = EVENTLOG_ERROR_TYPE) const {
    ReportLine(L"RemoveTunnelData: " + message, calls_, type);
  }
  void Warn(const std::wstring& message) const { Log(message, EVENTLOG_WARNING_TYPE); }

  // The package runs this mode as LocalSystem; a copy without elevation is
  // not the package's and is refused before it touches anything.
  bool Elevated() const {
    UniqueKernelHandle token;
    if (!calls_.OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
      Log(CallFailed(L"OpenProcessToken", calls_.GetLastError()));
      return false;
    }
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!calls_.GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation),
                                    &size)) {
      Log(CallFailed(L"GetTokenInformation", calls_.GetLastError()));
      return false;
    }
    if (elevation.TokenIsElevated == 0) {
      Log(L"refused: this copy is not elevated");
      return false;
    }
    return true;
  }

  // The older version's removal inside an upgrade keeps the data for the
  // new version, which runs the same tunnel with it. A marker is honoured
  // only while it is fresh: one that an upgrade failed to delete would
  // otherwise keep the private key at every later uninstall.
  bool UpgradeKeepsData() const {
    UniqueRegistryKey key;
    LSTATUS status = calls_.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0,
                                          KEY_QUERY_VALUE | KEY_SET_VALUE, key.put());
    wchar_t upgrade[64] = {};
    DWORD size = sizeof(upgrade);
    if (status == ERROR_SUCCESS) {
      status = calls_.RegGetValueW(key.get(), nullptr, kUpgradeInProgressValue, RRF_RT_REG_SZ,
                                   nullptr, upgrade, &size);
    }
    if (status == ERROR_FILE_NOT_FOUND) return false;
    if (status != ERROR_SUCCESS) {
      Warn(CallFailed(L"RegGetValueW(UpgradeInProgress)", status) + L"; removing the data folder");
      return false;
    }
    FILETIME written{};
    FILETIME now{};
    status = calls_.RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, &written);
    calls_.GetSystemTimeAsFileTime(&now);
    const ULONGLONG minutes = MinutesApart(written, now);
    if (status == ERROR_SUCCESS && minutes < kUpgradeMarkerLifetimeMinutes) {
      Log(L"keeps the data folder for the upgrade to " + std::wstring(upgrade),
          EVENTLOG_INFORMATION_TYPE);
      return true;
    }
    const LSTATUS removed = calls_.RegDeleteValueW(key.get(), kUpgradeInProgressValue);
    Warn(L"UpgradeInProgress (" + std::wstring(upgrade) + L") is " +
         (status == ERROR_SUCCESS ? std::to_wstring(minutes) + L" minutes old"
                                  : CallFailed(L"RegQueryInfoKeyW", status)) +
         L": no upgrade runs; " +
         (removed == ERROR_SUCCESS ? L"marker removed" : CallFailed(L"RegDeleteValueW", removed)) +
         L", removing the data folder");
    return false;
  }

  // Opens a listed entry by name through its folder's handle. A folder
  // held open without sharing its deletion is opened to be emptied all the
  // same; *deletable then says it cannot go itself.
  RelativeOpen OpenEntry(HANDLE folder, const ListedEntry& entry, bool* deletable) const {
    const bool listed_folder = IsRealFolder(entry.attributes);
    RelativeOpen opened =
        OpenInFolder(folder, entry.name, listed_folder ? kFolderAccess : kEntryAccess, calls_);
    *deletable = true;
    if (!opened.handle && listed_folder && opened.error == ERROR_SHARING_VIOLATION) {
      opened = OpenInFolder(folder, entry.name, kHeldFolderAccess, calls_);
      *deletable = false;
    }
    return opened;
  }

  // Empties the folders entered so far, the deepest first (no recursion:
  // the owner chooses the depth).
  void Walk() {
    while (!levels_.empty()) {
      const size_t depth = levels_.size() - 1;
      if (levels_[depth].next == levels_[depth].entries.size()) {
        LeaveFolder();
        continue;
      }
      const ListedEntry entry = levels_[depth].entries[levels_[depth].next++];
      const std::wstring path = FolderPath() + L"\\" + entry.name;
      bool deletable = true;
      RelativeOpen opened = OpenEntry(levels_[depth].handle.get(), entry, &deletable);
      const Outcome outcome = opened.handle
                                  ? Visit(std::move(opened.handle), entry, path, deletable)
                                  : Unopened(entry, path, opened.error);
      if (outcome == Outcome::kStays) levels_[depth].keeps = true;
    }
  }

  Outcome Unopened(const ListedEntry& entry, const std::wstring& path, DWORD error) const {
    // Gone since the listing; a link is named all the same, as a system
    // that opens links as their targets finds none behind a dangling one.
    if ((error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) &&
        !IsLink(entry.attributes)) {
      return Outcome::kGone;
    }
    if (error == ERROR_SHARING_VIOLATION) {
      Warn(path + L" is held open by another program; left in place");
    } else {
      Warn(path + L" cannot be opened (" + CallFailed(L"NtCreateFile", error) +
           L"); left in place");
    }
    return Outcome::kStays;
  }

  // Deletes what the handle is open on, or enters it when it is a real
  // folder.
  Outcome Visit(UniqueFileHandle handle, const ListedEntry& listed, const std::wstring& path,
                bool deletable) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!calls_.GetFileInformationByHandle(handle.get(), &information)) {
      Warn(path + L" cannot be read (" +
           CallFailed(L"GetFileInformationByHandle", calls_.GetLastError()) + L"); left in place");
      return Outcome::kStays;
    }
    const DWORD attributes = information.dwFileAttributes;
    // Shown as a link where it was listed, yet opened as something else:
    // the system opened what the link points to, which is not ours.
    if (IsLink(listed.attributes) && !IsLink(attributes)) {
      Warn(path + L" is a link the system will not open as itself; left in place");
      return Outcome::kStays;
    }
    if (IsRealFolder(attributes)) return Enter(std::move(handle), listed.name, path, deletable);
    return Delete(handle.get(), path, attributes);
  }

  Outcome Enter(UniqueFileHandle handle, const std::wstring& name, const std::wstring& path,
                bool deletable) {
    if (levels_.size() > kMaxRemovalDepth) {
      Warn(path + L" lies more than " + std::to_wstring(kMaxRemovalDepth) +
           L" folders deep; left in place");
      return Outcome::kStays;
    }
    Level level;
    level.handle = std::move(handle);
    level.name = name;
    level.deletable = deletable;
    const DWORD listed = ListFolder(level.handle.get(), &level.entries, calls_);
    if (listed != ERROR_SUCCESS) {
      Warn(path + L" cannot be listed (" + CallFailed(L"GetFileInformationByHandleEx", listed) +
           L"); left in place");
      return Outcome::kStays;
    }
    levels_.push_back(std::move(level));
    return Outcome::kEntered;
  }

  // Deletes the innermost folder, now empty, unless something in it stays.
  void LeaveFolder() {
    const std::wstring path = FolderPath();
    Level level = std::move(levels_.back());
    levels_.pop_back();
    Outcome outcome = Outcome::kStays;
    if (level.keeps) {
      Warn(path + L" stays: it holds what is left in place");
    } else if (!level.deletable) {
      Warn(path + L" is held open by another program; left in place");
    } else {
      outcome = Delete(level.handle.get(), path, FILE_ATTRIBUTE_DIRECTORY);
    }
    if (outcome == Outcome::kStays && !levels_.empty()) levels_.back().keeps = true;
  }

  // Deletes through the handle; what cannot go now goes to the quarantine.
  Outcome Delete(HANDLE object, const std::wstring& path, DWORD attributes) {
    const DWORD error = DeleteByHandle(object, attributes, calls_);
    if (error == ERROR_SUCCESS) return Outcome::kGone;
    const std::wstring why = CallFailed(L"SetFileInformationByHandle", error);
    if (IsLink(attributes)) {
      Warn(path + L" is a link that cannot be removed now (" + why + L"); left in place");
      return Outcome::kStays;
    }
    return quarantine_->Take(object, path, why) ? Outcome::kGone : Outcome::kStays;
  }

  // The innermost folder's path, for lines only.
  std::wstring FolderPath() const {
    std::wstring path;
    for (const Level& level : levels_) {
      if (!path.empty()) path += L'\\';
      path += level.name;
    }
    return path;
  }

  const UninstallCalls& calls_;
  std::optional<Quarantine> quarantine_;
  // The folders being emptied, the data folder first.
  std::vector<Level> levels_;
};

}  // namespace

bool RemoveTunnelData(const UninstallCalls& calls) { return DataRemoval(calls).Run(); }

}  // namespace tarnwick
