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

TEST(DataRemovalTest, ACopyThatIsNotElevatedRemovesNothing) {
  tarnwick::e2e::TempDir program_data;
  const std::wstring key = program_data.MakeDir(L"Tarnwick") + L"\\tarnwick.conf";
  ASSERT_TRUE(tarnwick::e2e::WriteFileBytes(key, "k"));
  std::vector<std::wstring> lines;
  tarnwick::ServiceCalls calls;
  calls.SHGetKnownFolderPath = [&](REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path) {
    return tarnwick::e2e::AnswerKnownFolder(program_data.path(), path);
  };
  calls.GetTokenInformation = [](HANDLE, TOKEN_INFORMATION_CLASS, LPVOID info, DWORD, PDWORD) {
    static_cast<TOKEN_ELEVATION*>(info)->TokenIsElevated = 0;
    return TRUE;
  };
  calls.OutputDebugStringW = [&](LPCWSTR line) { lines.emplace_back(line); };
  EXPECT_FALSE(tarnwick::RemoveTunnelData(calls));
  EXPECT_EQ(lines, std::vector<std::wstring>{
                       L"[Tarnwick] RemoveTunnelData: refused: this copy is not elevated\n"});
  EXPECT_TRUE(tarnwick::e2e::FileExists(key));
}

}  // namespace
