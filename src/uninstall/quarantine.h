// Where what the removal cannot delete now waits for the next restart. The
// restart deletes by path, and resolves the path afresh then: a path
// through the user's folder could lead anywhere by that time. So what
// cannot go now is moved, by handle, into a folder of ProgramData that the
// removal creates itself, under a name nobody could have chosen first,
// that only SYSTEM and administrators can change; only paths inside it are
// scheduled.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "platform/unique_handle.h"
#include "uninstall/uninstall_calls.h"

namespace tarnwick {

// Only SYSTEM and administrators, nothing inherited from ProgramData.
inline constexpr wchar_t kQuarantineSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The quarantine's name: this, then 32 random hexadecimal digits.
inline constexpr wchar_t kQuarantinePrefix[] = L"Tarnwick.removed.";

class Quarantine {
 public:
  using Warn = std::function<void(const std::wstring&)>;

  // program_data: the handle and path of the ProgramData folder, where the
  // quarantine is made when it is first needed. warn: how the quarantine
  // names what it could not do.
  Quarantine(HANDLE program_data, std::wstring program_data_path, const UninstallCalls& calls,
             Warn warn);
  // Schedules the quarantine itself, after what it holds, or deletes it at
  // once when it holds nothing.
  ~Quarantine();

  Quarantine(const Quarantine&) = delete;
  Quarantine& operator=(const Quarantine&) = delete;

  // Moves the object (opened with DELETE) into the quarantine and schedules
  // its deletion at restart; path and why name it in the line. True when it
  // has left its folder.
  [[nodiscard]] bool Take(HANDLE object, const std::wstring& path, const std::wstring& why);

 private:
  // Makes the folder on first use; false (with a line) when it cannot.
  bool Ready(const std::wstring& path, const std::wstring& why);

  const HANDLE program_data_;
  const std::wstring program_data_path_;
  const UninstallCalls& calls_;
  const Warn warn_;
  UniqueFileHandle folder_;
  std::wstring path_;
  unsigned taken_ = 0;
};

}  // namespace tarnwick
