// The interactive application as a real process under Wine: tarnwick.exe of
// the app folder with the stand-in UI driven by a script, asserting on the
// stand-in's transcript (every call into the embedding and every reply, byte
// for byte), the plug-ins' log, the window as another process sees it, the
// service manager, and exit codes.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "standins/plugins/plugin_record.h"
#include "tests/support/debug_output.h"
#include "tests/support/paths.h"
#include "tests/support/process.h"
#include "tests/support/program_data.h"
#include "tests/support/tunnel_service.h"
#include "tools/dbwin_capture.h"

namespace tarnwick::e2e {
namespace {

constexpr DWORD kAppBoundMs = 60000;
constexpr DWORD kServiceBoundMs = 15000;
constexpr char kChannel[] = "com.tarnwick.vpn/tunnel";

// The UI's configuration for startTunnel, in the script's value notation and
// as the bytes the file must then hold.
constexpr char kConfigText[] =
    "[Interface]\n"
    "PrivateKey = WbhCeLYJJ2r2Zl/e7pgE2XlZLE4a4ngL7mieU2joNQA=\n"
    "Address = 10.8.0.2/32\n"
    "\n"
    "[Peer]\n"
    "PublicKey = qwPoRz0HFWcV+M3WEV61eLlr/hgqe66/VIsTpTn9aeM=\n"
    "AllowedIPs = 0.0.0.0/0\n"
    "Endpoint = 192.0.2.1:51820\n";

// The text as a string value of the script notation.
std::string ScriptString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines,
                                           const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (StartsWith(line, prefix)) found.push_back(line);
  }
  return found;
}

// Index of the first line starting with prefix, or npos.
size_t IndexOf(const std::vector<std::string>& lines, const std::string& prefix) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (StartsWith(lines[i], prefix)) return i;
  }
  return std::string::npos;
}

struct AppRun {
  ProcessRun process;
  std::vector<std::string> transcript;
  std::vector<std::string> plugin_log;
  std::string output;  // standard output and error
};

class InteractiveAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    ASSERT_TRUE(FileExists(AppExe())) << Narrow(AppExe());
  }

  // Runs tarnwick.exe with the script and the extra arguments to its end.
  AppRun Run(const std::string& script, const std::vector<std::wstring>& extra_arguments = {},
             std::vector<std::pair<std::wstring, std::wstring>> environment = {},
             const std::wstring& exe = AppExe()) {
    const std::wstring script_path = temp_.Join(L"script.txt");
    const std::wstring transcript_path = temp_.Join(L"transcript.txt");
    const std::wstring output_path = temp_.Join(L"output.txt");
    EXPECT_TRUE(WriteFileBytes(script_path, script));
    std::vector<std::wstring> arguments = {L"--standin-script=" + script_path,
                                           L"--standin-transcript=" + transcript_path};
    arguments.insert(arguments.end(), extra_arguments.begin(), extra_arguments.end());
    ProcessOptions options;
    options.working_dir = temp_.path();
    options.environment = std::move(environment);
    options.output_file = output_path;
    AppRun run;
    run.process = RunProcess(exe, arguments, options, kAppBoundMs);
    EXPECT_TRUE(run.process.started) << "start error " << run.process.start_error;
    EXPECT_TRUE(run.process.exited) << "still running after " << kAppBoundMs << " ms";
    std::string text;
    if (ReadFileBytes(transcript_path, &text)) run.transcript = SplitLines(text);
    if (ReadFileBytes(transcript_path + kPluginLogSuffix, &text)) run.plugin_log = SplitLines(text);
    if (!ReadFileBytes(output_path, &run.output)) run.output = "(no output file)";
    return run;
  }

  // The script ran every step without a fault and the process ended with 0.
  static void ExpectCleanRun(const AppRun& run) {
    EXPECT_EQ(run.process.exit_code, 0u) << run.output;
    EXPECT_NE(IndexOf(run.transcript, "SCRIPT END"), std::string::npos);
    EXPECT_NE(IndexOf(run.transcript, "RESULT PASS"), std::string::npos);
    for (const std::string& line : LinesStartingWith(run.transcript, "FAIL")) {
      ADD_FAILURE() << line;
    }
  }

  TempDir temp_;
};

