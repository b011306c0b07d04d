#include "tunnel_channel/config_staging.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using tarnwick::ConfigStagingCalls;

// ---------------------------------------------------------------------------
// A fake file system behind the seam: records every call and fails on demand.

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

struct FakeSystem {
  enum class Write { kAll, kShort, kFails };

  std::optional<std::wstring> program_data = L"C:\\ProgramData";
  DWORD directory_error = 0;  // 0: the folder is created
  bool descriptor_fails = false;
  bool create_fails = false;
  Write write = Write::kAll;
  bool flush_fails = false;
  bool move_fails = false;

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
  std::vector<std::wstring> events;  // create, write, close, move, delete in order
  std::multiset<HANDLE> open_handles;
  std::set<PSECURITY_DESCRIPTOR> live_descriptors;
  int descriptors_made = 0;
  int get_last_error_calls = 0;
  DWORD last_error = 0;
  std::wstring move_from, move_to;
  DWORD move_flags = 0;
  std::vector<std::wstring> deleted;
  uintptr_t next_handle = 0x100;
};

FakeSystem* fake = nullptr;

DWORD WINAPI FakeGetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
  if (std::wstring(name) != L"PROGRAMDATA" || !fake->program_data) return 0;
  const std::wstring& value = *fake->program_data;
  if (value.size() >= size) return static_cast<DWORD>(value.size() + 1);
  std::copy(value.begin(), value.end(), buffer);
  buffer[value.size()] = L'\0';
  return static_cast<DWORD>(value.size());
}

BOOL WINAPI FakeCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
  fake->directories.push_back(path);
  fake->directory_dacls.push_back(DaclOf(attributes));
  fake->last_error = fake->directory_error;
  return fake->directory_error == 0;
}

DWORD WINAPI FakeGetLastError() {
  ++fake->get_last_error_calls;
  return fake->last_error;
}

HANDLE WINAPI FakeCreateFileW(LPCWSTR path, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES attributes, DWORD disposition, DWORD flags,
                              HANDLE) {
  fake->creates.push_back({path, access, share, disposition, flags, DaclOf(attributes),
                           attributes ? attributes->bInheritHandle : TRUE});
  fake->events.push_back(L"create");
  if (fake->create_fails) return INVALID_HANDLE_VALUE;
  HANDLE handle = reinterpret_cast<HANDLE>(fake->next_handle++);
  fake->open_handles.insert(handle);
  return handle;
}

BOOL WINAPI FakeWriteFile(HANDLE handle, LPCVOID data, DWORD size, LPDWORD written,
                          LPOVERLAPPED overlapped) {
  EXPECT_EQ(fake->open_handles.count(handle), 1u);
  EXPECT_EQ(overlapped, nullptr);
  EXPECT_EQ(*written, 0u) << "the count starts at 0";
  fake->events.push_back(L"write");
  fake->writes.emplace_back(static_cast<const char*>(data), size);
  switch (fake->write) {
    case FakeSystem::Write::kAll: *written = size; return TRUE;
    case FakeSystem::Write::kShort: *written = size - 1; return TRUE;
    case FakeSystem::Write::kFails: return FALSE;
  }
  return FALSE;
}

BOOL WINAPI FakeFlushFileBuffers(HANDLE handle) {
  EXPECT_EQ(fake->open_handles.count(handle), 1u);
  return !fake->flush_fails;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  EXPECT_EQ(fake->open_handles.count(handle), 1u) << "closed a handle not open";
  fake->open_handles.erase(handle);
  fake->events.push_back(L"close");
  return TRUE;
}

BOOL WINAPI FakeMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  fake->events.push_back(L"move");
  fake->move_from = from;
  fake->move_to = to;
  fake->move_flags = flags;
  return !fake->move_fails;
}

BOOL WINAPI FakeDeleteFileW(LPCWSTR path) {
  fake->events.push_back(L"delete");
  fake->deleted.push_back(path);
  return TRUE;
}

