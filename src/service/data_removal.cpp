#include "service/data_removal.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/system_error.h"
#include "platform/unique_handle.h"
#include "service/debug_log.h"
#include "trust/program_folder.h"
#include "trust/tunnel_config.h"

// Measured under Wine 8 (Debian 8.0), where the package test runs this:
// - GetFileInformationByHandleEx lists a folder with FileIdBothDirectory-
//   (Restart)Info; FileIdExtdDirectoryInfo answers 87, so the 64-bit IDs
//   are used (NTFS, where ProgramData lives, has them).
// - OpenFileById opens files and folders by those IDs; a file held open
//   without FILE_SHARE_DELETE answers 32. A symbolic link answers 2.
// - FileDispositionInfoEx answers 87; the plain FileDispositionInfo works.
// - A symbolic link to a folder is listed with FILE_ATTRIBUTE_REPARSE_POINT
//   but opened, even with FILE_FLAG_OPEN_REPARSE_POINT, as the folder it
//   points to, and deleting through that handle (or RemoveDirectoryW)
//   deletes the target once it is empty; a link to a file shows as a plain
//   file everywhere. Wine cannot remove a link itself: here links stay.
// - MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT adds the path to
//   PendingFileRenameOperations.
// - Every process is elevated (TokenElevationTypeFull).

namespace tarnwick {
namespace {

// Opens the object itself, never what a link points to; backup semantics
// let a folder be opened at all.
constexpr DWORD kNoFollow = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// FILE_WRITE_ATTRIBUTES clears a read-only attribute where the system
// cannot delete past it.
constexpr DWORD kEntryAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kFolderAccess = kEntryAccess | FILE_LIST_DIRECTORY;
// A folder someone holds open without sharing its deletion is still
// emptied now; it goes itself at restart.
constexpr DWORD kHeldFolderAccess = kFolderAccess & ~static_cast<DWORD>(DELETE);

constexpr DWORD kListBufferBytes = 64 * 1024;

// The extended disposition by value: SDK headers declare it only for newer
// target versions. POSIX semantics take the name away at once, even while
// another handle that shares deletion is open, so the folder above can go
// right after.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;
struct DispositionInfoEx {
  DWORD flags;
};

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool IsFolder(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !IsLink(attributes);
}

// One entry as its folder's listing showed it.
struct Entry {
  std::wstring name;
  LARGE_INTEGER id{};
  DWORD attributes = 0;
};

// A folder being emptied: the handle it is listed and deleted through, its
// path (for lines and for what waits for a restart) and its entries.
struct Folder {
  UniqueFileHandle handle;
  std::wstring path;
  std::vector<Entry> entries;
  size_t next = 0;
  bool keeps = false;  // something in it stays, so it stays too
};

// What became of an object.
enum class Outcome { kGone, kAtRestart, kStays, kFolder };

class DataRemoval {
 public:
  explicit DataRemoval(const ServiceCalls& calls) : calls_(calls) {}

  bool Run() {
    if (!Elevated()) return false;
    if (UpgradeKeepsData()) return true;
    const ConfigLocation location = TunnelConfigLocation(calls_);
    if (!location) {
      Log(L"ProgramData folder unknown: " + SystemErrorText(location.error));
      return false;
    }

    Folder root;
    root.path = location.folder;
    for (const DWORD access : {kFolderAccess, kHeldFolderAccess}) {
      root.handle.reset(calls_.CreateFileW(root.path.c_str(), access, kShareAll, nullptr,
                                           OPEN_EXISTING, kNoFollow, nullptr));
      if (root.handle || calls_.GetLastError() != ERROR_SHARING_VIOLATION) break;
    }
    if (!root.handle) {
      const DWORD error = calls_.GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
      Log(root.path + L": " + CallFailed(L"CreateFileW", error));
      return false;
    }
    // Some file systems show a link only on the path, others only on the
    // opened object.
    const DWORD path_attributes = calls_.GetFileAttributesW(root.path.c_str());
    Entry itself;
    itself.attributes = path_attributes == INVALID_FILE_ATTRIBUTES ? 0 : path_attributes;
    if (Remove(std::move(root.handle), root.path, itself, &root.handle) != Outcome::kFolder) {
      return ok_;
    }
    if (!List(root)) return false;
    // The private key first: whatever happens to the rest, it is gone.
    std::stable_partition(root.entries.begin(), root.entries.end(), [](const Entry& entry) {
      return ::CompareStringOrdinal(entry.name.c_str(), -1, kConfigFileName, -1, TRUE) ==
             CSTR_EQUAL;
    });
    Empty(std::move(root));
    return ok_;
  }