TEST_F(InteractiveAppTest, WindowAppearsAfterTheFirstFrameScaledToTheMonitor) {
  struct Case {
    const wchar_t* dpi;  // null: the monitor's own (96 under Xvfb)
    const char* geometry;
    int view_width, view_height;  // at least this; the frame takes its share
  };
  const Case cases[] = {
      {nullptr, "geometry 10 10 1280 720", 1200, 600},
      {L"144", "geometry 15 15 1920 1080", 1800, 950},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.geometry);
    const std::string script =
        std::string("wait frame\nwait visible\n") + c.geometry + "\nview-fills-client\nclose\n";
    std::vector<std::pair<std::wstring, std::wstring>> environment;
    environment.emplace_back(L"TARNWICK_STANDIN_DPI", c.dpi ? c.dpi : L"");
    const AppRun run = Run(script, {}, environment);
    ExpectCleanRun(run);

    // The view is made at the size of the client area, which is the created
    // size less the frame.
    const std::vector<std::string> creates =
        LinesStartingWith(run.transcript, "CALL FlutterDesktopViewControllerCreate");
    ASSERT_EQ(creates.size(), 1u);
    // "CALL FlutterDesktopViewControllerCreate width=<w> height=<h> ..."
    std::istringstream fields(creates[0]);
    std::string call, function, width_field, height_field;
    fields >> call >> function >> width_field >> height_field;
    ASSERT_EQ(width_field.rfind("width=", 0), 0u) << creates[0];
    ASSERT_EQ(height_field.rfind("height=", 0), 0u) << creates[0];
    const int width = std::stoi(width_field.substr(6));
    const int height = std::stoi(height_field.substr(7));
    EXPECT_GE(width, c.view_width);
    EXPECT_GE(height, c.view_height);

    // The frame callback is armed before the redraw that guarantees a frame,
    // and the window is shown from that callback, not before.
    const size_t armed = IndexOf(run.transcript, "CALL FlutterDesktopEngineSetNextFrameCallback");
    const size_t redraw = IndexOf(run.transcript, "CALL FlutterDesktopViewControllerForceRedraw");
    ASSERT_NE(armed, std::string::npos);
    ASSERT_NE(redraw, std::string::npos);
    EXPECT_LT(armed, redraw);
    EXPECT_EQ(LinesStartingWith(run.transcript, "CALLBACK next-frame").size(), 1u);
  }
}

// Another process resizes the window; the view follows.
TEST_F(InteractiveAppTest, ViewFollowsAResizeOfTheWindow) {
  const std::string script =
      "wait visible\n"
      "timeout 20000\n"
      "sleep 3000\n"
      "view-fills-client\n"
      "client-size 700 500\n"
      "close\n";
  ChildProcess app;
  const std::wstring transcript_path = temp_.Join(L"transcript.txt");
  ASSERT_TRUE(WriteFileBytes(temp_.Join(L"script.txt"), script));
  ProcessOptions options;
  options.working_dir = temp_.path();
  ASSERT_TRUE(app.Start(AppExe(),
                        {L"--standin-script=" + temp_.Join(L"script.txt"),
                         L"--standin-transcript=" + transcript_path},
                        options));

  HWND window = nullptr;
  for (int i = 0; i < 200 && window == nullptr; ++i) {
    HWND found = FindWindowW(L"FLUTTER_RUNNER_WIN32_WINDOW", L"tarnwick");
    DWORD pid = 0;
    if (found != nullptr) GetWindowThreadProcessId(found, &pid);
    if (found != nullptr && pid == app.pid() && IsWindowVisible(found)) window = found;
    if (window == nullptr) Sleep(50);
  }
  ASSERT_NE(window, nullptr) << "the window never became visible";
  // Size the window so that its client area is 700 x 500.
  RECT outer{}, client{};
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  const int frame_width = (outer.right - outer.left) - client.right;
  const int frame_height = (outer.bottom - outer.top) - client.bottom;
  ASSERT_TRUE(SetWindowPos(window, nullptr, 0, 0, 700 + frame_width, 500 + frame_height,
                           SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));

  const std::optional<DWORD> exit_code = app.Wait(kAppBoundMs);
  ASSERT_TRUE(exit_code.has_value());
  EXPECT_EQ(*exit_code, 0u);
  std::string text;
  ASSERT_TRUE(ReadFileBytes(transcript_path, &text));
  const std::vector<std::string> transcript = SplitLines(text);
  EXPECT_NE(IndexOf(transcript, "RESULT PASS"), std::string::npos) << text;
  EXPECT_EQ(IndexOf(transcript, "FAIL"), std::string::npos) << text;
}

