#include "tests/support/paths.h"

#include <windows.h>

#include <atomic>
#include <chrono>

#include "platform/unique_handle.h"
#include "tests/support/process.h"

#ifndef TARNWICK_APP_DIR
#error "TARNWICK_APP_DIR must name the build's app folder"
#endif
#ifndef TARNWICK_TOOLS_DIR
#error "TARNWICK_TOOLS_DIR must name the build's tools folder"
#endif

namespace tarnwick::e2e {
namespace {

bool SameName(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsLink(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Starts a program of the machine (not of the prefix): Wine runs a Unix
// executable named by its Z: path, but its handle cannot be waited for, so
// the caller polls for the program's effect.
bool StartNativeTool(const std::wstring& tool, const std::vector<std::string>& arguments) {
  std::wstring command_line = QuoteArgument(tool);
  for (const std::string& argument : arguments) {
    if (argument.empty()) return false;
    command_line.append(L" ").append(QuoteArgument(std::wstring(argument.begin(), argument.end())));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(tool.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
    return false;
  }
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return true;
}

// Polls for what a native tool does to the prefix's files, which Wine's
// view may show a moment later.
template <typename Done>
bool PollFor(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ::Sleep(20);
  }
  return true;
}

}  // namespace

std::wstring WindowsPathFromBuild(std::string_view build_path) {
  // Build paths are ASCII in practice; anything else widens byte by byte.
  std::wstring path(build_path.begin(), build_path.end());
  if (!path.empty() && path.front() == L'/') path.insert(0, L"Z:");
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

std::wstring AppDir() { return WindowsPathFromBuild(TARNWICK_APP_DIR); }
std::wstring AppExe() { return JoinPath(AppDir(), L"tarnwick.exe"); }
std::wstring ToolsDir() { return WindowsPathFromBuild(TARNWICK_TOOLS_DIR); }

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty() || folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring base = length > 0 && length <= MAX_PATH ? std::wstring(temp, length) : L"C:\\";
  for (;;) {
    std::wstring candidate =
        JoinPath(base, L"tarnwick-e2e-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                           std::to_wstring(counter++));
    if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = std::move(candidate);
      return;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return;  // path_ stays empty
  }
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(path_);
}

std::wstring TempDir::MakeDir(const std::wstring& name) const {
  const std::wstring full = Join(name);
  for (size_t at = path_.size() + 1; at <= full.size(); ++at) {
    if (at == full.size() || full[at] == L'\\')
      ::CreateDirectoryW(full.substr(0, at).c_str(), nullptr);
  }
  return full;
}

bool RemoveTree(const std::wstring& path) {
  if (IsLink(path)) return RemoveLink(path);
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW(JoinPath(path, L"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = JoinPath(path, name);
      if (IsLink(child)) {
        RemoveLink(child);
      } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(child.c_str());
      }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  return ::RemoveDirectoryW(path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

std::string UnixPath(const std::wstring& windows_path) {
  // Wine's own export; a Windows build of the tests has no Unix paths.
  using UnixFileName = char*(CDECL*)(const wchar_t*);
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  const auto convert = reinterpret_cast<UnixFileName>(reinterpret_cast<void (*)()>(
      kernel32 ? ::GetProcAddress(kernel32, "wine_get_unix_file_name") : nullptr));
  if (convert == nullptr) return {};
  char* unix_path = convert(windows_path.c_str());
  if (unix_path == nullptr) return {};
  std::string result(unix_path);
  ::HeapFree(::GetProcessHeap(), 0, unix_path);
  return result;
}

bool MakeUnixSymlink(const std::wstring& target, const std::wstring& link) {
  const std::string unix_target = UnixPath(target);
  const std::string unix_link = UnixPath(link);
  if (!StartNativeTool(L"Z:\\bin\\ln", {"-s", unix_target, unix_link})) return false;
  return PollFor([&link] { return IsLink(link); });
}

bool RemoveLink(const std::wstring& link) {
  const DWORD before = ::GetFileAttributesW(link.c_str());
  if (before == INVALID_FILE_ATTRIBUTES) return true;
  if (!(before & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  // rm on a link without a trailing slash removes the link alone.
  if (!StartNativeTool(L"Z:\\bin\\rm", {"-f", UnixPath(link)})) return false;
  return PollFor([&link] { return ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

bool WriteFileBytes(const std::wstring& path, std::string_view bytes) {
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file &&
         ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
         written == bytes.size();
}

bool ReadFileBytes(const std::wstring& path, std::string* bytes) {
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  bytes->clear();
  char chunk[4096];
  DWORD read = 0;
  while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
    bytes->append(chunk, read);
  }
  return true;
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> ListFiles(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW(JoinPath(folder, pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return names;
}

bool CopyAppFolder(const std::wstring& folder, const std::vector<std::wstring>& leave_out) {
  std::vector<std::wstring> names = ListFiles(AppDir(), L"*.dll");
  names.push_back(L"tarnwick.exe");
  for (const std::wstring& name : names) {
    bool skip = false;
    for (const std::wstring& left : leave_out) skip = skip || SameName(name, left);
    if (skip) continue;
    if (!::CopyFileW(JoinPath(AppDir(), name).c_str(), JoinPath(folder, name).c_str(), FALSE)) {
      return false;
    }
  }
  return true;
}

}  // namespace tarnwick::e2e