 private:
  // Errors fail the uninstall; warnings name what is left for later.
  void Log(const std::wstring& message, WORD type = EVENTLOG_ERROR_TYPE) const {
    ReportLine(L"RemoveTunnelData: " + message, calls_, type);
  }

  // The package runs this mode as LocalSystem; a copy without elevation is
  // not the package's and is refused before it touches anything.
  bool Elevated() {
    HANDLE token = nullptr;
    if (!calls_.OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
      Log(CallFailed(L"OpenProcessToken", calls_.GetLastError()));
      return false;
    }
    const UniqueKernelHandle token_owner(token);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!calls_.GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size)) {
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
  // new version, which runs the same tunnel with it.
  bool UpgradeKeepsData() const {
    wchar_t upgrade[64] = {};
    DWORD size = sizeof(upgrade);
    const LSTATUS status =
        calls_.RegGetValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kUpgradeInProgressValue, RRF_RT_REG_SZ,
                            nullptr, upgrade, &size);
    if (status == ERROR_SUCCESS) {
      Log(L"keeps the data folder for the upgrade to " + std::wstring(upgrade),
          EVENTLOG_INFORMATION_TYPE);
      return true;
    }
    if (status != ERROR_FILE_NOT_FOUND) {
      Log(CallFailed(L"RegGetValueW(UpgradeInProgress)", status) + L"; removing the data folder");
    }
    return false;
  }

  // Reads every entry of the folder through its handle.
  bool List(Folder& folder) {
    // FILE_ID_BOTH_DIR_INFO records are 8-byte aligned.
    std::vector<LONGLONG> buffer(kListBufferBytes / sizeof(LONGLONG));
    auto kind = FileIdBothDirectoryRestartInfo;
    for (;;) {
      if (!calls_.GetFileInformationByHandleEx(folder.handle.get(), kind, buffer.data(),
                                               kListBufferBytes)) {
        const DWORD error = calls_.GetLastError();
        if (error == ERROR_NO_MORE_FILES) return true;
        Log(folder.path + L": " + CallFailed(L"GetFileInformationByHandleEx", error));
        ok_ = false;
        return false;
      }
      kind = FileIdBothDirectoryInfo;
      const auto* bytes = reinterpret_cast<const BYTE*>(buffer.data());
      for (DWORD offset = 0;;) {
        const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
        const std::wstring name(record->FileName, record->FileNameLength / sizeof(wchar_t));
        if (name != L"." && name != L"..") {
          folder.entries.push_back({name, record->FileId, record->FileAttributes});
        }
        if (record->NextEntryOffset == 0) break;
        offset += record->NextEntryOffset;
      }
    }
  }

  // Removes the folder's entries, the folders among them depth first (no
  // recursion: the owner chooses the depth), then the folder itself.
  void Empty(Folder root) {
    std::vector<Folder> open;
    open.push_back(std::move(root));
    while (!open.empty()) {
      Folder& folder = open.back();
      if (folder.next == folder.entries.size()) {
        Outcome outcome = Outcome::kStays;
        if (folder.keeps) {
          Log(folder.path + L" stays: it holds what is left in place", EVENTLOG_WARNING_TYPE);
        } else {
          outcome = Delete(folder.handle, folder.path, FILE_ATTRIBUTE_DIRECTORY, 1);
        }
        open.pop_back();
        if (outcome == Outcome::kStays && !open.empty()) open.back().keeps = true;
        continue;
      }
      const Entry entry = folder.entries[folder.next++];
      const std::wstring path = folder.path + L"\\" + entry.name;
      FILE_ID_DESCRIPTOR id{};
      id.dwSize = sizeof(id);
      id.Type = FileIdType;
      id.FileId = entry.id;
      UniqueFileHandle handle(calls_.OpenFileById(
          folder.handle.get(), &id, IsFolder(entry.attributes) ? kFolderAccess : kEntryAccess,
          kShareAll, nullptr, kNoFollow));
      if (!handle && IsFolder(entry.attributes) &&
          calls_.GetLastError() == ERROR_SHARING_VIOLATION) {
        handle.reset(calls_.OpenFileById(folder.handle.get(), &id, kHeldFolderAccess, kShareAll,
                                         nullptr, kNoFollow));
      }
      Folder child;
      child.path = path;
      Outcome outcome = Outcome::kGone;
      if (!handle) {
        const DWORD error = calls_.GetLastError();
        // Gone since the listing (a link is named all the same: some
        // systems cannot open a link by its ID).
        const bool gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_INVALID_PARAMETER;
        if (!gone || IsLink(entry.attributes)) {
          outcome = CannotDeleteNow(path, entry.attributes, CallFailed(L"OpenFileById", error));
        }
      } else {
        outcome = Remove(std::move(handle), path, entry, &child.handle);
      }
      if (outcome == Outcome::kStays) folder.keeps = true;
      if (outcome == Outcome::kFolder) {
        if (List(child)) {
          open.push_back(std::move(child));
        } else {
          folder.keeps = true;
        }
      }
    }
  }

