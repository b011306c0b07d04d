// A small host of our own drives the stand-in flutter_windows.dll through
// its flat interface only (as the product does, but without the product's
// embedding layer), runs scripts end to end and reads the transcript.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "embedding/flutter_windows_api.h"
#include "standins/embedding/ui_value.h"
#include "tests/support/paths.h"

namespace {

using tarnwick::e2e::Narrow;
using tarnwick::standin::DecodeValue;
using tarnwick::standin::EncodeSuccessEnvelope;
using tarnwick::standin::UiValue;
using tarnwick::standin::WireType;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr char kTunnel[] = "com.tarnwick.vpn/tunnel";

std::wstring TempPath(const std::wstring& stem) {
  static int counter = 0;
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + L"standin_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
         std::to_wstring(++counter) + L"_" + stem;
}

void WriteText(const std::wstring& path, const std::string& text) {
  std::ofstream(Narrow(path), std::ios::binary) << text;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::ifstream in(Narrow(path), std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines,
                                           const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

// Waits for `done` while dispatching this thread's messages.
bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(5);
  }
  return true;
}

// The properties record as the host builds it; `arguments` may be empty.
struct Properties {
  explicit Properties(std::vector<std::string> args, std::wstring folder = L"data")
      : assets(folder + L"\\flutter_assets"),
        icu(folder + L"\\icudtl.dat"),
        aot(folder + L"\\app.so"),
        arguments(std::move(args)) {
    // Zeroed whole, as the host does: the transcript shows the padding too.
    std::memset(&record, 0, sizeof record);
    for (const std::string& a : arguments) pointers.push_back(a.c_str());
    record.assets_path = assets.c_str();
    record.icu_data_path = icu.c_str();
    record.aot_library_path = aot.c_str();
    record.entrypoint = "";
    record.entrypoint_argc = static_cast<int32_t>(pointers.size());
    record.entrypoint_argv = pointers.empty() ? nullptr : pointers.data();
  }
  std::wstring assets, icu, aot;
  std::vector<std::string> arguments;
  std::vector<const char*> pointers;
  FlutterDesktopEngineProperties record;
};

// How the test host answers the tunnel channel's methods.
enum class Answering { kNormally, kTwice, kOutsideLock, kNever };

// A top-level window hosting one view controller, answering "ping" with
// "pong", "later" from another thread, and anything else with an empty
// reply.
class TestHost {
 public:
  TestHost(const std::vector<std::string>& arguments, Answering answering = Answering::kNormally)
      : properties_(arguments), answering_(answering) {}

  ~TestHost() {
    for (std::thread& t : threads_) t.join();
    if (window_ != nullptr) DestroyWindow(window_);
  }

