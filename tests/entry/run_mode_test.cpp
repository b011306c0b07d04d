// Run-mode choice: which mode a command line selects, and with which path;
// and the one split of the process's command line that the choice reads.
#include "entry/run_mode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/command_line.h"

namespace {

using tarnwick::ChooseRunMode;
using tarnwick::CommandLineCalls;
using tarnwick::RunMode;
using tarnwick::RunModeChoice;
using tarnwick::SplitCommandLine;

using Arguments = std::vector<std::wstring>;

RunModeChoice Choose(Arguments args) {
  args.insert(args.begin(), L"C:\\app\\tarnwick.exe");
  return ChooseRunMode(args);
}

TEST(RunModeTest, ChoosesTheFirstSwitchThatApplies) {
  const struct {
    Arguments args;
    RunMode mode;
    std::wstring path;
  } cases[] = {
      {{}, RunMode::kInteractive, L""},
      {{L"--verbose", L"x"}, RunMode::kInteractive, L""},
      {{L"--flag", L"/svc-remove"}, RunMode::kRemove, L""},
      {{L"/svc-remove", L"/service", L"p"}, RunMode::kRemove, L""},
      {{L"unknown", L"/service", L"C:\\t.conf"}, RunMode::kServiceHost, L"C:\\t.conf"},
      // A value-needing switch in the last place is skipped.
      {{L"/service"}, RunMode::kInteractive, L""},
      {{L"/svc-install"}, RunMode::kInteractive, L""},
      {{L"/svc-remove", L"/svc-install"}, RunMode::kRemove, L""},
      {{L"/svc-install", L"C:\\t.conf", L"/svc-remove", L"more"}, RunMode::kInstall, L"C:\\t.conf"},
      // A value is never examined as a switch.
      {{L"/service", L"/svc-install", L"C:\\t.conf"}, RunMode::kServiceHost, L"/svc-install"},
      {{L"/svc-install", L"/svc-remove"}, RunMode::kInstall, L"/svc-remove"},
      {{L"/service", L""}, RunMode::kServiceHost, L""},
      // Case-sensitive, whole-text comparison.
      {{L"/SVC-REMOVE"}, RunMode::kInteractive, L""},
      {{L"/Service", L"p"}, RunMode::kInteractive, L""},
      {{L"/svc-remove2"}, RunMode::kInteractive, L""},
      {{L"svc-remove"}, RunMode::kInteractive, L""},
      {{L"--flag", L"/uninstall", L"/svc-remove"}, RunMode::kUninstall, L""},
      {{L"/UNINSTALL"}, RunMode::kInteractive, L""},
  };
  for (const auto& c : cases) {
    std::wstring joined;
    for (const std::wstring& a : c.args) joined.append(L"[").append(a).append(L"]");
    SCOPED_TRACE(std::string(joined.begin(), joined.end()));
    const RunModeChoice choice = Choose(c.args);
    EXPECT_EQ(choice.mode, c.mode);
    EXPECT_EQ(choice.config_path, c.path);
  }
}

TEST(RunModeTest, NeverLooksAtTheProgramPath) {
  EXPECT_EQ(ChooseRunMode({L"/svc-remove"}).mode, RunMode::kInteractive);
  EXPECT_EQ(ChooseRunMode({L"/service", L"x"}).mode, RunMode::kInteractive);
}

// The split through the system's rules, with the command line and the
// outcome of the split scripted.
class CommandLineTest : public ::testing::Test {
 protected:
  CommandLineCalls Calls() {
    CommandLineCalls c;
    c.GetCommandLineW = [this] { return const_cast<LPWSTR>(command_line_); };
    c.CommandLineToArgvW = [this](LPCWSTR line, int* count) -> LPWSTR* {
      EXPECT_EQ(line, command_line_) << "splits the process's own command line";
      if (split_fails_) return nullptr;
      LPWSTR* split = ::CommandLineToArgvW(line, count);
      split_ = LargeCopy(split, *count);
      return split_;
    };
    return c;
  }

  // The system's array moved into a block so large that the heap maps it on
  // its own and releases the mapping when it is freed: the small allocations
  // of other threads cannot take the freed address before the check reads it.
  static LPWSTR* LargeCopy(LPWSTR* split, int count) {
    if (split == nullptr) return nullptr;
    constexpr size_t kLargeBlock = size_t{4} << 20;
    auto* copy = static_cast<LPWSTR*>(::LocalAlloc(LMEM_FIXED, kLargeBlock));
    if (copy == nullptr) {
      ::LocalFree(split);
      return nullptr;
    }
    auto* text = reinterpret_cast<wchar_t*>(copy + count + 1);
    for (int i = 0; i < count; ++i) {
      copy[i] = text;
      text = std::copy(split[i], split[i] + std::wcslen(split[i]) + 1, text);
    }
    copy[count] = nullptr;
    ::LocalFree(split);
    return copy;
  }

  // The system's array lives on the process heap until it is freed.
  bool SplitStillAllocated() const {
    return ::HeapValidate(::GetProcessHeap(), 0, split_) != FALSE;
  }

  const wchar_t* command_line_ = L"tarnwick.exe";
  bool split_fails_ = false;
  LPWSTR* split_ = nullptr;
};

TEST_F(CommandLineTest, SplitsOnceAndFreesTheSystemsArray) {
  const struct {
    const wchar_t* line;
    Arguments arguments;
  } cases[] = {
      {L"\"C:\\a b\\tarnwick.exe\" /service \"C:\\Program Data\\t.conf\"",
       {L"C:\\a b\\tarnwick.exe", L"/service", L"C:\\Program Data\\t.conf"}},
      {L"tarnwick.exe /service \"\"", {L"tarnwick.exe", L"/service", L""}},
      {L"tarnwick.exe /svc-install C:\\t.conf", {L"tarnwick.exe", L"/svc-install", L"C:\\t.conf"}},
      {L"tarnwick.exe", {L"tarnwick.exe"}},
  };
  for (const auto& c : cases) {
    const std::wstring line = c.line;
    SCOPED_TRACE(std::string(line.begin(), line.end()));
    command_line_ = c.line;
    split_ = nullptr;
    const Arguments arguments = SplitCommandLine(Calls());
    // Read at once, before anything else can take the freed block.
    const bool still_allocated = split_ != nullptr && SplitStillAllocated();
    EXPECT_EQ(arguments, c.arguments);
    ASSERT_NE(split_, nullptr);
    EXPECT_FALSE(still_allocated) << "the array is freed before the split returns";
  }
}

TEST_F(CommandLineTest, FailedSplitGivesNoArgumentsAndTheInteractiveMode) {
  command_line_ = L"tarnwick.exe /svc-remove";
  split_fails_ = true;
  const Arguments arguments = SplitCommandLine(Calls());
  EXPECT_TRUE(arguments.empty());
  EXPECT_EQ(ChooseRunMode(arguments).mode, RunMode::kInteractive);
}

}  // namespace
