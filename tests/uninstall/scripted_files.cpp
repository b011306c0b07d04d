#include "tests/uninstall/scripted_files.h"

#include <sddl.h>

#include <cstring>
#include <sstream>

namespace tarnwick {
namespace {

constexpr NTSTATUS kStatusNotFound = static_cast<NTSTATUS>(0xC0000034L);
constexpr NTSTATUS kStatusCollision = static_cast<NTSTATUS>(0xC0000035L);
constexpr NTSTATUS kStatusSharingViolation = static_cast<NTSTATUS>(0xC0000043L);
constexpr ULONG kFileCreate = 2;
constexpr ULONG_PTR kFileCreated = 2;
constexpr ULONG kFileOpenReparsePoint = 0x00200000;

std::vector<std::wstring> Split(const std::wstring& path) {
  std::vector<std::wstring> parts;
  std::wstringstream stream(path);
  for (std::wstring part; std::getline(stream, part, L'\\');) parts.push_back(part);
  return parts;
}

}  // namespace

ScriptedFiles::ScriptedFiles() { nodes_.push_back({}); }

int ScriptedFiles::Make(const std::wstring& path, Kind kind) {
  int at = 0;
  const std::vector<std::wstring> parts = Split(path);
  for (size_t i = 0; i < parts.size(); ++i) {
    const auto found = nodes_[at].children.find(parts[i]);
    if (found != nodes_[at].children.end()) {
      at = found->second;
      continue;
    }
    nodes_.push_back({});
    nodes_.back().kind = i + 1 == parts.size() ? kind : Kind::kFolder;
    nodes_[at].children[parts[i]] = static_cast<int>(nodes_.size() - 1);
    at = static_cast<int>(nodes_.size() - 1);
  }
  return at;
}

int ScriptedFiles::Find(const std::wstring& path, bool follow_last) const {
  int at = 0;
  const std::vector<std::wstring> parts = Split(path);
  for (size_t i = 0; i < parts.size(); ++i) {
    const auto found = nodes_[at].children.find(parts[i]);
    if (found == nodes_[at].children.end()) return -1;
    at = found->second;
    if (nodes_[at].kind == Kind::kLink && (follow_last || i + 1 < parts.size())) {
      at = nodes_[at].target;
    }
  }
  return at;
}

void ScriptedFiles::Folder(const std::wstring& path) { Make(path, Kind::kFolder); }
void ScriptedFiles::File(const std::wstring& path) { Make(path, Kind::kFile); }
void ScriptedFiles::Link(const std::wstring& path, const std::wstring& target, bool wine_link) {
  const int target_node = Find(target, true);
  const int link = Make(path, Kind::kLink);
  nodes_[link].target = target_node;
  nodes_[link].wine_link = wine_link;
}
void ScriptedFiles::SecondName(const std::wstring& path, const std::wstring& existing) {
  const size_t separator = path.rfind(L'\\');
  const int folder = Make(path.substr(0, separator), Kind::kFolder);
  nodes_[folder].children[path.substr(separator + 1)] = Find(existing, false);
}
void ScriptedFiles::Hold(const std::wstring& path) { nodes_[Find(path, false)].held = true; }
void ScriptedFiles::Pin(const std::wstring& path) { nodes_[Find(path, false)].pinned = true; }
bool ScriptedFiles::Exists(const std::wstring& path) const { return Find(path, false) >= 0; }

DWORD ScriptedFiles::Attributes(int node) const {
  switch (nodes_[node].kind) {
    case Kind::kFile: return FILE_ATTRIBUTE_ARCHIVE;
    case Kind::kFolder: return FILE_ATTRIBUTE_DIRECTORY;
    case Kind::kLink: return FILE_ATTRIBUTE_REPARSE_POINT | Attributes(nodes_[node].target);
  }
  return 0;
}

HANDLE ScriptedFiles::Hand(int node, int parent, const std::wstring& name,
                           const std::wstring& path) {
  // A real handle, as the removal closes what it opened with the real call.
  const HANDLE handle = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  handles_[handle] = {node, parent, name, path};
  return handle;
}

NTSTATUS ScriptedFiles::Open(HANDLE* handle, ACCESS_MASK access, const OBJECT_ATTRIBUTES& object,
                             ULONG disposition, ULONG options, IO_STATUS_BLOCK* status) {
  const Opened& folder = handles_.at(object.RootDirectory);
  const std::wstring name(object.ObjectName->Buffer, object.ObjectName->Length / sizeof(wchar_t));
  const std::wstring path = folder.path + L"\\" + name;
  auto& children = nodes_[folder.node].children;
  const auto found = children.find(name);
  if (disposition == kFileCreate) {
    if (found != children.end()) return kStatusCollision;
    LPWSTR sddl = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        object.SecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr);
    created_.push_back(sddl != nullptr ? sddl : L"");
    ::LocalFree(sddl);
    nodes_.push_back({});
    children[name] = static_cast<int>(nodes_.size() - 1);
    status->Information = kFileCreated;
    *handle = Hand(children[name], folder.node, name, path);
    return 0;
  }
  if (found == children.end()) return kStatusNotFound;
  int node = found->second;
  if (nodes_[node].kind == Kind::kLink &&
      (nodes_[node].wine_link || (options & kFileOpenReparsePoint) == 0)) {
    node = nodes_[node].target;
  }
  if (nodes_[node].held && (access & DELETE) != 0) return kStatusSharingViolation;
  *handle = Hand(node, folder.node, name, path);
  return 0;
}