  void Run() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &TestHost::WindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"StandinTestHost";
    RegisterClassW(&window_class);  // fails harmlessly when already registered
    window_ = CreateWindowExW(0, L"StandinTestHost", L"test host", WS_OVERLAPPEDWINDOW, 40, 50, 500,
                              400, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    ASSERT_NE(window_, nullptr);
    engine_ = FlutterDesktopEngineCreate(&properties_.record);
    ASSERT_NE(engine_, nullptr);
    messenger_ = FlutterDesktopEngineGetMessenger(engine_);
    RECT client;
    GetClientRect(window_, &client);
    controller_ = FlutterDesktopViewControllerCreate(client.right, client.bottom, engine_);
    ASSERT_NE(controller_, nullptr);
    FlutterDesktopMessengerSetCallback(messenger_, kTunnel, &TestHost::OnMessage, this);
    HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller_));
    SetParent(view, window_);
    MoveWindow(view, 0, 0, client.right, client.bottom, TRUE);
    FlutterDesktopEngineSetNextFrameCallback(
        engine_,
        [](void* self) { ShowWindow(static_cast<TestHost*>(self)->window_, SW_SHOWNORMAL); }, this);
    FlutterDesktopViewControllerForceRedraw(controller_);
    // The script closes the window; a stuck one ends the loop here instead.
    const UINT_PTR guard =
        SetTimer(nullptr, 0, 60000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(2); });
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    KillTimer(nullptr, guard);
    EXPECT_EQ(message.wParam, 0u) << "the script did not close the window";
  }

 private:
  static void Answer(FlutterDesktopMessengerRef messenger,
                     const FlutterDesktopMessageResponseHandle* handle,
                     const std::vector<uint8_t>& bytes, bool locked = true) {
    FlutterDesktopMessengerRef token = locked ? FlutterDesktopMessengerLock(messenger) : nullptr;
    if (FlutterDesktopMessengerIsAvailable(messenger)) {
      FlutterDesktopMessengerSendResponse(messenger, handle, bytes.data(), bytes.size());
    }
    if (token != nullptr) FlutterDesktopMessengerUnlock(token);
  }

  static void OnMessage(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                        void* user_data) {
    auto* self = static_cast<TestHost*>(user_data);
    size_t offset = 0;
    UiValue name;
    const bool decoded = DecodeValue(message->message, message->message_size, &offset, &name);
    const std::string method = decoded && name.type == WireType::kString ? name.text : "";
    const auto* handle = message->response_handle;
    std::vector<uint8_t> reply;
    if (method == "ping") reply = EncodeSuccessEnvelope(UiValue::String("pong"));
    switch (self->answering_) {
      case Answering::kNever: return;
      case Answering::kOutsideLock: Answer(messenger, handle, reply, false); return;
      case Answering::kTwice:
        Answer(messenger, handle, reply);
        Answer(messenger, handle, reply);
        return;
      case Answering::kNormally: break;
    }
    if (method != "later") {
      Answer(messenger, handle, reply);
      return;
    }
    // Kept and answered later from another thread, holding a reference.
    FlutterDesktopMessengerRef held = FlutterDesktopMessengerAddRef(messenger);
    self->threads_.emplace_back([held, handle] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      Answer(held, handle, EncodeSuccessEnvelope(UiValue::Bool(true)));
      FlutterDesktopMessengerRelease(held);
    });
  }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam) noexcept {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TestHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && self->controller_ != nullptr) {
      LRESULT result = 0;
      if (FlutterDesktopViewControllerHandleTopLevelWindowProc(self->controller_, window, message,
                                                               wparam, lparam, &result)) {
        return result;
      }
      if (message == WM_DESTROY) {
        FlutterDesktopViewControllerDestroy(self->controller_);
        self->controller_ = nullptr;
        self->window_ = nullptr;
        PostQuitMessage(0);
        return 0;
      }
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }

  Properties properties_;
  Answering answering_;
  HWND window_ = nullptr;
  FlutterDesktopEngineRef engine_ = nullptr;
  FlutterDesktopMessengerRef messenger_ = nullptr;
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::vector<std::thread> threads_;
};

// Runs `script` in a fresh host and returns the transcript.
std::vector<std::string> RunScript(const std::string& script,
                                   Answering answering = Answering::kNormally) {
  const std::wstring script_path = TempPath(L"script.txt");
  const std::wstring transcript_path = TempPath(L"transcript.txt");
  WriteText(script_path, script);
  {
    TestHost host({"--standin-script=" + Narrow(script_path),
                   "--standin-transcript=" + Narrow(transcript_path)},
                  answering);
    host.Run();
  }
  std::vector<std::string> lines = ReadLines(transcript_path);
  DeleteFileW(script_path.c_str());
  DeleteFileW(transcript_path.c_str());
  return lines;
}

