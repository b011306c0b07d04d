// Configuration staging: every failure row and the arguments of each call
// through a scripted file system, and the bytes and the replacement on the
// real file system of the prefix.
#include "tunnel_channel/config_staging.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/tunnel_identity.h"
#include "tests/support/paths.h"
#include "tests/support/program_data.h"
#include "tests/support/security.h"

namespace {

namespace e2e = tarnwick::e2e;
using tarnwick::kConfigFileName;

// Where the staging writes below the ProgramData the tests script.
const std::wstring kStagedFile = e2e::ConfigFileBelow(L"C:\\ProgramData");

using tarnwick::GetProgramDataDirectory;
using tarnwick::TunnelChannelCalls;
using tarnwick::WriteTunnelConfig;

std::wstring DaclOf(const SECURITY_ATTRIBUTES* attributes) {
  if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr) return L"<none>";
  wchar_t* text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          attributes->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
          nullptr)) {
    return L"<unreadable>";
  }
  std::wstring result(text);
  ::LocalFree(text);
  return result;
}

// A block this large the heap takes from the system by itself and gives back
// on LocalFree, so whether it was freed can be read back afterwards.
constexpr SIZE_T kTrackedBlockBytes = SIZE_T{4} << 20;

bool BlockReleased(const void* block) {
  MEMORY_BASIC_INFORMATION info{};
  return ::VirtualQuery(block, &info, sizeof(info)) != 0 && info.State == MEM_FREE;
}

bool HandleOpen(HANDLE handle) {
  DWORD flags = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         ::GetHandleInformation(handle, &flags) != FALSE;
}

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH];
  const DWORD n = ::GetTempPathW(MAX_PATH, temp);
  EXPECT_NE(n, 0u);
  return std::wstring(temp, n);
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    for (const std::wstring& name : ListFolder(path)) RemoveTree(path + L"\\" + name);
    ::RemoveDirectoryW(path.c_str());
  } else {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
  }
}

// The scripted file system: records every call and fails on demand.
struct FakeSystem {
  enum class Write { kAll, kShort, kFails };

  std::optional<std::wstring> program_data = L"C:\\ProgramData";
  DWORD directory_error = 0;  // 0: the folder is created
  bool descriptor_fails = false;
  bool create_fails = false;
  Write write = Write::kAll;
  bool flush_fails = false;
  bool move_fails = false;
  // The folder as the vouching sees it.
  DWORD folder_attributes = FILE_ATTRIBUTE_DIRECTORY;
  std::optional<std::wstring> folder_owner;  // SDDL owner; none: the real one (this user)
  bool folder_denies_write_dac = false;
  DWORD set_security_error = ERROR_SUCCESS;
  bool random_fails = false;

  struct Create {
    std::wstring path;
    DWORD access, share, disposition, flags;
    std::wstring dacl;
    BOOL inherit;
  };
  std::vector<std::wstring> directories;
  std::vector<std::wstring> directory_dacls;
  std::vector<Create> creates;
  std::vector<std::string> writes;
  std::vector<std::wstring> events;    // create, write, close, move, delete in order
  HANDLE file = INVALID_HANDLE_VALUE;  // the real handle handed out for the file
  bool file_closed = false;
  std::vector<void*> descriptors;  // handed out, each in a block of its own
  int get_last_error_calls = 0;
  DWORD last_error = 0;
  std::wstring move_from, move_to;
  DWORD move_flags = 0;
  std::vector<std::wstring> deleted;
  std::vector<std::wstring> folder_opens;
  std::vector<std::wstring> set_security;  // flags and DACL of each re-application
};

// What the fake random source gives: the name of the temporary file shows it.
constexpr wchar_t kSuffix[] = L"000102030405060708090a0b0c0d0e0f";

class ConfigStagingTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!root_.empty()) RemoveTree(root_);
  }

  // Every call scripted.
  TunnelChannelCalls Fakes() {
    TunnelChannelCalls c;
    c.SHGetKnownFolderPath = [this](REFKNOWNFOLDERID id, DWORD, HANDLE, PWSTR* path) {
      EXPECT_TRUE(IsEqualGUID(id, FOLDERID_ProgramData));
      *path = nullptr;
      if (!fs_.program_data) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
      return tarnwick::e2e::AnswerKnownFolder(*fs_.program_data, path);
    };
    c.CreateDirectoryW = [this](LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
      fs_.directories.push_back(path);
      fs_.directory_dacls.push_back(DaclOf(attributes));
      fs_.last_error = fs_.directory_error;
      return fs_.directory_error == 0 ? TRUE : FALSE;
    };
    c.GetLastError = [this] {
      ++fs_.get_last_error_calls;
      return fs_.last_error;
    };
    c.CreateFileW = [this](LPCWSTR path, DWORD access, DWORD share,
                           LPSECURITY_ATTRIBUTES attributes, DWORD disposition, DWORD flags,
                           HANDLE) -> HANDLE {
      NoteClose();
      if ((flags & FILE_FLAG_BACKUP_SEMANTICS) != 0) {
        // The folder, opened to be vouched for: a real folder stands in.
        EXPECT_EQ(disposition, static_cast<DWORD>(OPEN_EXISTING));
        EXPECT_NE(flags & FILE_FLAG_OPEN_REPARSE_POINT, 0u) << "a link is opened, not followed";
        fs_.folder_opens.push_back(path);
        if (fs_.folder_denies_write_dac && (access & WRITE_DAC) != 0) {
          return INVALID_HANDLE_VALUE;
        }
        return ::CreateFileW(TempFolder().c_str(), access, share, nullptr, OPEN_EXISTING, flags,
                             nullptr);
      }
      fs_.creates.push_back({path, access, share, disposition, flags, DaclOf(attributes),
                             attributes ? attributes->bInheritHandle : TRUE});
      fs_.events.push_back(L"create");
      if (fs_.create_fails) return INVALID_HANDLE_VALUE;
      // A real file, because the staging closes it with the real call; it
      // goes away with that close.
      fs_.file = ::CreateFileW(ScratchPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      EXPECT_NE(fs_.file, INVALID_HANDLE_VALUE) << ::GetLastError();
      return fs_.file;
    };
    c.WriteFile = [this](HANDLE handle, LPCVOID data, DWORD size, LPDWORD written,
                         LPOVERLAPPED overlapped) {
      NoteClose();
      EXPECT_EQ(handle, fs_.file);
      EXPECT_EQ(overlapped, nullptr);
      EXPECT_EQ(*written, 0u) << "the count starts at 0";
      fs_.events.push_back(L"write");
      fs_.writes.emplace_back(static_cast<const char*>(data), size);
      switch (fs_.write) {
        case FakeSystem::Write::kAll: *written = size; return TRUE;
        case FakeSystem::Write::kShort: *written = size - 1; return TRUE;
        case FakeSystem::Write::kFails: return FALSE;
      }
      return FALSE;
    };
    c.FlushFileBuffers = [this](HANDLE handle) {
      EXPECT_EQ(handle, fs_.file);
      EXPECT_TRUE(HandleOpen(handle));
      return fs_.flush_fails ? FALSE : TRUE;
    };
    c.MoveFileExW = [this](LPCWSTR from, LPCWSTR to, DWORD flags) {
      NoteClose();
      fs_.events.push_back(L"move");
      fs_.move_from = from;
      fs_.move_to = to;
      fs_.move_flags = flags;
      return fs_.move_fails ? FALSE : TRUE;
    };
    c.DeleteFileW = [this](LPCWSTR path) {
      NoteClose();
      fs_.events.push_back(L"delete");
      fs_.deleted.push_back(path);
      return TRUE;
    };
    c.GetFileAttributesW = [this](LPCWSTR) { return fs_.folder_attributes; };
    c.GetSecurityInfo = [this](HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what,
                               PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                               PSECURITY_DESCRIPTOR* descriptor) -> DWORD {
      if (!fs_.folder_owner) {
        return ::GetSecurityInfo(handle, type, what, owner, group, dacl, sacl, descriptor);
      }
      return tarnwick::e2e::AnswerWithSddl(L"O:" + *fs_.folder_owner + L"D:P(A;;FA;;;SY)", owner,
                                           dacl, descriptor);
    };
    c.SetSecurityInfo = [this](HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION what, PSID owner,
                               PSID group, PACL dacl, PACL sacl) -> DWORD {
      EXPECT_TRUE(owner == nullptr && group == nullptr && sacl == nullptr);
      SECURITY_DESCRIPTOR descriptor;
      ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
      ::SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
      ::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
      wchar_t* text = nullptr;
      ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          &descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
      fs_.set_security.push_back(std::to_wstring(what) + L" " + (text ? text : L"?"));
      if (text) ::LocalFree(text);
      return fs_.set_security_error;
    };
    c.BCryptGenRandom = [this](BCRYPT_ALG_HANDLE, PUCHAR buffer, ULONG size, ULONG) -> NTSTATUS {
      if (fs_.random_fails) return static_cast<NTSTATUS>(0xC0000001L);
      for (ULONG i = 0; i < size; ++i) buffer[i] = static_cast<UCHAR>(i);
      return 0;
    };
    c.ConvertStringSecurityDescriptorToSecurityDescriptorW =
        [this](LPCWSTR sddl, DWORD revision, PSECURITY_DESCRIPTOR* descriptor,
               PULONG size) -> BOOL {
      if (fs_.descriptor_fails) return FALSE;
      PSECURITY_DESCRIPTOR parsed = nullptr;
      ULONG parsed_size = 0;
      if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, revision, &parsed,
                                                                  &parsed_size)) {
        return FALSE;
      }
      // Self-relative, so it can move into a block whose release shows.
      void* block = ::LocalAlloc(LMEM_FIXED, kTrackedBlockBytes);
      EXPECT_NE(block, nullptr);
      std::memcpy(block, parsed, parsed_size);
      ::LocalFree(parsed);
      fs_.descriptors.push_back(block);
      *descriptor = block;
      if (size != nullptr) *size = parsed_size;
      return TRUE;
    };
    return c;
  }

  // The staging through the scripted calls; afterwards nothing it was given
  // may be left open or allocated.
  std::wstring Folder() {
    const std::wstring folder = GetProgramDataDirectory(Fakes());
    ExpectNothingLeft();
    return folder;
  }
  std::wstring Write(const std::string& text) {
    const std::wstring path = WriteTunnelConfig(text, Fakes());
    ExpectNothingLeft();
    return path;
  }

  // The real calls, with the ProgramData known folder answered by a fresh
  // folder of this test.
  TunnelChannelCalls OnDisk() {
    if (root_.empty()) {
      root_ = TempFolder() + L"tarnwick-staging-" + std::to_wstring(::GetCurrentProcessId());
      RemoveTree(root_);
      EXPECT_TRUE(::CreateDirectoryW(root_.c_str(), nullptr));
      folder_ = e2e::ConfigFolderBelow(root_);
      file_ = e2e::ConfigFileBelow(root_);
    }
    TunnelChannelCalls c;
    c.SHGetKnownFolderPath = [this](REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path) {
      return tarnwick::e2e::AnswerKnownFolder(root_, path);
    };
    return c;
  }

  FakeSystem fs_;
  std::wstring root_, folder_, file_;

 private:
  std::wstring ScratchPath() {
    return TempFolder() + L"tarnwick-staging-scratch-" + std::to_wstring(::GetCurrentProcessId()) +
           L"-" + std::to_wstring(++scratch_files_) + L".tmp";
  }

  // The close is not a call of the table: it shows as the file handle no
  // longer being valid at the next call the staging makes.
  void NoteClose() {
    if (fs_.file == INVALID_HANDLE_VALUE || fs_.file_closed || HandleOpen(fs_.file)) return;
    fs_.file_closed = true;
    fs_.events.push_back(L"close");
  }

  void ExpectNothingLeft() {
    NoteClose();
    if (fs_.file != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(fs_.file_closed) << "the file is left open";
    }
    for (const void* descriptor : fs_.descriptors) {
      EXPECT_TRUE(BlockReleased(descriptor)) << "a security descriptor is not freed";
    }
  }

  int scratch_files_ = 0;
};