TEST_F(InteractiveAppTest, SevenPluginsGetTheirRegistrarsInOrderOnce) {
  const AppRun run = Run("wait frame\nclose\n");
  ExpectCleanRun(run);

  const std::vector<std::string> names = {"AppLinksPluginCApi",
                                          "ConnectivityPlusWindowsPlugin",
                                          "FlutterSecureStorageWindowsPlugin",
                                          "ScreenRetrieverPlugin",
                                          "SystemTrayPlugin",
                                          "UrlLauncherWindows",
                                          "WindowManagerPlugin"};
  const std::vector<std::string> requests =
      LinesStartingWith(run.transcript, "CALL FlutterDesktopEngineGetPluginRegistrar");
  ASSERT_EQ(requests.size(), names.size());
  ASSERT_EQ(run.plugin_log.size(), names.size());
  std::vector<std::string> registrars;
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(requests[i], "CALL FlutterDesktopEngineGetPluginRegistrar engine=E1 name=\"" +
                               names[i] + "\" -> R" + std::to_string(i + 1));
    const std::string prefix =
        "PLUGIN " + names[i] + "RegisterWithRegistrar name=\"" + names[i] + "\" registrar=0x";
    ASSERT_TRUE(StartsWith(run.plugin_log[i], prefix)) << run.plugin_log[i];
    EXPECT_NE(run.plugin_log[i].find(" call=1"), std::string::npos) << run.plugin_log[i];
    const std::string registrar = run.plugin_log[i].substr(prefix.size(), 16);
    EXPECT_NE(registrar, std::string(16, '0'));
    registrars.push_back(registrar);
  }
  // Seven distinct registrars: each plug-in got the one asked for its name.
  std::sort(registrars.begin(), registrars.end());
  EXPECT_EQ(std::unique(registrars.begin(), registrars.end()), registrars.end());

  // All of it before the tunnel channel opens and the view is adopted.
  const size_t last_request = IndexOf(run.transcript, requests.back());
  const size_t channel = IndexOf(run.transcript, "CALL FlutterDesktopMessengerSetCallback");
  ASSERT_NE(channel, std::string::npos);
  EXPECT_LT(last_request, channel);
}

