// The built tarnwick.exe as the loader reads it: the header flags of a
// hardened image, and an import table that names only libraries the loader
// takes from the system's known-DLL list, so nothing in the program folder
// or the working folder loads with the process.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/paths.h"

namespace {

// The file's bytes with the few lookups the tests need; every read is
// bounds-checked, so a damaged file fails the test instead of crashing it.
class PeImage {
 public:
  explicit PeImage(std::string bytes) : bytes_(std::move(bytes)) {
    IMAGE_DOS_HEADER dos{};
    if (!Read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return;
    if (!Read(dos.e_lfanew, &nt_) || nt_.Signature != IMAGE_NT_SIGNATURE ||
        nt_.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
      return;
    }
    const size_t sections = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                            nt_.FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt_.FileHeader.NumberOfSections; ++i) {
      IMAGE_SECTION_HEADER section{};
      if (!Read(sections + i * sizeof(section), &section)) return;
      sections_.push_back(section);
    }
    valid_ = true;
  }

  bool valid() const { return valid_; }
  WORD dll_characteristics() const { return nt_.OptionalHeader.DllCharacteristics; }

  // The library names of the load-time import table, lower case; a name
  // that cannot be read is reported as "<unreadable>".
  std::vector<std::string> LoadTimeImports() const {
    std::vector<std::string> names;
    const IMAGE_DATA_DIRECTORY& directory =
        nt_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    size_t at = Offset(directory.VirtualAddress);
    for (IMAGE_IMPORT_DESCRIPTOR entry{}; at != 0 && Read(at, &entry) && entry.Name != 0;
         at += sizeof(entry)) {
      const size_t name = Offset(entry.Name);
      const size_t end = name != 0 ? bytes_.find('\0', name) : std::string::npos;
      std::string text =
          end != std::string::npos ? bytes_.substr(name, end - name) : "<unreadable>";
      for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
      names.push_back(text);
    }
    return names;
  }

 private:
  template <typename T>
  bool Read(size_t offset, T* out) const {
    if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) return false;
    std::memcpy(out, bytes_.data() + offset, sizeof(T));
    return true;
  }
  // File offset of an address in the image; 0 when no section holds it.
  size_t Offset(DWORD rva) const {
    for (const IMAGE_SECTION_HEADER& s : sections_) {
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
        return rva - s.VirtualAddress + s.PointerToRawData;
      }
    }
    return 0;
  }

  std::string bytes_;
  IMAGE_NT_HEADERS64 nt_{};
  std::vector<IMAGE_SECTION_HEADER> sections_;
  bool valid_ = false;
};

class ExecutableImage : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string bytes;
    ASSERT_TRUE(tarnwick::e2e::ReadFileBytes(tarnwick::e2e::AppExe(), &bytes));
    image_ = PeImage(std::move(bytes));
    ASSERT_TRUE(image_.valid()) << "not a 64-bit PE image";
  }
  PeImage image_{""};
};

TEST_F(ExecutableImage, HeaderAsksForAslrWithHighEntropyAndDep) {
  const struct {
    const char* name;
    WORD flag;
  } flags[] = {
      {"HIGH_ENTROPY_VA", 0x20},
      {"DYNAMIC_BASE", 0x40},
      {"NX_COMPAT", 0x100},
  };
  for (const auto& f : flags) {
    EXPECT_EQ(image_.dll_characteristics() & f.flag, f.flag) << f.name;
  }
}

// Windows maps these from its known-DLL section, never from a folder; every
// other library (the UI libraries, dwmapi, bcrypt) must be delay-loaded or
// loaded from System32 by the code itself.
TEST_F(ExecutableImage, LoadsOnlyKnownSystemLibrariesAtStartUp) {
  const std::set<std::string> known = {
      "advapi32.dll", "clbcatq.dll",  "combase.dll", "comdlg32.dll", "gdi32.dll",    "imagehlp.dll",
      "imm32.dll",    "kernel32.dll", "msctf.dll",   "msvcrt.dll",   "normaliz.dll", "nsi.dll",
      "ole32.dll",    "oleaut32.dll", "psapi.dll",   "rpcrt4.dll",   "sechost.dll",  "setupapi.dll",
      "shcore.dll",   "shell32.dll",  "shlwapi.dll", "user32.dll",   "wldap32.dll",  "ws2_32.dll"};
  const std::vector<std::string> imports = image_.LoadTimeImports();
  EXPECT_FALSE(imports.empty());
  for (const std::string& name : imports) {
    EXPECT_EQ(known.count(name), 1u) << name << " is loaded at start-up from a search path";
  }
}

}  // namespace