TEST(FlutterWindowsTest, ScriptRunsEndToEndAgainstAnAnsweringHost) {
  const std::vector<std::string> lines = RunScript(
      "# every kind of step the host can pass\n"
      "wait frame\n"
      "wait visible\n"
      "view-fills-client\n"
      "geometry 40 50 500 400\n"
      "call com.tarnwick.vpn/tunnel ping {\"k\": [1, 2.5, \"x\"]}\n"
      "expect success \"pong\"\n"
      "call com.tarnwick.vpn/tunnel later\n"
      "expect success true\n"
      "call com.tarnwick.vpn/tunnel other\n"
      "expect empty\n"
      "send no.such/channel 01 02\n"
      "expect empty\n"
      "claim WM_APP+5 42\n"
      "sendmsg WM_APP+5 0 0 42\n"
      "unclaim WM_APP+5\n"
      "sendmsg WM_APP+5 0 0 0\n"
      "close\n");

  EXPECT_THAT(lines, Contains("RESULT PASS"));
  EXPECT_THAT(LinesStartingWith(lines, "FAIL"), ::testing::IsEmpty());
  EXPECT_THAT(lines, Contains("SCRIPT END"));
  EXPECT_EQ(LinesStartingWith(lines, "OK ").size(), 17u);
  EXPECT_EQ(LinesStartingWith(lines, "CALLBACK next-frame").size(), 1u);
  EXPECT_THAT(
      lines,
      Contains(HasSubstr("channel=\"com.tarnwick.vpn/tunnel\" hex=070470696e67")));  // "ping"
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("REPLY "), HasSubstr("value=success \"pong\""))));
  EXPECT_THAT(lines,
              Contains(AllOf(StartsWith("REPLY "), HasSubstr("hex=0001 value=success true"))));
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("NOHANDLER "), HasSubstr("\"no.such/channel\""))));
  EXPECT_THAT(lines, Contains(AllOf(HasSubstr("HandleTopLevelWindowProc"),
                                    HasSubstr("message=0x8005"), HasSubstr("-> true result=42"))));
  EXPECT_THAT(lines, Contains(AllOf(HasSubstr("HandleTopLevelWindowProc"),
                                    HasSubstr("message=0x8005"), HasSubstr("-> false"))));

  // Locks balanced, every reference taken for "later" given back, the three
  // tunnel messages delivered and answered.
  const auto summary = LinesStartingWith(lines, "SUMMARY ");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_THAT(summary[0], HasSubstr("locks=3 unlocks=3 addrefs=1 releases=1 refs=0"));
  EXPECT_THAT(summary[0], HasSubstr("delivered=3 answered=3"));

  // The record byte for byte: argc 2 at offset 32, zero padding and both
  // options 0, a non-null argv at 40.
  const auto props = LinesStartingWith(lines, "PROPS ");
  ASSERT_EQ(props.size(), 1u);
  const std::string hex = props[0].substr(props[0].find("hex=") + 4);
  ASSERT_EQ(hex.size(), 112u);
  EXPECT_EQ(hex.substr(64, 16), "0200000000000000");
  EXPECT_NE(hex.substr(80, 16), "0000000000000000");
  EXPECT_EQ(hex.substr(96, 16), "0000000000000000");
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("PATHS "),
                                    HasSubstr("assets=\"data\\\\flutter_assets\" "
                                              "icu=\"data\\\\icudtl.dat\" aot=\"data\\\\app.so\" "
                                              "entrypoint=\"\""))));
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("ARG "), HasSubstr(" 0 \"--standin-script="))));
}

// Faults of the script's expectations and of the host are FAIL lines and
// a failing result; the script still closes the window.
TEST(FlutterWindowsTest, FailuresAreReportedNeverPassedSilently) {
  struct Case {
    const char* name;
    std::string script;
    Answering answering;
    std::vector<std::string> fails;
  };
  const std::string ping = "wait frame\ncall com.tarnwick.vpn/tunnel ping\n";
  const std::vector<Case> cases = {
      {"wrong reply",
       ping + "expect success \"ping\"\nexpect empty\n",
       Answering::kNormally,
       {"FAIL 3 reply to H", "FAIL 4 reply to H"}},
      {"no reply",
       ping + "timeout 300\nexpect any\n",
       Answering::kNever,
       {"FAIL 4 timed out after 300 ms: no reply to H"}},
      {"answered twice", ping + "expect any\n", Answering::kTwice, {"answered twice"}},
      {"answered outside the lock",
       ping + "expect any\n",
       Answering::kOutsideLock,
       {"answered outside the messenger lock"}},
      {"unparsable script",
       "wait frame\nfrobnicate now\n",
       Answering::kNormally,
       {"FAIL 0 script line 2: unknown step 'frobnicate'"}},
      {"expect before any send",
       "expect any\n",
       Answering::kNormally,
       {"FAIL 1 nothing was sent before this expect"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> lines = RunScript(c.script, c.answering);
    const auto fails = LinesStartingWith(lines, "FAIL");
    ASSERT_EQ(fails.size(), c.fails.size()) << ::testing::PrintToString(fails);
    for (size_t i = 0; i < fails.size(); ++i) EXPECT_THAT(fails[i], HasSubstr(c.fails[i]));
    EXPECT_THAT(lines, Contains("RESULT FAIL " + std::to_string(c.fails.size())));
    EXPECT_THAT(lines, Contains("SCRIPT END"));
  }
}

// A transcript for the direct calls below; the engine that names it is not
// run.
std::wstring OpenTranscript() {
  const std::wstring path = TempPath(L"calls.txt");
  Properties named({"--standin-transcript=" + Narrow(path)});
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&named.record);
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
  return path;
}

TEST(FlutterWindowsTest, ViewControllerNeedsTheEngineFilesAndLeavesTheEngineOnFailure) {
  const std::wstring transcript = OpenTranscript();
  Properties missing({}, L"missing");
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&missing.record);
  EXPECT_EQ(FlutterDesktopViewControllerCreate(100, 100, engine), nullptr);
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine)) << "a failed create must not take the engine";

  // Absolute paths are used as given; the last file to appear completes them.
  const std::wstring folder = TempPath(L"engine");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((folder + L"\\flutter_assets").c_str(), nullptr));
  WriteText(folder + L"\\icudtl.dat", "");
  Properties absolute({}, folder);
  engine = FlutterDesktopEngineCreate(&absolute.record);
  EXPECT_EQ(FlutterDesktopViewControllerCreate(100, 100, engine), nullptr);
  WriteText(folder + L"\\app.so", "");
  FlutterDesktopViewControllerRef controller = FlutterDesktopViewControllerCreate(120, 80, engine);
  ASSERT_NE(controller, nullptr);
  HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller));
  RECT size{};
  GetClientRect(view, &size);
  EXPECT_EQ(size.right, 120);
  EXPECT_EQ(size.bottom, 80);
  // The engine now belongs to the controller: destroying it directly is refused.
  EXPECT_FALSE(FlutterDesktopEngineDestroy(engine));
  FlutterDesktopViewControllerDestroy(controller);
  EXPECT_FALSE(IsWindow(view));

  const std::vector<std::string> lines = ReadLines(transcript);
  EXPECT_THAT(lines, Contains(AllOf(HasSubstr("-> null missing="),
                                    HasSubstr("missing\\\\flutter_assets\""))));
  EXPECT_THAT(lines, Contains(AllOf(HasSubstr("-> null missing="), HasSubstr("\\\\app.so\""))));
  EXPECT_THAT(LinesStartingWith(lines, "FAIL"), ElementsAre(HasSubstr("the engine is run by")));
  DeleteFileW((folder + L"\\app.so").c_str());
  DeleteFileW((folder + L"\\icudtl.dat").c_str());
  RemoveDirectoryW((folder + L"\\flutter_assets").c_str());
  RemoveDirectoryW(folder.c_str());
}