TEST_F(InteractiveAppTest, TunnelChannelAnswersByteForByte) {
  const std::string script = std::string("wait frame\n") +
                             // getStats: the map of two 64-bit -1 values, "rx_bytes" first.
                             "call " + kChannel +
                             " getStats\n"
                             "expect hex 00 0d 02 07 08 72785f6279746573 04 ffffffffffffffff"
                             " 07 08 74785f6279746573 04 ffffffffffffffff\n"
                             // getStatus with no service: success false.
                             "call " +
                             kChannel +
                             " getStatus\n"
                             "expect hex 00 02\n"
                             "call " +
                             kChannel +
                             " nosuchMethod\n"
                             "expect empty\n"
                             "call " +
                             kChannel +
                             " getstatus\n"
                             "expect empty\n"
                             // Not a method call at all: the name is a number.
                             "send " +
                             kChannel +
                             " 03 01 00 00 00\n"
                             "expect empty\n"
                             "call " +
                             kChannel +
                             " startTunnel [1, 2]\n"
                             "expect error \"INVALID_ARGS\" \"Config is required\"\n"
                             // Nobody listens on another name.
                             "call com.tarnwick.vpn/other getStats\n"
                             "expect empty\n"
                             "close\n";
  ASSERT_TRUE(RemoveTunnelService());
  const AppRun run = Run(script);
  ExpectCleanRun(run);
  EXPECT_NE(run.output.find("Unable to construct method call from message on channel " +
                            std::string(kChannel)),
            std::string::npos)
      << run.output;

  const std::vector<std::string> callbacks =
      LinesStartingWith(run.transcript, "CALL FlutterDesktopMessengerSetCallback");
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_NE(callbacks[0].find("channel=\"" + std::string(kChannel) + "\" callback=set"),
            std::string::npos)
      << callbacks[0];
  // The message on the other name is answered by the library, not the host.
  const std::vector<std::string> unhandled = LinesStartingWith(run.transcript, "NOHANDLER");
  ASSERT_EQ(unhandled.size(), 1u);
  EXPECT_NE(unhandled[0].find("com.tarnwick.vpn/other"), std::string::npos);
  const std::string handle = unhandled[0].substr(10, unhandled[0].find(' ', 10) - 10);
  for (const std::string& line :
       LinesStartingWith(run.transcript, "CALL FlutterDesktopMessengerSendResponse")) {
    EXPECT_EQ(line.find("handle=" + handle + " "), std::string::npos) << line;
  }
}

TEST_F(InteractiveAppTest, StartAndStopTunnelRunTheRealService) {
  // The elevated copy takes only the ProgramData known folder's file, and
  // the staging writes only there.
  const ProgramDataConfig config;
  ASSERT_TRUE(config.ready());
  ASSERT_TRUE(RemoveTunnelService());
  TunnelServiceCleanup cleanup;  // after config: the service goes before its file
  DebugOutputCapture capture;
  DWORD error = 0;
  ASSERT_TRUE(capture.Start(&error, kDebugOutputClaimMs))
      << "debugger output not capturable, error " << error;
  const std::string script = std::string("wait frame\n") +
                             "timeout 60000\n"
                             "call " +
                             kChannel + " startTunnel {\"config\": " + ScriptString(kConfigText) +
                             "}\n"
                             "expect hex 00 01\n"
                             "call " +
                             kChannel +
                             " getStatus\n"
                             "expect success true\n"
                             "call " +
                             kChannel +
                             " stopTunnel\n"
                             "expect success true\n"
                             "call " +
                             kChannel +
                             " getStatus\n"
                             "expect success false\n"
                             "close\n";
  // The user's environment names another ProgramData: the configuration
  // still goes where the privileged copies look for it, and nothing there.
  const TempDir elsewhere;
  const AppRun run = Run(script, {}, {{L"PROGRAMDATA", elsewhere.path()}});
  ExpectCleanRun(run);
  EXPECT_EQ(::GetFileAttributesW(JoinPath(elsewhere.path(), L"Tarnwick").c_str()),
            INVALID_FILE_ATTRIBUTES);

  // The file holds exactly the UI's bytes, and the service read it.
  const std::wstring& config_path = config.path();
  std::string written;
  ASSERT_TRUE(ReadFileBytes(config_path, &written));
  EXPECT_EQ(written, kConfigText);
  EXPECT_TRUE(capture.WaitForText(
      "[tunnel-standin] read configuration \"" + Narrow(config_path) + "\": 1 peer",
      kServiceBoundMs));
  EXPECT_TRUE(capture.WaitForText("[tunnel-standin] stopped", kServiceBoundMs));
  // Nothing went wrong in any of the three processes, except what Wine's
  // service manager cannot do.
  LetDebugOutputSettle(capture);
  for (const std::string& line : LinesContaining(capture, "[Tarnwick]")) {
    EXPECT_TRUE(IsSidTypeLine(line)) << line;
  }
  EXPECT_FALSE(QueryTunnelService().exists);
}

