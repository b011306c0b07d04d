// A file system in memory behind the removal's calls, behaving as Windows
// does where Wine cannot show it: a link is opened as itself only when the
// opener asks for that, a file may have a second name elsewhere, a file may
// be held open without delete sharing, or be pinned (deletable by nobody,
// yet movable, as a running program is), and the restart's schedule is
// recorded. Paths are written from the drive, "C:\ProgramData\Tarnwick\a".
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "uninstall/uninstall_calls.h"

namespace tarnwick {

class ScriptedFiles {
 public:
  ScriptedFiles();

  // Each makes the missing folders on the way.
  void Folder(const std::wstring& path);
  void File(const std::wstring& path);
  // A link to target; a "Wine link" is listed as a link but always opened
  // as its target, as Wine opens them.
  void Link(const std::wstring& path, const std::wstring& target, bool wine_link = false);
  void SecondName(const std::wstring& path, const std::wstring& existing);
  void Hold(const std::wstring& path);
  void Pin(const std::wstring& path);

  // Whether the name exists (a link counts as itself).
  [[nodiscard]] bool Exists(const std::wstring& path) const;
  [[nodiscard]] const std::vector<std::wstring>& deleted() const { return deleted_; }
  [[nodiscard]] const std::vector<std::wstring>& scheduled() const { return scheduled_; }
  // The permissions of the folders the removal created, as SDDL.
  [[nodiscard]] const std::vector<std::wstring>& created() const { return created_; }

  // Points the file calls of the table at this object, which must outlive it.
  void Install(UninstallCalls& calls);

 private:
  enum class Kind { kFile, kFolder, kLink };
  struct Node {
    Kind kind = Kind::kFolder;
    std::map<std::wstring, int> children;
    int target = -1;
    bool wine_link = false, held = false, pinned = false;
  };
  struct Opened {
    int node = 0, parent = 0;
    std::wstring name, path;
    bool listed = false;
  };

  int Make(const std::wstring& path, Kind kind);
  int Find(const std::wstring& path, bool follow_last) const;
  DWORD Attributes(int node) const;
  HANDLE Hand(int node, int parent, const std::wstring& name, const std::wstring& path);
  NTSTATUS Open(HANDLE* handle, ACCESS_MASK access, const OBJECT_ATTRIBUTES& object,
                ULONG disposition, ULONG options, IO_STATUS_BLOCK* status);
  BOOL List(HANDLE folder, FILE_INFO_BY_HANDLE_CLASS kind, void* buffer, DWORD size);
  BOOL Dispose(HANDLE object);
  NTSTATUS Rename(HANDLE object, const FILE_RENAME_INFO& rename);

  std::vector<Node> nodes_;  // the drive first
  std::map<HANDLE, Opened> handles_;
  std::vector<std::wstring> deleted_, scheduled_, created_;
  DWORD last_error_ = 0;
};

}  // namespace tarnwick