BOOL ScriptedFiles::List(HANDLE folder, FILE_INFO_BY_HANDLE_CLASS, void* buffer, DWORD size) {
  Opened& opened = handles_.at(folder);
  if (opened.listed) {
    last_error_ = ERROR_NO_MORE_FILES;
    return FALSE;
  }
  opened.listed = true;
  auto* bytes = static_cast<BYTE*>(buffer);
  DWORD offset = 0;
  FILE_ID_BOTH_DIR_INFO* last = nullptr;
  for (const auto& [name, node] : nodes_[opened.node].children) {
    auto* record = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
    const DWORD length = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    const DWORD record_size = (offsetof(FILE_ID_BOTH_DIR_INFO, FileName) + length + 7) & ~7u;
    if (offset + record_size > size) break;  // the tests' folders are small
    std::memset(record, 0, record_size);
    record->FileAttributes = Attributes(node);
    record->FileNameLength = length;
    std::memcpy(record->FileName, name.data(), length);
    if (last != nullptr)
      last->NextEntryOffset = static_cast<DWORD>(bytes + offset - reinterpret_cast<BYTE*>(last));
    last = record;
    offset += record_size;
  }
  if (last == nullptr) {
    last_error_ = ERROR_NO_MORE_FILES;
    return FALSE;
  }
  return TRUE;
}

BOOL ScriptedFiles::Dispose(HANDLE object) {
  const Opened& opened = handles_.at(object);
  const Node& node = nodes_[opened.node];
  last_error_ = node.pinned                                            ? ERROR_ACCESS_DENIED
                : node.kind == Kind::kFolder && !node.children.empty() ? ERROR_DIR_NOT_EMPTY
                                                                       : ERROR_SUCCESS;
  if (last_error_ != ERROR_SUCCESS) return FALSE;
  nodes_[opened.parent].children.erase(opened.name);
  deleted_.push_back(opened.path);
  return TRUE;
}

NTSTATUS ScriptedFiles::Rename(HANDLE object, const FILE_RENAME_INFO& rename) {
  Opened& opened = handles_.at(object);
  const Opened& folder = handles_.at(rename.RootDirectory);
  const std::wstring name(rename.FileName, rename.FileNameLength / sizeof(wchar_t));
  if (nodes_[folder.node].children.count(name) != 0) return kStatusCollision;
  nodes_[opened.parent].children.erase(opened.name);
  nodes_[folder.node].children[name] = opened.node;
  opened = {opened.node, folder.node, name, folder.path + L"\\" + name};
  return 0;
}

void ScriptedFiles::Install(UninstallCalls& calls) {
  calls.GetLastError = [this] { return last_error_; };
  calls.CreateFileW = [this](LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                             HANDLE) {
    const int node = Find(path, true);
    last_error_ = ERROR_PATH_NOT_FOUND;
    return node < 0 ? INVALID_HANDLE_VALUE : Hand(node, node, L"", path);
  };
  calls.GetFileAttributesW = [this](LPCWSTR path) {
    const int node = Find(path, false);
    last_error_ = ERROR_FILE_NOT_FOUND;
    return node < 0 ? INVALID_FILE_ATTRIBUTES : Attributes(node);
  };
  calls.NtCreateFile = [this](HANDLE* handle, ACCESS_MASK access, OBJECT_ATTRIBUTES* object,
                              IO_STATUS_BLOCK* status, LARGE_INTEGER*, ULONG, ULONG,
                              ULONG disposition, ULONG options, void*, ULONG) {
    return Open(handle, access, *object, disposition, options, status);
  };
  calls.GetFileInformationByHandle = [this](HANDLE object, BY_HANDLE_FILE_INFORMATION* info) {
    *info = {};
    info->dwFileAttributes = Attributes(handles_.at(object).node);
    return TRUE;
  };
  calls.GetFileInformationByHandleEx = [this](HANDLE folder, FILE_INFO_BY_HANDLE_CLASS kind,
                                              LPVOID buffer, DWORD size) {
    return List(folder, kind, buffer, size);
  };
  calls.SetFileInformationByHandle = [this](HANDLE object, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID,
                                            DWORD) {
    return kind == FileBasicInfo ? TRUE : Dispose(object);
  };
  calls.NtSetInformationFile = [this](HANDLE object, IO_STATUS_BLOCK*, void* info, ULONG, ULONG) {
    return Rename(object, *static_cast<const FILE_RENAME_INFO*>(info));
  };
  calls.MoveFileExW = [this](LPCWSTR path, LPCWSTR, DWORD) {
    scheduled_.push_back(path);
    return TRUE;
  };
}

}  // namespace tarnwick