struct Started {
  Started() : properties({}) {
    engine = FlutterDesktopEngineCreate(&properties.record);
    messenger = FlutterDesktopEngineGetMessenger(engine);
    controller = FlutterDesktopViewControllerCreate(200, 100, engine);
  }
  int Frames(const std::wstring& transcript) const {
    return static_cast<int>(LinesStartingWith(ReadLines(transcript), "FRAME ").size());
  }
  Properties properties;
  FlutterDesktopEngineRef engine;
  FlutterDesktopMessengerRef messenger;
  FlutterDesktopViewControllerRef controller;
};

TEST(FlutterWindowsTest, NextFrameCallbackRunsOnceAfterTheNextFrame) {
  const std::wstring transcript = OpenTranscript();
  Started started;
  ASSERT_NE(started.controller, nullptr);
  int first = 0, second = 0, third = 0;
  auto count = [](void* counter) { ++*static_cast<int*>(counter); };
  FlutterDesktopEngineSetNextFrameCallback(started.engine, count, &first);
  FlutterDesktopEngineSetNextFrameCallback(started.engine, count, &second);  // replaces
  ASSERT_TRUE(PumpUntil([&] { return second > 0; }));
  EXPECT_EQ(first, 0);

  // Disarmed after it ran: a forced frame does not call it again, and a
  // newly armed one runs after that frame.
  FlutterDesktopViewControllerForceRedraw(started.controller);
  ASSERT_TRUE(PumpUntil([&] { return started.Frames(transcript) >= 2; }));
  FlutterDesktopEngineSetNextFrameCallback(started.engine, count, &third);
  FlutterDesktopViewControllerForceRedraw(started.controller);
  ASSERT_TRUE(PumpUntil([&] { return third > 0; }));
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(third, 1);

  // Armed but never run when the engine ends first.
  FlutterDesktopEngineSetNextFrameCallback(started.engine, count, &first);
  FlutterDesktopViewControllerDestroy(started.controller);
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(first, 0);
}

