// The uninstall's removal of the data folder over a file system in memory
// that does what Windows does and Wine cannot show (links opened as
// themselves, files pinned or held, the restart's schedule), and through
// the seam where the prefix cannot be made to answer otherwise (a copy that
// is not elevated, the upgrade's marker and its age). The package test
// shows it under Wine.
#include "uninstall/data_removal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/program_data.h"
#include "tests/uninstall/scripted_files.h"

namespace tarnwick {
namespace {

constexpr wchar_t kData[] = L"C:\\ProgramData\\Tarnwick";
const std::wstring kKey = std::wstring(kData) + L"\\" + kConfigFileName;
constexpr wchar_t kOutside[] = L"C:\\outside\\precious.dll";

// A file 66 folders below the data folder.
std::wstring Deep() {
  std::wstring path = kData;
  for (int i = 0; i < 66; ++i) path += L"\\d";
  return path + L"\\f";
}

// An upgrade's marker in the policy key, written `minutes` ago.
void Marker(UninstallCalls& calls, ULONGLONG minutes, std::vector<std::wstring>* deleted) {
  calls.RegOpenKeyExW = [](HKEY, LPCWSTR, DWORD, REGSAM, PHKEY key) {
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key);
  };
  calls.RegGetValueW = [](HKEY, LPCWSTR, LPCWSTR, DWORD, LPDWORD, PVOID data, LPDWORD) {
    wcscpy(static_cast<wchar_t*>(data), L"{NEW}");
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  };
  calls.GetSystemTimeAsFileTime = [](LPFILETIME now) { *now = {0, 0x01000000}; };
  calls.RegQueryInfoKeyW = [minutes](HKEY, LPWSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD,
                                     LPDWORD, LPDWORD, LPDWORD, LPDWORD, PFILETIME written) {
    const ULONGLONG at = (0x01000000ULL << 32) - minutes * 600000000ULL;
    *written = {static_cast<DWORD>(at), static_cast<DWORD>(at >> 32)};
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  };
  calls.RegDeleteValueW = [deleted](HKEY, LPCWSTR name) {
    deleted->push_back(name);
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  };
}

TEST(DataRemovalTest, WhatWindowsDoesThatWineCannotShow) {
  struct Row {
    const char* what;
    std::function<void(ScriptedFiles&, UninstallCalls&, std::vector<std::wstring>*)> set_up;
    bool result;
    std::vector<std::wstring> lines;  // each a part of one line, in order
    std::vector<std::wstring> kept;   // paths still there afterwards
  } rows[] = {
      {"links to an outside folder: the data folder's, and one below it",
       [](ScriptedFiles& files, UninstallCalls&, auto*) {
         files.Link(L"C:\\ProgramData\\Tarnwick\\evil", L"C:\\outside");
         files.Link(L"C:\\ProgramData\\Tarnwick\\sub\\evil", L"C:\\outside");
       },
       true,
       {},
       {}},
      {"the data folder itself a link",
       [](ScriptedFiles& files, UninstallCalls&, auto*) { files.Link(kData, L"C:\\outside"); },
       true,
       {},
       {}},
      {"a link opened as its target, as Wine does",
       [](ScriptedFiles& files, UninstallCalls&, auto*) {
         files.Link(L"C:\\ProgramData\\Tarnwick\\evil", L"C:\\outside", true);
       },
       true,
       {L"Tarnwick\\evil is a link the system will not open as itself; left in place",
        L"Tarnwick stays: it holds what is left in place"},
       {L"C:\\ProgramData\\Tarnwick\\evil"}},
      {"a second name of an outside file, in a subfolder",
       [](ScriptedFiles& files, UninstallCalls&, auto*) {
         files.SecondName(L"C:\\ProgramData\\Tarnwick\\sub\\precious.dll", kOutside);
       },
       true,
       {},
       {}},
      {"a file held open without delete sharing",
       [](ScriptedFiles& files, UninstallCalls&, auto*) {
         files.File(L"C:\\ProgramData\\Tarnwick\\held.txt");
         files.Hold(L"C:\\ProgramData\\Tarnwick\\held.txt");
       },
       true,
       {L"Tarnwick\\held.txt is held open by another program; left in place", L"Tarnwick stays"},
       {L"C:\\ProgramData\\Tarnwick\\held.txt"}},
      {"a file nobody can delete now, but that moves",
       [](ScriptedFiles& files, UninstallCalls&, auto*) {
         files.File(L"C:\\ProgramData\\Tarnwick\\sub\\running.exe");
         files.Pin(L"C:\\ProgramData\\Tarnwick\\sub\\running.exe");
       },
       true,
       {L"Tarnwick\\sub\\running.exe cannot be deleted now (SetFileInformationByHandle failed: 5 "},
       {}},
      {"folders too deep",
       [](ScriptedFiles& files, UninstallCalls&, auto*) { files.File(Deep()); },
       true,
       {L"lies more than 64 folders deep; left in place", L"Tarnwick stays"},
       {Deep()}},
      {"no data folder", [](ScriptedFiles&, UninstallCalls&, auto*) {}, true, {}, {}},
      {"a fresh upgrade marker",
       [](ScriptedFiles&, UninstallCalls& calls, auto* deleted) { Marker(calls, 2, deleted); },
       true,
       {L"keeps the data folder for the upgrade to {NEW}"},
       {kKey}},
      {"a stale upgrade marker",
       [](ScriptedFiles&, UninstallCalls& calls, auto* deleted) { Marker(calls, 4320, deleted); },
       true,
       {L"UpgradeInProgress ({NEW}) is 4320 minutes old: no upgrade runs; marker removed, "
        L"removing the data folder"},
       {}},
      {"a copy that is not elevated",
       [](ScriptedFiles&, UninstallCalls& calls, auto*) {
         calls.GetTokenInformation = [](HANDLE, TOKEN_INFORMATION_CLASS, LPVOID info, DWORD,
                                        PDWORD) {
           static_cast<TOKEN_ELEVATION*>(info)->TokenIsElevated = 0;
           return TRUE;
         };
       },
       false,
       {L"RemoveTunnelData: refused: this copy is not elevated"},
       {kKey}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ScriptedFiles files;
    files.Folder(L"C:\\ProgramData");
    files.File(L"C:\\ProgramData\\other.txt");
    files.File(kOutside);
    UninstallCalls calls;
    files.Install(calls);
    calls.SHGetKnownFolderPath = [](REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path) {
      return e2e::AnswerKnownFolder(L"C:\\ProgramData", path);
    };
    std::vector<std::wstring> lines;
    calls.OutputDebugStringW = [&](LPCWSTR line) { lines.emplace_back(line); };
    calls.RegisterEventSourceW = [](LPCWSTR, LPCWSTR) -> HANDLE { return nullptr; };
    std::vector<std::wstring> markers_deleted;
    // The key, and a file listed before it, in a data folder made by
    // each row that wants one.
    const bool has_data = std::string(row.what) != "no data folder" &&
                          std::string(row.what) != "the data folder itself a link";
    if (has_data) {
      files.File(L"C:\\ProgramData\\Tarnwick\\a.txt");
      files.File(kKey);
    }
    row.set_up(files, calls, &markers_deleted);

    EXPECT_EQ(RemoveTunnelData(calls), row.result);
    std::wstring all;
    for (const std::wstring& line : lines) all += line;
    size_t at = 0;
    for (const std::wstring& part : row.lines) {
      at = all.find(part, at);
      EXPECT_NE(at, std::wstring::npos) << "no line with: " << testing::PrintToString(part)
                                        << "\nin: " << testing::PrintToString(all);
    }
    if (row.lines.empty()) {
      EXPECT_EQ(all, L"");
    }
    for (const std::wstring& path : row.kept) EXPECT_TRUE(files.Exists(path)) << path;
    const bool data_kept = std::find(row.kept.begin(), row.kept.end(), kKey) != row.kept.end();
    EXPECT_EQ(files.Exists(kKey), data_kept);
    const bool folder_kept = std::any_of(row.kept.begin(), row.kept.end(), [](const auto& path) {
      return path.rfind(kData, 0) == 0;
    });
    EXPECT_EQ(files.Exists(kData), folder_kept);
    if (has_data && !data_kept) {
      // The private key first: whatever happens to the rest, it is gone.
      ASSERT_FALSE(files.deleted().empty());
      EXPECT_EQ(files.deleted().front(), kKey);
    }
    // Nothing outside the data folder is touched, whatever leads there.
    EXPECT_TRUE(files.Exists(L"C:\\ProgramData\\other.txt"));
    EXPECT_TRUE(files.Exists(kOutside));
    // Only what was moved into the quarantine waits for the restart, and the
    // quarantine itself: a folder nobody else could create or change.
    for (const std::wstring& path : files.scheduled()) {
      EXPECT_EQ(path.rfind(L"C:\\ProgramData\\Tarnwick.removed.", 0), 0u) << path;
    }
    if (!files.scheduled().empty()) {
      EXPECT_EQ(files.scheduled().size(), 2u);
      EXPECT_EQ(files.scheduled()[0], files.scheduled()[1] + L"\\1");
      EXPECT_EQ(files.created(), std::vector<std::wstring>{L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"});
    }
  }
}

}  // namespace
}  // namespace tarnwick
