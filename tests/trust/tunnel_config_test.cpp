// Where the configuration lives and the check of a configuration path
// handed to a privileged copy: the real files of a ProgramData of the
// test's own, with Windows-like owners and permissions scripted.
#include "trust/tunnel_config.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/paths.h"
#include "tests/support/program_data.h"
#include "tests/support/security.h"

namespace {

using tarnwick::CheckTunnelConfigPath;
using tarnwick::ConfigLocation;
using tarnwick::TrustCalls;
using tarnwick::TunnelConfigLocation;
using tarnwick::e2e::TempDir;

class TunnelConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = program_data_.MakeDir(tarnwick::kConfigFolderName);
    config_ = tarnwick::e2e::ConfigFileBelow(program_data_.path());
    ASSERT_TRUE(tarnwick::e2e::WriteFileBytes(config_, "[Interface]\n"));
    calls_.SHGetKnownFolderPath = [this](REFKNOWNFOLDERID id, DWORD, HANDLE, PWSTR* path) {
      EXPECT_TRUE(IsEqualGUID(id, FOLDERID_ProgramData));
      return tarnwick::e2e::AnswerKnownFolder(program_data_.path(), path);
    };
    security_.Install(calls_);
  }

  TempDir program_data_;
  std::wstring folder_;
  std::wstring config_;
  TrustCalls calls_;
  tarnwick::e2e::ScriptedSecurity security_;
};

TEST_F(TunnelConfigTest, LocationIsTheKnownFolderOnly) {
  const ConfigLocation location = TunnelConfigLocation(calls_);
  EXPECT_EQ(location.folder, folder_);
  EXPECT_EQ(location.file, config_);

  // The system cannot name the folder, or names it as nothing: no
  // location, and a check says why.
  for (const HRESULT answer : {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), S_OK}) {
    SCOPED_TRACE(answer);
    calls_.SHGetKnownFolderPath = [answer](REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path) {
      *path = nullptr;
      return FAILED(answer) ? answer : tarnwick::e2e::AnswerKnownFolder(L"", path);
    };
    const ConfigLocation unknown = TunnelConfigLocation(calls_);
    EXPECT_FALSE(unknown);
    EXPECT_TRUE(unknown.folder.empty());
    const auto refusal = CheckTunnelConfigPath(config_, unknown, calls_);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->text, L"ProgramData folder unknown: " +
                                 tarnwick::SystemErrorText(FAILED(answer) ? answer : E_UNEXPECTED));
  }
}

// Which owners the configuration may have and which object a refusal
// names; the rights themselves are judged by the file trust table.
TEST_F(TunnelConfigTest, CheckJudgesFolderAndFileWithTheFilesOwnerTrusted) {
  constexpr wchar_t kUser[] = L"S-1-5-21-1-2-3-1001";
  constexpr wchar_t kOther[] = L"S-1-5-21-1-2-3-1002";
  // As the staging writes them: protected, SYSTEM, administrators, owner.
  constexpr wchar_t kStagedFolderDacl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)";
  const std::wstring staged_folder = std::wstring(L"O:") + kUser + kStagedFolderDacl;
  const std::wstring staged_file =
      std::wstring(L"O:") + kUser + L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)";
  const struct {
    const char* name;
    std::wstring path;
    std::wstring folder_sddl;
    std::wstring file_sddl;
    const wchar_t* refusal;  // null: accepted
  } rows[] = {
      {"as staged", config_, staged_folder, staged_file, nullptr},
      {"letter case aside", program_data_.path() + L"\\TARNWICK\\TARNWICK.CONF", staged_folder,
       staged_file, nullptr},
      {"folder of SYSTEM, everyone may read", config_,
       L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;FR;;;WD)", staged_file, nullptr},
      {"folder of another user", config_, std::wstring(L"O:") + kOther + kStagedFolderDacl,
       staged_file, L"configuration folder can be changed by others"},
      {"users may write the file", config_, staged_folder, staged_file + L"(A;;FW;;;BU)",
       L"configuration file can be changed by others"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    security_.Set(folder_, row.folder_sddl);
    security_.Set(config_, row.file_sddl);
    const auto refusal = CheckTunnelConfigPath(row.path, TunnelConfigLocation(calls_), calls_);
    if (row.refusal == nullptr) {
      EXPECT_FALSE(refusal) << std::string(refusal->text.begin(), refusal->text.end());
    } else {
      ASSERT_TRUE(refusal);
      EXPECT_EQ(refusal->text, row.refusal);
    }
  }
}

}  // namespace
