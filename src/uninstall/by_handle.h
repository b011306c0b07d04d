// Entries of a folder the removal does not trust, reached only through the
// handle of the folder they are in: opened by name without following a
// link, and deleted or moved through their own handle. No path through such
// a folder is resolved again, so swapping a folder on the way for a link
// between two steps leads nowhere.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "uninstall/uninstall_calls.h"

namespace tarnwick {

// An open (or a creation) relative to a folder: the handle, or the system's
// error code.
struct RelativeOpen {
  UniqueFileHandle handle;
  DWORD error = ERROR_SUCCESS;
};

// Opens the entry `name` of `folder` with `access` and every kind of
// sharing; a link is opened as the link, never as what it points to.
[[nodiscard]] RelativeOpen OpenInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access,
                                        const UninstallCalls& calls);

// Creates the folder `name` in `folder` with the given permissions, with
// access to fill, list and delete it. Fails (ERROR_ALREADY_EXISTS) when
// anything at all stands at that name, a link included.
[[nodiscard]] RelativeOpen CreateFolderIn(HANDLE folder, const std::wstring& name,
                                          PSECURITY_DESCRIPTOR permissions,
                                          const UninstallCalls& calls);

// An entry as its folder's listing shows it.
struct ListedEntry {
  std::wstring name;
  DWORD attributes = 0;
};

// Reads every entry of the folder (opened with FILE_LIST_DIRECTORY) into
// *entries. ERROR_SUCCESS, or the system's error code.
[[nodiscard]] DWORD ListFolder(HANDLE folder, std::vector<ListedEntry>* entries,
                               const UninstallCalls& calls);

// Deletes the name the handle was opened through (opened with DELETE and
// FILE_WRITE_ATTRIBUTES); other names of the same file stay. A read-only
// file is deleted all the same. ERROR_SUCCESS, or the system's error code.
[[nodiscard]] DWORD DeleteByHandle(HANDLE object, DWORD attributes, const UninstallCalls& calls);

// Moves what the handle was opened on (with DELETE) into `folder` under
// `name`, which must be free. ERROR_SUCCESS, or the system's error code.
[[nodiscard]] DWORD MoveByHandle(HANDLE object, HANDLE folder, const std::wstring& name,
                                 const UninstallCalls& calls);

[[nodiscard]] inline bool IsLink(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
// A folder of its own, not a link to one.
[[nodiscard]] inline bool IsRealFolder(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !IsLink(attributes);
}

}  // namespace tarnwick
