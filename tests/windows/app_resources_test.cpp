// The resources linked into tarnwick.exe, read back from the built file: the
// icon group the window class uses, the manifest the loader reads, and the
// version resource.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "resources/resource.h"

namespace {

// tarnwick.exe of the app folder, beside this program's tests folder.
std::wstring AppExecutable() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  folder.resize(folder.find_last_of(L"\\/"));  // ...\tests
  folder.resize(folder.find_last_of(L"\\/"));  // the build folder
  return folder + L"\\app\\tarnwick.exe";
}

class AppResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(AppExecutable().c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "cannot open tarnwick.exe, error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  // The bytes of a resource, empty when it is missing.
  std::string Resource(LPCWSTR type, LPCWSTR name) const {
    HRSRC found = FindResourceW(module_, name, type);
    if (found == nullptr) return std::string();
    HGLOBAL loaded = LoadResource(module_, found);
    const char* data = static_cast<const char*>(LockResource(loaded));
    return data ? std::string(data, SizeofResource(module_, found)) : std::string();
  }

  HMODULE module_ = nullptr;
};

#pragma pack(push, 2)
struct IconDirectory {
  WORD reserved;
  WORD type;
  WORD count;
};
struct IconDirectoryEntry {
  BYTE width;
  BYTE height;
  BYTE color_count;
  BYTE reserved;
  WORD planes;
  WORD bit_count;
  DWORD bytes_in_resource;
  WORD id;
};
#pragma pack(pop)
static_assert(sizeof(IconDirectoryEntry) == 14, "group icon entries are 14 bytes");

TEST_F(AppResources, IconGroupHoldsFourSizes) {
  const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP_ICON));
  ASSERT_GE(group.size(), sizeof(IconDirectory));
  IconDirectory directory;
  memcpy(&directory, group.data(), sizeof(directory));
  EXPECT_EQ(directory.type, 1);
  ASSERT_EQ(directory.count, 4);
  ASSERT_EQ(group.size(), sizeof(IconDirectory) + 4 * sizeof(IconDirectoryEntry));

  std::set<int> sizes;
  for (int i = 0; i < directory.count; ++i) {
    IconDirectoryEntry entry;
    memcpy(&entry, group.data() + sizeof(IconDirectory) + i * sizeof(entry), sizeof(entry));
    // 0 stands for 256 in a group entry.
    const int width = entry.width == 0 ? 256 : entry.width;
    const int height = entry.height == 0 ? 256 : entry.height;
    EXPECT_EQ(width, height);
    EXPECT_EQ(entry.bit_count, 32);
    sizes.insert(width);
    // Each image is there, as big as the group says.
    EXPECT_EQ(Resource(RT_ICON, MAKEINTRESOURCEW(entry.id)).size(), entry.bytes_in_resource);
  }
  EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 256}));
  EXPECT_NE(LoadIconW(module_, MAKEINTRESOURCEW(IDI_APP_ICON)), nullptr);
}

TEST_F(AppResources, ManifestAsksForTheUsersRightsAndPerMonitorDpi) {
  const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find(">PerMonitorV2</dpiAwareness>"), std::string::npos);
  EXPECT_NE(manifest.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"),
            std::string::npos);
  // One manifest only: a second one would be a build mistake.
  EXPECT_TRUE(Resource(RT_MANIFEST, MAKEINTRESOURCEW(2)).empty());
}

// The root project()'s version, as CMake hands it to this test: the
// resource must carry it, not numbers of its own.
TEST_F(AppResources, VersionResourceCarriesTheProjectVersion) {
  const std::string version = Resource(RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO));
  ASSERT_FALSE(version.empty());
  // VerQueryValueW needs a writable copy.
  std::string copy = version;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  // Three or four dotted numbers; a missing fourth is 0.
  unsigned numbers[4] = {0, 0, 0, 0};
  std::istringstream parts(TARNWICK_PROJECT_VERSION);
  size_t count = 0;
  for (std::string part; count < 4 && std::getline(parts, part, '.'); ++count) {
    numbers[count] = static_cast<unsigned>(std::stoul(part));
  }
  ASSERT_GE(count, 3u) << TARNWICK_PROJECT_VERSION;
  const DWORD high = (numbers[0] << 16) | numbers[1];
  const DWORD low = (numbers[2] << 16) | numbers[3];
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);

  const std::wstring dotted = std::to_wstring(numbers[0]) + L"." + std::to_wstring(numbers[1]) +
                              L"." + std::to_wstring(numbers[2]) + L"." +
                              std::to_wstring(numbers[3]);
  for (const wchar_t* name : {L"FileVersion", L"ProductVersion"}) {
    wchar_t* text = nullptr;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    ASSERT_TRUE(
        VerQueryValueW(copy.data(), query.c_str(), reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(std::wstring(text), dotted) << std::string(name, name + wcslen(name));
  }
  wchar_t* text = nullptr;
  ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\StringFileInfo\\040904b0\\OriginalFilename",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(text, L"tarnwick.exe");
}

// Event Viewer prints a privileged copy's event through the executable's
// message table: entry 1 is the line itself.
TEST_F(AppResources, MessageTablePrintsTheLineOfAnEvent) {
  const wchar_t* line = L"InstallAndStartTunnel: OpenSCManagerW failed: 5 (Access is denied.)";
  const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(line)};
  wchar_t text[256] = {};
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module_, 1,
                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 256,
                     reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
  ASSERT_NE(length, 0u) << "no message 1, error " << GetLastError();
  std::wstring printed(text, length);
  while (!printed.empty() && (printed.back() == L'\n' || printed.back() == L'\r'))
    printed.pop_back();
  EXPECT_EQ(printed, line);
}

}  // namespace