TEST(FlutterWindowsTest, MessengerLockReferencesAndEndOfEngine) {
  const std::wstring transcript = OpenTranscript();
  Started started;
  ASSERT_NE(started.controller, nullptr);
  FlutterDesktopMessengerRef m = started.messenger;

  FlutterDesktopMessengerRef token = FlutterDesktopMessengerLock(m);
  EXPECT_EQ(FlutterDesktopMessengerLock(m), token) << "the lock is recursive";
  FlutterDesktopMessengerUnlock(token);
  FlutterDesktopMessengerUnlock(token);
  FlutterDesktopMessengerUnlock(token);  // one too many: reported, lock not corrupted

  FlutterDesktopMessengerRef held = FlutterDesktopMessengerAddRef(m);
  EXPECT_EQ(held, m);
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(m));

  // One empty reply per accepted send, on the UI thread.
  static int replies = 0;
  auto on_reply = [](const uint8_t* data, size_t size, void*) {
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
    ++replies;
  };
  const uint8_t bytes[] = {1, 2};
  EXPECT_TRUE(FlutterDesktopMessengerSendWithReply(m, "x", bytes, 2, on_reply, nullptr));
  EXPECT_TRUE(FlutterDesktopMessengerSendWithReply(m, "x", bytes, 2, on_reply, nullptr));
  EXPECT_EQ(replies, 0);
  ASSERT_TRUE(PumpUntil([] { return replies == 2; }));

  // Registrars: one per plug-in name.
  auto a = FlutterDesktopEngineGetPluginRegistrar(started.engine, "A");
  EXPECT_EQ(FlutterDesktopEngineGetPluginRegistrar(started.engine, "A"), a);
  EXPECT_NE(FlutterDesktopEngineGetPluginRegistrar(started.engine, "B"), a);

  EXPECT_TRUE(FlutterDesktopMessengerSendWithReply(m, "x", bytes, 2, on_reply, nullptr));
  FlutterDesktopViewControllerDestroy(started.controller);
  EXPECT_EQ(replies, 3) << "a pending reply runs when the engine ends";
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(held));
  EXPECT_FALSE(FlutterDesktopMessengerSendWithReply(held, "x", bytes, 2, on_reply, nullptr));
  EXPECT_FALSE(FlutterDesktopMessengerSend(held, "x", bytes, 2));
  FlutterDesktopMessengerRelease(held);
  FlutterDesktopMessengerRelease(held);  // one too many
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(replies, 3);

  const std::vector<std::string> lines = ReadLines(transcript);
  EXPECT_THAT(LinesStartingWith(lines, "FAIL"),
              ElementsAre(HasSubstr("is not locked by this thread"),
                          HasSubstr("released more often than referenced")));
  EXPECT_THAT(lines, Contains(HasSubstr("locks=2 unlocks=2 addrefs=1 releases=0 refs=1")));
  EXPECT_THAT(lines, Contains("RESULT FAIL 1"));
}

TEST(FlutterWindowsTest, PropertiesRecordFaultsAreReported) {
  const std::wstring transcript = OpenTranscript();
  const char* arguments[] = {"a"};
  Properties empty_array({});
  empty_array.record.entrypoint_argv = arguments;  // zero arguments must come as null
  FlutterDesktopEngineDestroy(FlutterDesktopEngineCreate(&empty_array.record));
  Properties no_entrypoint({});
  no_entrypoint.record.entrypoint = nullptr;
  no_entrypoint.record.entrypoint_argc = -1;
  FlutterDesktopEngineDestroy(FlutterDesktopEngineCreate(&no_entrypoint.record));
  EXPECT_EQ(FlutterDesktopEngineCreate(nullptr), nullptr);

  EXPECT_THAT(LinesStartingWith(ReadLines(transcript), "FAIL"),
              ElementsAre(HasSubstr("entrypoint_argv is not null for zero arguments"),
                          HasSubstr("entrypoint is null"), HasSubstr("entrypoint_argc -1"),
                          HasSubstr("null properties record")));
}

TEST(FlutterWindowsTest, DpiComesFromTheMonitorUnlessOverridden) {
  HMONITOR monitor = MonitorFromPoint(POINT{10, 10}, MONITOR_DEFAULTTONEAREST);
  const UINT real = FlutterDesktopGetDpiForMonitor(monitor);
  EXPECT_GT(real, 0u);
  SetEnvironmentVariableW(L"TARNWICK_STANDIN_DPI", L"144");
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(monitor), 144u);
  SetEnvironmentVariableW(L"TARNWICK_STANDIN_DPI", L"lots");
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(monitor), real);
  SetEnvironmentVariableW(L"TARNWICK_STANDIN_DPI", nullptr);
}

}  // namespace