TEST_F(ConfigStagingTest, KnownFolderDecidesTheFolder) {
  struct Row {
    const char* what;
    std::optional<std::wstring> known;
    std::wstring folder;  // empty: refused before any folder is made
  } rows[] = {
      {"the system does not name it", std::nullopt, L""},
      {"C:\\ProgramData", std::wstring(L"C:\\ProgramData"),
       e2e::ConfigFolderBelow(L"C:\\ProgramData")},
      {"another drive", std::wstring(L"D:\\Data"), e2e::ConfigFolderBelow(L"D:\\Data")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs_ = FakeSystem{};
    fs_.program_data = row.known;

    EXPECT_EQ(Folder(), row.folder);
    const std::wstring path = Write("x");
    if (row.folder.empty()) {
      EXPECT_EQ(path, L"");
      EXPECT_TRUE(fs_.directories.empty());
      EXPECT_TRUE(fs_.creates.empty());
    } else {
      EXPECT_EQ(path, e2e::JoinPath(row.folder, kConfigFileName));
      ASSERT_EQ(fs_.directories.size(), 2u);
      EXPECT_EQ(fs_.directories[1], row.folder);
      EXPECT_EQ(fs_.move_to, path);
    }
  }
}

TEST_F(ConfigStagingTest, OnlyAlreadyExistsLetsAFailedFolderStepPass) {
  struct Row {
    DWORD error;
    bool passes;
  } rows[] = {
      {ERROR_ALREADY_EXISTS, true},
      {ERROR_ACCESS_DENIED, false},
      {ERROR_PATH_NOT_FOUND, false},
      {ERROR_INVALID_NAME, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.error);
    fs_ = FakeSystem{};
    fs_.directory_error = row.error;

    const std::wstring path = Write("x");
    EXPECT_EQ(fs_.get_last_error_calls, 1);
    if (row.passes) {
      EXPECT_EQ(path, kStagedFile);
    } else {
      EXPECT_EQ(path, L"");
      EXPECT_TRUE(fs_.creates.empty()) << "no file is touched";
    }
  }
}

TEST_F(ConfigStagingTest, FolderAndFileAdmitOnlySystemAdministratorsAndOwner) {
  ASSERT_EQ(Write("[Interface]\n"), kStagedFile);

  ASSERT_EQ(fs_.directory_dacls.size(), 1u);
  EXPECT_EQ(fs_.directory_dacls[0], L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)");
  ASSERT_EQ(fs_.creates.size(), 1u);
  const FakeSystem::Create& create = fs_.creates[0];
  EXPECT_EQ(create.dacl, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)");
  EXPECT_FALSE(create.inherit);
  EXPECT_EQ(create.path, kStagedFile + L"." + kSuffix + L".tmp");
  EXPECT_EQ(create.access, static_cast<DWORD>(GENERIC_WRITE));
  EXPECT_EQ(create.share, 0u);
  // A new file only: a file left at that name is never reopened with
  // whatever permissions it carries.
  EXPECT_EQ(create.disposition, static_cast<DWORD>(CREATE_NEW));
  EXPECT_EQ(create.flags, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  // The folder's, the one re-applied to the folder this user owns, the file's.
  EXPECT_EQ(fs_.descriptors.size(), 3u);
}

TEST_F(ConfigStagingTest, NoDescriptorMeansNothingIsCreated) {
  fs_.descriptor_fails = true;
  EXPECT_EQ(Write("x"), L"");
  EXPECT_TRUE(fs_.directories.empty());
  EXPECT_TRUE(fs_.creates.empty());
}

TEST_F(ConfigStagingTest, TextReplacesTheFileInOneStepAfterOneCompleteWrite) {
  static const char kBytes[] = "[Interface]\nPrivateKey = \xc3\xa9\0tail";
  const std::string text(kBytes, sizeof(kBytes) - 1);
  ASSERT_EQ(Write(text), kStagedFile);

  ASSERT_EQ(fs_.writes.size(), 1u);
  EXPECT_EQ(fs_.writes[0], text);
  EXPECT_EQ(fs_.move_from, kStagedFile + L"." + kSuffix + L".tmp");
  EXPECT_EQ(fs_.move_flags, static_cast<DWORD>(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  // The handle is closed before the move, so the rename is not refused for
  // the file being open.
  // Nothing is deleted before: the name is new.
  const std::vector<std::wstring> order = {L"create", L"write", L"close", L"move"};
  EXPECT_EQ(fs_.events, order);
}

TEST_F(ConfigStagingTest, AnyFailureAfterTheCreateRemovesTheTemporaryFile) {
  struct Row {
    const char* what;
    FakeSystem::Write write;
    bool flush_fails;
    bool move_fails;
    bool moved;
  } rows[] = {
      {"write fails", FakeSystem::Write::kFails, false, false, false},
      {"short write", FakeSystem::Write::kShort, false, false, false},
      {"flush fails", FakeSystem::Write::kAll, true, false, false},
      {"replace fails", FakeSystem::Write::kAll, false, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs_ = FakeSystem{};
    fs_.write = row.write;
    fs_.flush_fails = row.flush_fails;
    fs_.move_fails = row.move_fails;

    EXPECT_EQ(Write("config text"), L"");
    EXPECT_EQ(fs_.writes.size(), 1u) << "a short write is not continued";
    EXPECT_EQ(std::count(fs_.events.begin(), fs_.events.end(), L"move"), row.moved ? 1 : 0);
    ASSERT_FALSE(fs_.events.empty());
    EXPECT_EQ(fs_.events.back(), L"delete");
    EXPECT_EQ(fs_.deleted.back(), kStagedFile + L"." + kSuffix + L".tmp");
    for (const std::wstring& path : fs_.deleted) {
      EXPECT_NE(path, kStagedFile) << "the old file stays";
    }
  }
}

TEST_F(ConfigStagingTest, FileThatCannotBeCreatedGivesEmptyPath) {
  fs_.create_fails = true;
  EXPECT_EQ(Write("x"), L"");
  EXPECT_TRUE(fs_.writes.empty());
  EXPECT_TRUE(fs_.move_from.empty());
}

// Whatever stands at the folder's path may have been put there by another
// local user: it is vouched for before a key is written into it.
TEST_F(ConfigStagingTest, FolderIsVouchedForBeforeAnythingIsWrittenIntoIt) {
  const std::wstring reapplied =
      std::to_wstring(DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION) +
      L" D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)";
  struct Row {
    const char* what;
    std::function<void(FakeSystem&)> setup;
    bool written;
    std::vector<std::wstring> set_security;
  } rows[] = {
      {"this user's folder: permissions tightened again", [](FakeSystem&) {}, true, {reapplied}},
      {"SYSTEM's folder, not writable for this user",
       [](FakeSystem& f) {
         f.folder_owner = L"SY";
         f.folder_denies_write_dac = true;
       },
       true,
       {}},
      {"administrators' folder", [](FakeSystem& f) { f.folder_owner = L"BA"; }, true, {}},
      {"another user's folder",
       [](FakeSystem& f) { f.folder_owner = L"S-1-5-21-9-9-9-2000"; },
       false,
       {}},
      {"a link",
       [](FakeSystem& f) { f.folder_attributes |= FILE_ATTRIBUTE_REPARSE_POINT; },
       false,
       {}},
      {"permissions cannot be tightened",
       [](FakeSystem& f) { f.set_security_error = ERROR_ACCESS_DENIED; },
       false,
       {reapplied}},
      {"no unpredictable name to be had",
       [](FakeSystem& f) { f.random_fails = true; },
       false,
       {reapplied}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs_ = FakeSystem{};
    row.setup(fs_);
    EXPECT_EQ(Write("[Interface]\n"), row.written ? kStagedFile : std::wstring());
    EXPECT_FALSE(fs_.folder_opens.empty());
    EXPECT_EQ(fs_.set_security, row.set_security);
    if (!row.written) EXPECT_TRUE(fs_.creates.empty()) << "nothing is written";
  }
}

// The real file system from here on.

TEST_F(ConfigStagingTest, FileHoldsExactlyTheLastTextsBytes) {
  const TunnelChannelCalls calls = OnDisk();
  const std::string longer = "[Interface]\r\nPrivateKey = a long key line that is replaced\n";
  const std::string shorter = "Name = caf\xc3\xa9 \xe2\x9c\x93";  // UTF-8, no byte-order mark

  EXPECT_EQ(WriteTunnelConfig(longer, calls), file_);
  EXPECT_EQ(ReadAll(file_), longer);
  EXPECT_EQ(WriteTunnelConfig(shorter, calls), file_) << "the folder exists now; same path again";
  EXPECT_EQ(ReadAll(file_), shorter) << "no stale tail of the longer text";
  EXPECT_EQ(WriteTunnelConfig("", calls), file_);
  EXPECT_EQ(ReadAll(file_), "");
  EXPECT_EQ(ListFolder(folder_), std::vector<std::wstring>{kConfigFileName})
      << "no temporary file is left behind";
}

TEST_F(ConfigStagingTest, PlainFileNamedTarnwickBlocksTheWrite) {
  const TunnelChannelCalls calls = OnDisk();
  WriteAll(folder_, "not a folder");
  EXPECT_EQ(GetProgramDataDirectory(calls), L"") << "what stands there is not a folder";
  EXPECT_EQ(WriteTunnelConfig("x", calls), L"");
  EXPECT_EQ(ReadAll(folder_), "not a folder");
}

TEST_F(ConfigStagingTest, FailedWriteKeepsThePreviousConfiguration) {
  TunnelChannelCalls calls = OnDisk();
  const std::string previous = "[Interface]\nPrivateKey = the working one\n";
  ASSERT_EQ(WriteTunnelConfig(previous, calls), file_);

  // Half of the text really lands in the temporary file; then the disk fills.
  calls.WriteFile = [](HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                       LPOVERLAPPED overlapped) {
    ::WriteFile(file, data, size / 2, written, overlapped);
    ::SetLastError(ERROR_DISK_FULL);
    return FALSE;
  };
  EXPECT_EQ(WriteTunnelConfig("[Interface]\nPrivateKey = a newer, longer one\n", calls), L"");
  EXPECT_EQ(ReadAll(file_), previous);
  EXPECT_EQ(ListFolder(folder_), std::vector<std::wstring>{kConfigFileName});
}

TEST_F(ConfigStagingTest, ReplaceRefusedKeepsThePreviousConfiguration) {
  const TunnelChannelCalls calls = OnDisk();
  const std::string previous = "[Interface]\nPrivateKey = the working one\n";
  ASSERT_EQ(WriteTunnelConfig(previous, calls), file_);

  // Another opener holds the configuration file without sharing, as a reader in the
  // middle of its read would.
  HANDLE held = ::CreateFileW(file_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WriteTunnelConfig("replacement", calls), L"");
  ::CloseHandle(held);

  EXPECT_EQ(ReadAll(file_), previous);
  EXPECT_EQ(ListFolder(folder_), std::vector<std::wstring>{kConfigFileName});
}

}  // namespace
