#include "windows/plugin_registration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "standins/plugins/plugin_record.h"

namespace tarnwick {
namespace {

// Hands out registrars the test chooses and remembers what it was asked.
class FakeRegistry : public flutter::PluginRegistry {
 public:
  explicit FakeRegistry(std::vector<uintptr_t> registrars) : registrars_(std::move(registrars)) {}

  FlutterDesktopPluginRegistrarRef GetRegistrarForPlugin(const std::string& plugin_name) override {
    requested.push_back(plugin_name);
    const uintptr_t value = registrars_.at(requested.size() - 1);
    return reinterpret_cast<FlutterDesktopPluginRegistrarRef>(value);
  }

  std::vector<std::string> requested;

 private:
  std::vector<uintptr_t> registrars_;
};

struct PluginRow {
  const char* registrar_name;
  const char* export_name;
};
const PluginRow kPlugins[] = {
    {"AppLinksPluginCApi", "AppLinksPluginCApiRegisterWithRegistrar"},
    {"ConnectivityPlusWindowsPlugin", "ConnectivityPlusWindowsPluginRegisterWithRegistrar"},
    {"FlutterSecureStorageWindowsPlugin", "FlutterSecureStorageWindowsPluginRegisterWithRegistrar"},
    {"ScreenRetrieverPlugin", "ScreenRetrieverPluginRegisterWithRegistrar"},
    {"SystemTrayPlugin", "SystemTrayPluginRegisterWithRegistrar"},
    {"UrlLauncherWindows", "UrlLauncherWindowsRegisterWithRegistrar"},
    {"WindowManagerPlugin", "WindowManagerPluginRegisterWithRegistrar"},
};

std::string Record(const PluginRow& row, uintptr_t registrar, long call) {
  char line[256];
  const int n = FormatPluginRecord(line, sizeof(line), row.export_name, row.registrar_name,
                                   reinterpret_cast<const void*>(registrar), call);
  return std::string(line, static_cast<size_t>(n > 0 ? n : 0));
}

class RegisterPluginsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    transcript_ = std::wstring(folder) + L"tarnwick-plugins-" +
                  std::to_wstring(GetCurrentProcessId()) + L".txt";
    log_ = transcript_ + kPluginLogSuffix;
    DeleteFileW(log_.c_str());
    ASSERT_TRUE(SetEnvironmentVariableW(kTranscriptVariable, transcript_.c_str()));
  }
  void TearDown() override {
    SetEnvironmentVariableW(kTranscriptVariable, nullptr);
    DeleteFileW(log_.c_str());
  }

  std::string ReadLog() const {
    std::ifstream in(log_.c_str(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::wstring transcript_;
  std::wstring log_;
};

// Each plug-in gets exactly the registrar asked for under its own name, in
// the table's order, and each export runs once; a null registrar (no engine)
// is handed on, not skipped.
TEST_F(RegisterPluginsTest, HandsEachRegistrarToItsPluginInOrder) {
  const std::vector<uintptr_t> registrars = {0x1001, 0x2002, 0, 0x4004, 0x5005, 0x6006, 0x7007};
  FakeRegistry registry(registrars);
  RegisterPlugins(&registry);

  std::vector<std::string> expected_names;
  std::string expected_log;
  for (size_t i = 0; i < registrars.size(); ++i) {
    expected_names.push_back(kPlugins[i].registrar_name);
    expected_log += Record(kPlugins[i], registrars[i], 1);
  }
  EXPECT_EQ(registry.requested, expected_names);
  EXPECT_EQ(ReadLog(), expected_log);
}

}  // namespace
}  // namespace tarnwick
