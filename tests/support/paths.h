// Folders of the build (app folder, tools) and scratch folders and files
// for tests that start real processes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::e2e {

// A path as the build wrote it, in Windows form: a cross build's "/a/b"
// becomes "Z:\a\b", the drive Wine maps to the root.
[[nodiscard]] std::wstring WindowsPathFromBuild(std::string_view build_path);

// The runnable app folder (tarnwick.exe, the libraries, data\).
[[nodiscard]] std::wstring AppDir();
[[nodiscard]] std::wstring AppExe();
// The development tools (dbwin_monitor.exe).
[[nodiscard]] std::wstring ToolsDir();

[[nodiscard]] std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// The UTF-8 form of wide text, as the product writes its narrow lines and
// arguments.
[[nodiscard]] std::string Narrow(std::wstring_view text);

// A fresh, uniquely named folder under the temp folder, removed with all it
// holds when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::wstring& path() const { return path_; }
  [[nodiscard]] std::wstring Join(const std::wstring& name) const { return JoinPath(path_, name); }
  // Creates a subfolder (and its parents inside this folder); returns its path.
  std::wstring MakeDir(const std::wstring& name) const;

 private:
  std::wstring path_;
};

// Removes a folder and everything in it, without following links (a link
// is removed itself); true when it is gone.
bool RemoveTree(const std::wstring& path);

// The Unix path Wine maps a Windows path to; empty when it cannot say.
[[nodiscard]] std::string UnixPath(const std::wstring& windows_path);

// Makes link (a Windows path whose folder exists) a Unix symbolic link to
// target with the machine's own ln, since Wine's CreateSymbolicLinkW
// reports success without making one. True once the link shows as a
// reparse point.
[[nodiscard]] bool MakeUnixSymlink(const std::wstring& target, const std::wstring& link);

// Removes a link itself, never what it points at; true when it is gone.
bool RemoveLink(const std::wstring& link);

[[nodiscard]] bool WriteFileBytes(const std::wstring& path, std::string_view bytes);
[[nodiscard]] bool ReadFileBytes(const std::wstring& path, std::string* bytes);
[[nodiscard]] bool FileExists(const std::wstring& path);
// Names (not paths) of the files in a folder matching a pattern such as "*.dll".
[[nodiscard]] std::vector<std::wstring> ListFiles(const std::wstring& folder,
                                                  const std::wstring& pattern);

// Copies tarnwick.exe and every library of the app folder except those named
// in leave_out (case-insensitive) into folder, for a variant of the app.
[[nodiscard]] bool CopyAppFolder(const std::wstring& folder,
                                 const std::vector<std::wstring>& leave_out);

}  // namespace tarnwick::e2e