TEST_F(InteractiveAppTest, MissingUiProgramEndsWithExitCodeOne) {
  const std::wstring app = temp_.MakeDir(L"app");
  ASSERT_TRUE(CopyAppFolder(app, {}));
  ASSERT_FALSE(FileExists(JoinPath(app, L"data\\icudtl.dat")));
  const AppRun run = Run("wait frame\nclose\n", {}, {}, JoinPath(app, L"tarnwick.exe"));
  EXPECT_EQ(run.process.exit_code, 1u);
  // Standard error is in text mode, so the line ends with CR LF on Windows.
  EXPECT_EQ(SplitLines(run.output), std::vector<std::string>{"Failed to create view controller.\r"})
      << run.output;
  // No plug-in and no channel were registered for a view that never came.
  EXPECT_TRUE(
      LinesStartingWith(run.transcript, "CALL FlutterDesktopEngineGetPluginRegistrar").empty());
  EXPECT_TRUE(run.plugin_log.empty());
}

TEST_F(InteractiveAppTest, EmbeddingSeesWindowMessagesFirst) {
  const std::string script =
      "wait visible\n"
      // Not claimed: fonts are reloaded once, then the window handles it.
      "sendmsg WM_FONTCHANGE 0 0 0\n"
      "note fonts-unclaimed\n"
      // Claimed: the embedding's answer comes back unchanged and neither the
      // font handling nor the window's own handling runs.
      "claim WM_FONTCHANGE 77\n"
      "sendmsg WM_FONTCHANGE 0 0 77\n"
      "claim WM_APP+7 -123456\n"
      "sendmsg WM_APP+7 1 2 -123456\n"
      "claim WM_CLOSE 5\n"
      "sendmsg WM_CLOSE 0 0 5\n"
      "note still-open\n"
      "unclaim WM_CLOSE\n"
      "close\n";
  const AppRun run = Run(script);
  ExpectCleanRun(run);
  EXPECT_EQ(LinesStartingWith(run.transcript, "CALL FlutterDesktopEngineReloadSystemFonts").size(),
            1u);
  const size_t reload = IndexOf(run.transcript, "CALL FlutterDesktopEngineReloadSystemFonts");
  EXPECT_LT(reload, IndexOf(run.transcript, "NOTE fonts-unclaimed"));
  // A claimed WM_CLOSE did not close the window.
  EXPECT_NE(IndexOf(run.transcript, "NOTE still-open"), std::string::npos);
}

TEST_F(InteractiveAppTest, ArgumentsReachTheUiAsUtf8) {
  // An empty argument, non-ASCII text, an unpaired surrogate, and a
  // "/service" with no value, which leaves the process interactive.
  const AppRun run =
      Run("wait frame\nclose\n", {L"", L"caf\u00e9 \u20ac", L"bad\xd800", L"word", L"/service"});
  ExpectCleanRun(run);
  const std::vector<std::string> arguments = LinesStartingWith(run.transcript, "ARG E1 ");
  ASSERT_EQ(arguments.size(), 7u);
  EXPECT_TRUE(StartsWith(arguments[0], "ARG E1 0 \"--standin-script="));
  EXPECT_TRUE(StartsWith(arguments[1], "ARG E1 1 \"--standin-transcript="));
  EXPECT_EQ(arguments[2], "ARG E1 2 \"\"");
  EXPECT_EQ(arguments[3], "ARG E1 3 \"caf\\xc3\\xa9 \\xe2\\x82\\xac\"");
  EXPECT_EQ(arguments[4], "ARG E1 4 \"\"");
  EXPECT_EQ(arguments[5], "ARG E1 5 \"word\"");
  EXPECT_EQ(arguments[6], "ARG E1 6 \"/service\"");
  EXPECT_NE(IndexOf(run.transcript, "ARGS E1 argc=7 argv=set option_a=0 option_b=0"),
            std::string::npos);
}

}  // namespace
}  // namespace tarnwick::e2e