DWORD WINAPI FakeGetCurrentProcessId() { return 4242; }

BOOL WINAPI FakeConvertSddl(LPCWSTR sddl, DWORD revision, PSECURITY_DESCRIPTOR* descriptor,
                            PULONG size) {
  if (fake->descriptor_fails) return FALSE;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, revision, descriptor, size)) {
    return FALSE;
  }
  ++fake->descriptors_made;
  fake->live_descriptors.insert(*descriptor);
  return TRUE;
}

HLOCAL WINAPI FakeLocalFree(HLOCAL memory) {
  EXPECT_EQ(fake->live_descriptors.erase(memory), 1u) << "freed something not made here";
  return ::LocalFree(memory);
}

class ConfigStagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = &system_;
    calls_.GetEnvironmentVariableW = FakeGetEnvironmentVariableW;
    calls_.CreateDirectoryW = FakeCreateDirectoryW;
    calls_.GetLastError = FakeGetLastError;
    calls_.CreateFileW = FakeCreateFileW;
    calls_.WriteFile = FakeWriteFile;
    calls_.FlushFileBuffers = FakeFlushFileBuffers;
    calls_.CloseHandle = FakeCloseHandle;
    calls_.MoveFileExW = FakeMoveFileExW;
    calls_.DeleteFileW = FakeDeleteFileW;
    calls_.GetCurrentProcessId = FakeGetCurrentProcessId;
    calls_.ConvertStringSecurityDescriptorToSecurityDescriptorW = FakeConvertSddl;
    calls_.LocalFree = FakeLocalFree;
  }
  void TearDown() override {
    // Whatever happened, nothing may be left open or allocated.
    EXPECT_TRUE(system_.open_handles.empty());
    EXPECT_TRUE(system_.live_descriptors.empty());
    fake = nullptr;
  }

  FakeSystem system_;
  ConfigStagingCalls calls_;
};

