// The uninstall's removal of the data folder where Wine cannot show it:
// every process there is elevated, so a copy that is not comes through the
// seam. Links, held files and the upgrade are shown by the package test.
#include "service/data_removal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/paths.h"
#include "tests/support/program_data.h"

namespace {

TEST(DataRemovalTest, OnlyAnElevatedCopyRemovesTheFolder) {
  const struct {
    DWORD elevated;
    bool removed;
    std::vector<std::wstring> lines;
  } rows[] = {
      {0, false, {L"[Tarnwick] RemoveTunnelData: refused: this copy is not elevated\n"}},
      {1, true, {}},
  };
  for (const auto& row : rows) {
    tarnwick::e2e::TempDir program_data;
    const std::wstring folder = program_data.MakeDir(L"Tarnwick\\sub");
    ASSERT_TRUE(tarnwick::e2e::WriteFileBytes(program_data.Join(L"Tarnwick\\tarnwick.conf"), "k"));
    std::vector<std::wstring> lines;
    tarnwick::ServiceCalls calls;
    calls.SHGetKnownFolderPath = [&](REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path) {
      return tarnwick::e2e::AnswerKnownFolder(program_data.path(), path);
    };
    calls.GetTokenInformation = [&](HANDLE, TOKEN_INFORMATION_CLASS, LPVOID info, DWORD, PDWORD) {
      static_cast<TOKEN_ELEVATION*>(info)->TokenIsElevated = row.elevated;
      return TRUE;
    };
    calls.OutputDebugStringW = [&](LPCWSTR line) { lines.emplace_back(line); };
    EXPECT_EQ(tarnwick::RemoveTunnelData(calls), row.removed);
    EXPECT_EQ(lines, row.lines);
    EXPECT_EQ(
        ::GetFileAttributesW(program_data.Join(L"Tarnwick").c_str()) == INVALID_FILE_ATTRIBUTES,
        row.removed);
  }
}

}  // namespace
