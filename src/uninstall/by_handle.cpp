#include "uninstall/by_handle.h"

#include <cstddef>
#include <cstring>

namespace tarnwick {
namespace {

// NtCreateFile's dispositions, options and results (ntifs.h), by value: the
// SDK's user-mode headers do not all carry them.
constexpr ULONG kFileOpen = 1;
constexpr ULONG kFileCreate = 2;
constexpr ULONG kFileDirectoryFile = 0x00000001;
constexpr ULONG kFileSynchronousIoNonalert = 0x00000020;
constexpr ULONG kFileOpenForBackupIntent = 0x00004000;
// The link itself, never what it points to.
constexpr ULONG kFileOpenReparsePoint = 0x00200000;
constexpr ULONG_PTR kFileCreated = 2;
constexpr ULONG kObjCaseInsensitive = 0x00000040;
constexpr ULONG kFileRenameInformation = 10;

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kListBufferBytes = 64 * 1024;

// The extended disposition by value: SDK headers declare it only for newer
// target versions. POSIX semantics take the name away at once, even while
// another handle that shares deletion is open, so the folder above can go
// right after.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

RelativeOpen Relative(HANDLE folder, const std::wstring& name, ACCESS_MASK access,
                      PSECURITY_DESCRIPTOR permissions, ULONG disposition, ULONG options,
                      const UninstallCalls& calls) {
  UNICODE_STRING object_name{};
  object_name.Buffer = const_cast<PWSTR>(name.c_str());
  object_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  object_name.MaximumLength = object_name.Length;
  OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof(attributes);
  attributes.RootDirectory = folder;
  attributes.ObjectName = &object_name;
  attributes.Attributes = kObjCaseInsensitive;
  attributes.SecurityDescriptor = permissions;
  IO_STATUS_BLOCK status{};
  HANDLE handle = nullptr;
  // Synchronous, so the handle serves the ordinary file calls; backup
  // intent lets a folder be opened as an object at all.
  const NTSTATUS result = calls.NtCreateFile(
      &handle, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
      kShareAll, disposition,
      options | kFileOpenReparsePoint | kFileSynchronousIoNonalert | kFileOpenForBackupIntent,
      nullptr, 0);
  RelativeOpen opened;
  if (result < 0) {
    opened.error = calls.RtlNtStatusToDosError(result);
    return opened;
  }
  opened.handle.reset(handle);
  // A creation that answers anything but "created" did not make it new.
  if (disposition == kFileCreate && status.Information != kFileCreated) {
    opened.handle.reset();
    opened.error = ERROR_ALREADY_EXISTS;
  }
  return opened;
}

}  // namespace

RelativeOpen OpenInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access,
                          const UninstallCalls& calls) {
  return Relative(folder, name, access, nullptr, kFileOpen, 0, calls);
}

RelativeOpen CreateFolderIn(HANDLE folder, const std::wstring& name,
                            PSECURITY_DESCRIPTOR permissions, const UninstallCalls& calls) {
  RelativeOpen created = Relative(
      folder, name,
      FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_READ_ATTRIBUTES | DELETE,
      permissions, kFileCreate, kFileDirectoryFile, calls);
  if (created.error == ERROR_FILE_EXISTS) created.error = ERROR_ALREADY_EXISTS;
  return created;
}

DWORD ListFolder(HANDLE folder, std::vector<ListedEntry>* entries, const UninstallCalls& calls) {
  // FILE_ID_BOTH_DIR_INFO records are 8-byte aligned.
  std::vector<LONGLONG> buffer(kListBufferBytes / sizeof(LONGLONG));
  auto kind = FileIdBothDirectoryRestartInfo;
  for (;;) {
    if (!calls.GetFileInformationByHandleEx(folder, kind, buffer.data(), kListBufferBytes)) {
      const DWORD error = calls.GetLastError();
      return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
    }
    kind = FileIdBothDirectoryInfo;
    const auto* bytes = reinterpret_cast<const BYTE*>(buffer.data());
    for (DWORD offset = 0;;) {
      const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
      std::wstring name(record->FileName, record->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        entries->push_back({std::move(name), record->FileAttributes});
      }
      if (record->NextEntryOffset == 0) break;
      offset += record->NextEntryOffset;
    }
  }
}

DWORD DeleteByHandle(HANDLE object, DWORD attributes, const UninstallCalls& calls) {
  DWORD posix = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
  if (calls.SetFileInformationByHandle(object, kFileDispositionInfoEx, &posix, sizeof(posix))) {
    return ERROR_SUCCESS;
  }
  const DWORD error = calls.GetLastError();
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
    (void)calls.SetFileInformationByHandle(object, FileBasicInfo, &basic, sizeof(basic));
  }
  FILE_DISPOSITION_INFO plain{TRUE};
  if (calls.SetFileInformationByHandle(object, FileDispositionInfo, &plain, sizeof(plain))) {
    return ERROR_SUCCESS;
  }
  return calls.GetLastError();
}

DWORD MoveByHandle(HANDLE object, HANDLE folder, const std::wstring& name,
                   const UninstallCalls& calls) {
  // The native call takes the name as given, relative to the target folder's
  // handle; not every system's Win32 form takes a target folder at all.
  const size_t bytes = offsetof(FILE_RENAME_INFO, FileName) + (name.size() + 1) * sizeof(wchar_t);
  std::vector<LONGLONG> buffer((bytes + sizeof(LONGLONG) - 1) / sizeof(LONGLONG));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = folder;
  rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::memcpy(reinterpret_cast<BYTE*>(rename) + offsetof(FILE_RENAME_INFO, FileName), name.data(),
              name.size() * sizeof(wchar_t));
  IO_STATUS_BLOCK status{};
  const NTSTATUS result = calls.NtSetInformationFile(
      object, &status, rename, static_cast<ULONG>(bytes), kFileRenameInformation);
  return result < 0 ? calls.RtlNtStatusToDosError(result) : ERROR_SUCCESS;
}

}  // namespace tarnwick