TEST_F(ConfigStagingTest, ProgramDataValueDecidesTheFolder) {
  const std::wstring v259(259, L'x');
  const std::wstring v260(260, L'x');
  struct Row {
    const char* what;
    std::optional<std::wstring> value;
    std::wstring folder;  // empty: refused before any folder is made
  } rows[] = {
      {"unset", std::nullopt, L""},
      {"empty", std::wstring(), L""},
      {"259 characters", v259, v259 + L"\\Tarnwick"},
      {"260 characters", v260, L""},
      {"ordinary", std::wstring(L"C:\\ProgramData"), L"C:\\ProgramData\\Tarnwick"},
      {"trailing backslash", std::wstring(L"D:\\Data\\"), L"D:\\Data\\\\Tarnwick"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    system_ = FakeSystem{};
    system_.program_data = row.value;

    EXPECT_EQ(tarnwick::GetProgramDataDirectory(calls_), row.folder);
    const std::wstring path = tarnwick::WriteTunnelConfig("x", calls_);
    if (row.folder.empty()) {
      EXPECT_EQ(path, L"");
      EXPECT_TRUE(system_.directories.empty());
      EXPECT_TRUE(system_.creates.empty());
    } else {
      EXPECT_EQ(path, row.folder + L"\\tarnwick.conf");
      ASSERT_EQ(system_.directories.size(), 2u);
      EXPECT_EQ(system_.directories[1], row.folder);
      EXPECT_EQ(system_.move_to, path);
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
    system_ = FakeSystem{};
    system_.directory_error = row.error;

    const std::wstring path = tarnwick::WriteTunnelConfig("x", calls_);
    EXPECT_EQ(system_.get_last_error_calls, 1);
    if (row.passes) {
      EXPECT_EQ(path, L"C:\\ProgramData\\Tarnwick\\tarnwick.conf");
    } else {
      EXPECT_EQ(path, L"");
      EXPECT_TRUE(system_.creates.empty()) << "no file is touched";
    }
  }
}

TEST_F(ConfigStagingTest, FolderAndFileAdmitOnlySystemAdministratorsAndOwner) {
  ASSERT_EQ(tarnwick::WriteTunnelConfig("[Interface]\n", calls_),
            L"C:\\ProgramData\\Tarnwick\\tarnwick.conf");

  ASSERT_EQ(system_.directory_dacls.size(), 1u);
  EXPECT_EQ(system_.directory_dacls[0], L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)");
  ASSERT_EQ(system_.creates.size(), 1u);
  const FakeSystem::Create& create = system_.creates[0];
  EXPECT_EQ(create.dacl, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)");
  EXPECT_FALSE(create.inherit);
  EXPECT_EQ(create.path, L"C:\\ProgramData\\Tarnwick\\tarnwick.conf.4242.tmp");
  EXPECT_EQ(create.access, static_cast<DWORD>(GENERIC_WRITE));
  EXPECT_EQ(create.share, 0u);
  // A new file only: a file left at that name is never reopened with
  // whatever permissions it carries.
  EXPECT_EQ(create.disposition, static_cast<DWORD>(CREATE_NEW));
  EXPECT_EQ(create.flags, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(system_.descriptors_made, 2);
}

TEST_F(ConfigStagingTest, NoDescriptorMeansNothingIsCreated) {
  system_.descriptor_fails = true;
  EXPECT_EQ(tarnwick::WriteTunnelConfig("x", calls_), L"");
  EXPECT_TRUE(system_.directories.empty());
  EXPECT_TRUE(system_.creates.empty());
}

TEST_F(ConfigStagingTest, TextReplacesTheFileInOneStepAfterOneCompleteWrite) {
  static const char kBytes[] = "[Interface]\nPrivateKey = \xc3\xa9\0tail";
  const std::string text(kBytes, sizeof(kBytes) - 1);
  ASSERT_EQ(tarnwick::WriteTunnelConfig(text, calls_), L"C:\\ProgramData\\Tarnwick\\tarnwick.conf");

  ASSERT_EQ(system_.writes.size(), 1u);
  EXPECT_EQ(system_.writes[0], text);
  EXPECT_EQ(system_.move_from, L"C:\\ProgramData\\Tarnwick\\tarnwick.conf.4242.tmp");
  EXPECT_EQ(system_.move_flags,
            static_cast<DWORD>(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  // The handle is closed before the move, so the rename is not refused for
  // the file being open.
  const std::vector<std::wstring> order = {L"delete", L"create", L"write", L"close", L"move"};
  EXPECT_EQ(system_.events, order);
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
    system_ = FakeSystem{};
    system_.write = row.write;
    system_.flush_fails = row.flush_fails;
    system_.move_fails = row.move_fails;

    EXPECT_EQ(tarnwick::WriteTunnelConfig("config text", calls_), L"");
    EXPECT_EQ(system_.writes.size(), 1u) << "a short write is not continued";
    EXPECT_EQ(std::count(system_.events.begin(), system_.events.end(), L"move"),
              row.moved ? 1 : 0);
    ASSERT_FALSE(system_.events.empty());
    EXPECT_EQ(system_.events.back(), L"delete");
    EXPECT_EQ(system_.deleted.back(), L"C:\\ProgramData\\Tarnwick\\tarnwick.conf.4242.tmp");
    for (const std::wstring& path : system_.deleted) {
      EXPECT_NE(path, L"C:\\ProgramData\\Tarnwick\\tarnwick.conf") << "the old file stays";
    }
  }
}

TEST_F(ConfigStagingTest, FileThatCannotBeCreatedGivesEmptyPath) {
  system_.create_fails = true;
  EXPECT_EQ(tarnwick::WriteTunnelConfig("x", calls_), L"");
  EXPECT_TRUE(system_.writes.empty());
  EXPECT_TRUE(system_.move_from.empty());
}

// ---------------------------------------------------------------------------
// The real file system (under Wine in the test build), with "PROGRAMDATA"
// pointing at a fresh folder of this test.

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

class ConfigStagingOnDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
    root_ = std::wstring(temp) + L"tarnwick-staging-" + std::to_wstring(::GetCurrentProcessId());
    RemoveTree(root_);
    ASSERT_TRUE(::CreateDirectoryW(root_.c_str(), nullptr));
    wchar_t previous[32768];
    const DWORD n = ::GetEnvironmentVariableW(L"PROGRAMDATA", previous, 32768);
    if (n > 0 && n < 32768) previous_ = std::wstring(previous, n);
    ASSERT_TRUE(::SetEnvironmentVariableW(L"PROGRAMDATA", root_.c_str()));
    folder_ = root_ + L"\\Tarnwick";
    file_ = folder_ + L"\\tarnwick.conf";
  }
  void TearDown() override {
    ::SetEnvironmentVariableW(L"PROGRAMDATA", previous_ ? previous_->c_str() : nullptr);
    RemoveTree(root_);
  }

  std::wstring root_, folder_, file_;
  std::optional<std::wstring> previous_;
};

TEST_F(ConfigStagingOnDiskTest, FileHoldsExactlyTheLastTextsBytes) {
  const std::string longer = "[Interface]\r\nPrivateKey = a long key line that is replaced\n";
  const std::string shorter = "Name = caf\xc3\xa9 \xe2\x9c\x93";  // UTF-8, no byte-order mark

  EXPECT_EQ(WriteTunnelConfig(longer), file_);
  EXPECT_EQ(ReadAll(file_), longer);
  EXPECT_EQ(WriteTunnelConfig(shorter), file_) << "the folder exists now; same path again";
  EXPECT_EQ(ReadAll(file_), shorter) << "no stale tail of the longer text";
  EXPECT_EQ(WriteTunnelConfig(""), file_);
  EXPECT_EQ(ReadAll(file_), "");
  EXPECT_EQ(ListFolder(folder_), std::vector<std::wstring>{L"tarnwick.conf"})
      << "no temporary file is left behind";
}

TEST_F(ConfigStagingOnDiskTest, PlainFileNamedTarnwickBlocksTheWrite) {
  WriteAll(folder_, "not a folder");
  EXPECT_EQ(GetProgramDataDirectory(), folder_) << "the folder step sees it as existing";
  EXPECT_EQ(WriteTunnelConfig("x"), L"");
  EXPECT_EQ(ReadAll(folder_), "not a folder");
}

// Real calls, with one step made to fail part-way.
BOOL WINAPI HalfWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                          LPOVERLAPPED overlapped) {
  // Half of the text really lands in the temporary file; then the disk "fills".
  ::WriteFile(file, data, size / 2, written, overlapped);
  ::SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

TEST_F(ConfigStagingOnDiskTest, FailedWriteKeepsThePreviousConfiguration) {
  const std::string previous = "[Interface]\nPrivateKey = the working one\n";
  ASSERT_EQ(WriteTunnelConfig(previous), file_);

  ConfigStagingCalls calls;
  calls.WriteFile = HalfWriteFile;
  EXPECT_EQ(tarnwick::WriteTunnelConfig("[Interface]\nPrivateKey = a newer, longer one\n", calls),
            L"");
  EXPECT_EQ(ReadAll(file_), previous);
  EXPECT_EQ(ListFolder(folder_), std::vector<std::wstring>{L"tarnwick.conf"});
}

TEST_F(ConfigStagingOnDiskTest, ReplaceRefusedKeepsThePreviousConfiguration) {
  const std::string previous = "[Interface]\nPrivateKey = the working one\n";
  ASSERT_EQ(WriteTunnelConfig(previous), file_);

  // Another opener holds tarnwick.conf without sharing, as a reader in the
  // middle of its read would.
  HANDLE held = ::CreateFileW(file_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WriteTunnelConfig("replacement"), L"");
  ::CloseHandle(held);

  EXPECT_EQ(ReadAll(file_), previous);
  EXPECT_EQ(ListFolder(folder_), std::vector<std::wstring>{L"tarnwick.conf"});
}

}  // namespace