  // Deletes what handle is open on unless it is a real folder, which is
  // handed back in *folder for emptying.
  Outcome Remove(UniqueFileHandle handle, const std::wstring& path, const Entry& listed,
                 UniqueFileHandle* folder) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!calls_.GetFileInformationByHandle(handle.get(), &information)) {
      const DWORD error = calls_.GetLastError();
      handle.reset();
      return CannotDeleteNow(path, listed.attributes,
                             CallFailed(L"GetFileInformationByHandle", error));
    }
    const DWORD attributes = information.dwFileAttributes;
    // Shown as a link where it was found, yet opened as something else: the
    // system opened what the link points to, which is not ours to delete.
    if (IsLink(listed.attributes) && !IsLink(attributes)) {
      Log(path + L" is a link the system will not open as itself; left in place",
          EVENTLOG_WARNING_TYPE);
      return Outcome::kStays;
    }
    if (IsFolder(attributes)) {
      *folder = std::move(handle);
      return Outcome::kFolder;
    }
    return Delete(handle, path, attributes, information.nNumberOfLinks);
  }

  // Deletes the object through its handle, which is closed here so the
  // deletion completes.
  Outcome Delete(UniqueFileHandle& handle, const std::wstring& path, DWORD attributes,
                 DWORD names) {
    // Through a handle opened by ID the system could take away another of
    // a file's names, in a folder someone else owns; its name here goes at
    // restart instead.
    if (names > 1 && !IsFolder(attributes) && !IsLink(attributes)) {
      handle.reset();
      return CannotDeleteNow(path, attributes, L"it has more than one name");
    }
    const DWORD error = DeleteThrough(handle.get(), attributes);
    handle.reset();
    if (error == ERROR_SUCCESS) return Outcome::kGone;
    return CannotDeleteNow(path, attributes, CallFailed(L"SetFileInformationByHandle", error));
  }

  DWORD DeleteThrough(HANDLE handle, DWORD attributes) const {
    DispositionInfoEx posix{kDispositionDelete | kDispositionPosixSemantics |
                            kDispositionIgnoreReadOnly};
    if (calls_.SetFileInformationByHandle(handle, kFileDispositionInfoEx, &posix, sizeof(posix))) {
      return ERROR_SUCCESS;
    }
    const DWORD error = calls_.GetLastError();
    // Systems and file systems without the extended form answer these; the
    // plain form deletes when the last handle closes.
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_INVALID_FUNCTION) {
      return error;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      FILE_BASIC_INFO basic{};  // zero times stay as they are
      basic.FileAttributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
      if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      (void)calls_.SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic));
    }
    FILE_DISPOSITION_INFO plain{TRUE};
    if (calls_.SetFileInformationByHandle(handle, FileDispositionInfo, &plain, sizeof(plain))) {
      return ERROR_SUCCESS;
    }
    return calls_.GetLastError();
  }

  // What cannot be deleted now (held open, a second name, a folder not yet
  // empty) goes at restart. A link does not: by then its path may lead
  // anywhere, and what it points to is not ours.
  Outcome CannotDeleteNow(const std::wstring& path, DWORD attributes, const std::wstring& why) {
    if (IsLink(attributes)) {
      Log(path + L" is a link that cannot be removed now (" + why + L"); left in place",
          EVENTLOG_WARNING_TYPE);
      return Outcome::kStays;
    }
    if (!calls_.MoveFileExW((L"\\\\?\\" + path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      Log(path + L" cannot be deleted (" + why + L"), nor at restart: " +
          CallFailed(L"MoveFileExW", calls_.GetLastError()));
      ok_ = false;
      return Outcome::kStays;
    }
    Log(path + L" cannot be deleted now (" + why + L"); it is deleted at restart",
        EVENTLOG_WARNING_TYPE);
    return Outcome::kAtRestart;
  }

  const ServiceCalls& calls_;
  bool ok_ = true;
};

}  // namespace

bool RemoveTunnelData(const ServiceCalls& calls) { return DataRemoval(calls).Run(); }

}  // namespace tarnwick
