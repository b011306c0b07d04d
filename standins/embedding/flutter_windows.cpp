// The exports of the stand-in flutter_windows.dll. Each one records the
// call in the transcript, checks the handles it is given (a handle this
// library never gave out is a FAIL line, not a crash), and lets no
// exception out.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "embedding/flutter_windows_api.h"
#include "standins/embedding/controller.h"
#include "standins/embedding/engine.h"
#include "standins/embedding/hex.h"
#include "standins/embedding/panel.h"
#include "standins/embedding/script_runner.h"
#include "standins/embedding/transcript.h"
#include "standins/embedding/ui_value.h"

using namespace tarnwick::standin;

namespace {

// More entry-point arguments than this means the record is garbage.
constexpr int32_t kMaxArguments = 4096;

Transcript& Log() { return Transcript::Get(); }

std::string Address(const void* p) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  return buffer;
}

std::string Name(char kind, int id) { return std::string(1, kind) + std::to_string(id); }

std::string Bool(bool b) { return b ? "true" : "false"; }

void ReportException(const char* call) noexcept {
  try {
    try {
      throw;
    } catch (const std::exception& e) {
      Log().Fail(0, std::string(call) + ": exception: " + e.what());
    } catch (...) {
      Log().Fail(0, std::string(call) + ": exception");
    }
  } catch (...) {
    // Nothing more can be said; the call still returns its fallback.
  }
}

template <typename R, typename F>
R Guarded(const char* call, R fallback, F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    ReportException(call);
  }
  return fallback;
}

template <typename F>
void GuardedVoid(const char* call, F&& body) noexcept {
  try {
    body();
  } catch (...) {
    ReportException(call);
  }
}

std::string CallLine(const char* call) { return std::string("CALL ") + call; }

Engine* EngineOrFail(const char* call, FlutterDesktopEngineRef handle) {
  World& world = World::Get();
  std::lock_guard<std::mutex> lock(world.mutex);
  Engine* engine = world.FindEngine(handle);
  if (engine == nullptr) Log().Fail(0, std::string(call) + ": unknown engine " + Address(handle));
  return engine;
}

Messenger* MessengerOrFail(const char* call, FlutterDesktopMessengerRef handle) {
  World& world = World::Get();
  std::lock_guard<std::mutex> lock(world.mutex);
  Messenger* messenger = world.FindMessenger(handle);
  if (messenger == nullptr) {
    Log().Fail(0, std::string(call) + ": unknown messenger " + Address(handle));
  }
  return messenger;
}

Controller* ControllerOrFail(const char* call, FlutterDesktopViewControllerRef handle) {
  World& world = World::Get();
  std::lock_guard<std::mutex> lock(world.mutex);
  Controller* controller = world.FindController(handle);
  if (controller == nullptr) {
    Log().Fail(0, std::string(call) + ": unknown view controller " + Address(handle));
  }
  return controller;
}

std::string WideText(const wchar_t* text) {
  return text == nullptr ? "null" : QuoteBytes(NarrowFromWide(text));
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The first engine path that is missing, resolved; empty when all exist.
std::wstring MissingEnginePath(const Engine& engine) {
  const std::wstring assets = ResolveEnginePath(engine.assets_path);
  if (engine.assets_path.empty() || !IsFolder(assets)) return assets;
  for (const std::wstring* path : {&engine.icu_data_path, &engine.aot_library_path}) {
    const std::wstring resolved = ResolveEnginePath(*path);
    if (path->empty() || !IsFile(resolved)) return resolved;
  }
  return {};
}

using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

}  // namespace

extern "C" {

// ---- engine ----

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  constexpr const char* kCall = "FlutterDesktopEngineCreate";
  return Guarded(kCall, FlutterDesktopEngineRef{nullptr}, [&]() -> FlutterDesktopEngineRef {
    if (properties == nullptr) {
      Log().Write(CallLine(kCall) + " properties=null -> null");
      Log().Fail(0, std::string(kCall) + ": null properties record");
      return nullptr;
    }
    // Copy the whole record first: its pointers are valid only now. Byte for
    // byte, so the transcript shows the padding as the host left it (a copy
    // of the record need not carry it).
    FlutterDesktopEngineProperties record;
    std::memcpy(&record, properties, sizeof record);
    std::vector<std::string> arguments;
    std::vector<std::string> faults;
    if (record.entrypoint == nullptr) faults.push_back("entrypoint is null");
    if (record.entrypoint_argc < 0 || record.entrypoint_argc > kMaxArguments) {
      faults.push_back("entrypoint_argc " + std::to_string(record.entrypoint_argc) +
                       " out of range");
    } else if (record.entrypoint_argc > 0 && record.entrypoint_argv == nullptr) {
      faults.push_back("entrypoint_argv is null for " + std::to_string(record.entrypoint_argc) +
                       " arguments");
    } else if (record.entrypoint_argc == 0 && record.entrypoint_argv != nullptr) {
      faults.push_back("entrypoint_argv is not null for zero arguments");
    } else {
      for (int32_t i = 0; i < record.entrypoint_argc; ++i) {
        const char* argument = record.entrypoint_argv[i];
        if (argument == nullptr) faults.push_back("argument " + std::to_string(i) + " is null");
        arguments.emplace_back(argument == nullptr ? "" : argument);
      }
    }

    Engine* engine;
    {
      World& world = World::Get();
      std::lock_guard<std::mutex> lock(world.mutex);
      engine = world.NewEngine();
      if (record.assets_path != nullptr) engine->assets_path = record.assets_path;
      if (record.icu_data_path != nullptr) engine->icu_data_path = record.icu_data_path;
      if (record.aot_library_path != nullptr) engine->aot_library_path = record.aot_library_path;
    }
    engine->settings = ResolveSettings(arguments);
    if (!engine->settings.transcript.empty()) {
      Log().UseFile(engine->settings.transcript);
    } else {
      Log().NoFileNamed();
    }

    const std::string e = Name('E', engine->id);
    Log().Write(CallLine(kCall) + " -> " + e + " messenger=" + Name('M', engine->messenger->id));
    Log().Write("PROPS " + e +
                " hex=" + ToHex(reinterpret_cast<const uint8_t*>(&record), sizeof record));
    Log().Write(
        "PATHS " + e + " assets=" + WideText(record.assets_path) +
        " icu=" + WideText(record.icu_data_path) + " aot=" + WideText(record.aot_library_path) +
        " entrypoint=" + (record.entrypoint == nullptr ? "null" : QuoteBytes(record.entrypoint)));
    Log().Write("ARGS " + e + " argc=" + std::to_string(record.entrypoint_argc) +
                " argv=" + (record.entrypoint_argv == nullptr ? "null" : "set") +
                " option_a=" + std::to_string(record.engine_option_a) +
                " option_b=" + std::to_string(record.engine_option_b));
    for (size_t i = 0; i < arguments.size(); ++i) {
      Log().Write("ARG " + e + " " + std::to_string(i) + " " + QuoteBytes(arguments[i]));
    }
    for (const std::string& fault : faults) Log().Fail(0, std::string(kCall) + ": " + fault);
    return reinterpret_cast<FlutterDesktopEngineRef>(engine);
  });
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef handle) {
  constexpr const char* kCall = "FlutterDesktopEngineDestroy";
  return Guarded(kCall, false, [&] {
    Engine* engine = EngineOrFail(kCall, handle);
    if (engine == nullptr) return false;
    const std::string line = CallLine(kCall) + " engine=" + Name('E', engine->id);
    World& world = World::Get();
    std::string fault;
    {
      std::lock_guard<std::recursive_mutex> host(engine->messenger->host_lock);
      std::lock_guard<std::mutex> lock(world.mutex);
      if (engine->controller != nullptr) {
        fault = "the engine is run by " + Name('C', engine->controller->id()) +
                "; destroying that controller ends it";
      } else if (engine->ended) {
        fault = "the engine was already destroyed";
      } else {
        engine->ended = true;
        engine->messenger->available = false;
        engine->messenger->bindings.clear();
        --engine->messenger->refs;
      }
    }
    Log().Write(line + " -> " + Bool(fault.empty()));
    if (!fault.empty()) Log().Fail(0, std::string(kCall) + ": " + fault);
    return fault.empty();
  });
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef handle) {
  constexpr const char* kCall = "FlutterDesktopEngineGetMessenger";
  return Guarded(kCall, FlutterDesktopMessengerRef{nullptr}, [&]() -> FlutterDesktopMessengerRef {
    Engine* engine = EngineOrFail(kCall, handle);
    if (engine == nullptr) return nullptr;
    Log().Write(CallLine(kCall) + " engine=" + Name('E', engine->id) + " -> " +
                Name('M', engine->messenger->id));
    return reinterpret_cast<FlutterDesktopMessengerRef>(engine->messenger);
  });
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef handle, const char* plugin_name) {
  constexpr const char* kCall = "FlutterDesktopEngineGetPluginRegistrar";
  return Guarded(
      kCall, FlutterDesktopPluginRegistrarRef{nullptr}, [&]() -> FlutterDesktopPluginRegistrarRef {
        Engine* engine = EngineOrFail(kCall, handle);
        if (engine == nullptr) return nullptr;
        if (plugin_name == nullptr) {
          Log().Write(CallLine(kCall) + " engine=" + Name('E', engine->id) + " name=null -> null");
          Log().Fail(0, std::string(kCall) + ": null plug-in name");
          return nullptr;
        }
        Registrar* registrar;
        {
          World& world = World::Get();
          std::lock_guard<std::mutex> lock(world.mutex);
          Registrar*& slot = engine->registrars[plugin_name];
          if (slot == nullptr) slot = world.NewRegistrar(engine, plugin_name);
          registrar = slot;
        }
        Log().Write(CallLine(kCall) + " engine=" + Name('E', engine->id) +
                    " name=" + QuoteBytes(plugin_name) + " -> " + Name('R', registrar->id));
        return reinterpret_cast<FlutterDesktopPluginRegistrarRef>(registrar);
      });
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef handle) {
  constexpr const char* kCall = "FlutterDesktopEngineReloadSystemFonts";
  GuardedVoid(kCall, [&] {
    Engine* engine = EngineOrFail(kCall, handle);
    if (engine != nullptr) Log().Write(CallLine(kCall) + " engine=" + Name('E', engine->id));
  });
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef handle,
                                              FlutterDesktopOnNextFrameCallback callback,
                                              void* user_data) {
  constexpr const char* kCall = "FlutterDesktopEngineSetNextFrameCallback";
  GuardedVoid(kCall, [&] {
    Engine* engine = EngineOrFail(kCall, handle);
    if (engine == nullptr) return;
    Log().Write(CallLine(kCall) + " engine=" + Name('E', engine->id) + " callback=" +
                (callback != nullptr ? "set" : "null") + " user_data=" + Address(user_data));
    std::lock_guard<std::mutex> lock(World::Get().mutex);
    if (engine->ended) return;
    engine->next_frame = callback;
    engine->next_frame_data = user_data;
  });
}

// ---- view controller and view ----

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                   FlutterDesktopEngineRef handle) {
  constexpr const char* kCall = "FlutterDesktopViewControllerCreate";
  return Guarded(
      kCall, FlutterDesktopViewControllerRef{nullptr}, [&]() -> FlutterDesktopViewControllerRef {
        const std::string line = CallLine(kCall) + " width=" + std::to_string(width) +
                                 " height=" + std::to_string(height) + " engine=";
        Engine* engine = EngineOrFail(kCall, handle);
        if (engine == nullptr) {
          Log().Write(line + Address(handle) + " -> null");
          return nullptr;
        }
        const std::string e = Name('E', engine->id);
        World& world = World::Get();
        std::string fault;
        {
          std::lock_guard<std::mutex> lock(world.mutex);
          if (engine->controller != nullptr) {
            fault = "the engine already runs in " + Name('C', engine->controller->id());
          } else if (engine->ended) {
            fault = "the engine was destroyed";
          }
        }
        if (!fault.empty()) {
          Log().Write(line + e + " -> null");
          Log().Fail(0, std::string(kCall) + ": " + fault);
          return nullptr;
        }
        const std::wstring missing = MissingEnginePath(*engine);
        if (!missing.empty()) {
          // The engine stays as it was: not taken over, not started.
          Log().Write(line + e + " -> null missing=" + QuoteBytes(NarrowFromWide(missing)));
          return nullptr;
        }
        Controller* controller;
        {
          std::lock_guard<std::mutex> lock(world.mutex);
          controller =
              world.AddController(std::make_unique<Controller>(world.NextControllerId(), engine));
        }
        if (!controller->Start(width, height)) {
          Log().Write(line + e + " -> null window-error=" + std::to_string(GetLastError()));
          Log().Fail(0, std::string(kCall) + ": cannot create the view window");
          return nullptr;
        }
        {
          std::lock_guard<std::mutex> lock(world.mutex);
          controller->set_view(world.NewView(controller));
          engine->controller = controller;
        }
        Log().Write(line + e + " -> " + Name('C', controller->id()) + " view=" +
                    Name('V', controller->view()->id) + " hwnd=" + Address(controller->window()));
        if (!engine->settings.script.empty()) {
          controller->SetProgram(ScriptRunner::Load(controller, engine->settings.script));
        } else {
          controller->SetProgram(std::make_unique<Panel>(controller, engine->settings.config));
        }
        return reinterpret_cast<FlutterDesktopViewControllerRef>(controller);
      });
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef handle) {
  constexpr const char* kCall = "FlutterDesktopViewControllerDestroy";
  GuardedVoid(kCall, [&] {
    Controller* controller = ControllerOrFail(kCall, handle);
    if (controller == nullptr) return;
    Log().Write(CallLine(kCall) + " controller=" + Name('C', controller->id()));
    if (controller->ended()) {
      Log().Fail(0, std::string(kCall) + ": " + Name('C', controller->id()) + " destroyed twice");
      return;
    }
    controller->End();
  });
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef handle) {
  constexpr const char* kCall = "FlutterDesktopViewControllerGetView";
  return Guarded(kCall, FlutterDesktopViewRef{nullptr}, [&]() -> FlutterDesktopViewRef {
    Controller* controller = ControllerOrFail(kCall, handle);
    if (controller == nullptr) return nullptr;
    Log().Write(CallLine(kCall) + " controller=" + Name('C', controller->id()) + " -> " +
                Name('V', controller->view()->id));
    return reinterpret_cast<FlutterDesktopViewRef>(controller->view());
  });
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef handle) {
  constexpr const char* kCall = "FlutterDesktopViewControllerForceRedraw";
  GuardedVoid(kCall, [&] {
    Controller* controller = ControllerOrFail(kCall, handle);
    if (controller == nullptr) return;
    Log().Write(CallLine(kCall) + " controller=" + Name('C', controller->id()));
    controller->RequestFrame();
  });
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewControllerRef handle,
                                                          HWND window, UINT message, WPARAM wparam,
                                                          LPARAM lparam, LRESULT* result) {
  constexpr const char* kCall = "FlutterDesktopViewControllerHandleTopLevelWindowProc";
  return Guarded(kCall, false, [&] {
    Controller* controller = ControllerOrFail(kCall, handle);
    if (controller == nullptr) return false;
    LRESULT claimed = 0;
    const bool handled = !controller->ended() && controller->ClaimFor(message, &claimed);
    if (!handled && !controller->Watched(message)) return false;
    char number[16];
    std::snprintf(number, sizeof number, "0x%04x", message);
    std::string line = CallLine(kCall) + " controller=" + Name('C', controller->id()) +
                       " hwnd=" + Address(window) + " message=" + number +
                       " wparam=" + std::to_string(static_cast<long long>(wparam)) +
                       " lparam=" + std::to_string(static_cast<long long>(lparam));
    if (handled) {
      if (result == nullptr) {
        Log().Write(line + " -> false");
        Log().Fail(0, std::string(kCall) + ": null result pointer for a claimed message");
        return false;
      }
      *result = claimed;
      line += " -> true result=" + std::to_string(static_cast<long long>(claimed));
    } else {
      line += " -> false";
    }
    Log().Write(line);
    return handled;
  });
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef handle) {
  constexpr const char* kCall = "FlutterDesktopViewGetHWND";
  return Guarded(kCall, HWND{nullptr}, [&]() -> HWND {
    View* view;
    {
      World& world = World::Get();
      std::lock_guard<std::mutex> lock(world.mutex);
      view = world.FindView(handle);
    }
    if (view == nullptr) {
      Log().Fail(0, std::string(kCall) + ": unknown view " + Address(handle));
      return nullptr;
    }
    HWND window = view->controller->window();
    Log().Write(CallLine(kCall) + " view=" + Name('V', view->id) + " -> " + Address(window));
    return window;
  });
}

// ---- messenger ----

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef handle, const char* channel,
                                 const uint8_t* message, size_t message_size) {
  constexpr const char* kCall = "FlutterDesktopMessengerSend";
  return Guarded(kCall, false, [&] {
    Messenger* messenger = MessengerOrFail(kCall, handle);
    if (messenger == nullptr) return false;
    if (channel == nullptr || (message == nullptr && message_size != 0)) {
      Log().Fail(0, std::string(kCall) + ": null channel or message");
      return false;
    }
    bool available;
    {
      std::lock_guard<std::mutex> lock(World::Get().mutex);
      available = messenger->available;
    }
    Log().Write(CallLine(kCall) + " messenger=" + Name('M', messenger->id) +
                " channel=" + QuoteBytes(channel) + " hex=" + ToHex(message, message_size) +
                " -> " + Bool(available));
    return available;
  });
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef handle, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  constexpr const char* kCall = "FlutterDesktopMessengerSendWithReply";
  return Guarded(kCall, false, [&] {
    static std::atomic<int> next_id{0};
    Messenger* messenger = MessengerOrFail(kCall, handle);
    if (messenger == nullptr) return false;
    if (channel == nullptr || (message == nullptr && message_size != 0)) {
      Log().Fail(0, std::string(kCall) + ": null channel or message");
      return false;
    }
    Controller* controller;
    {
      std::lock_guard<std::mutex> lock(World::Get().mutex);
      controller = messenger->available ? messenger->engine->controller : nullptr;
    }
    const int id = ++next_id;
    // Without a running view there is no UI thread to answer on.
    const bool accepted = controller != nullptr && controller->QueueHostReply(reply, user_data, id);
    Log().Write(CallLine(kCall) + " messenger=" + Name('M', messenger->id) +
                " channel=" + QuoteBytes(channel) + " hex=" + ToHex(message, message_size) +
                " -> " + Bool(accepted) + " S" + std::to_string(id));
    return accepted;
  });
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef handle,
                                         const FlutterDesktopMessageResponseHandle* response,
                                         const uint8_t* data, size_t data_length) {
  constexpr const char* kCall = "FlutterDesktopMessengerSendResponse";
  GuardedVoid(kCall, [&] {
    Messenger* messenger = MessengerOrFail(kCall, handle);
    if (messenger == nullptr) return;
    World& world = World::Get();
    ResponseRecord* record;
    std::string fault;
    if (data == nullptr && data_length != 0) {
      fault = "null data of " + std::to_string(data_length) + " bytes";
      data_length = 0;
    }
    std::vector<uint8_t> bytes(data, data + data_length);
    bool accepted = false;
    {
      std::lock_guard<std::mutex> lock(world.mutex);
      record = world.FindResponse(response);
      if (record == nullptr || !record->delivered) {
        fault = "unknown response handle " + Address(response);
      } else if (record->controller->engine()->messenger != messenger) {
        fault = "H" + std::to_string(record->id) + " belongs to another messenger";
      } else if (!messenger->available) {
        fault = "H" + std::to_string(record->id) + " answered after the engine ended";
      } else if (record->answered) {
        fault = "H" + std::to_string(record->id) + " answered twice";
      } else {
        if (messenger->lock_depth == 0 || messenger->lock_owner != std::this_thread::get_id()) {
          fault = "H" + std::to_string(record->id) + " answered outside the messenger lock";
        }
        record->answered = true;
        record->reply = bytes;
        accepted = true;
      }
    }
    const std::string h = record != nullptr ? Name('H', record->id) : Address(response);
    Log().Write(CallLine(kCall) + " messenger=" + Name('M', messenger->id) + " handle=" + h +
                " hex=" + ToHex(bytes));
    if (!fault.empty()) Log().Fail(0, std::string(kCall) + ": " + fault);
    if (accepted) {
      Log().Write("REPLY " + h + " hex=" + ToHex(bytes) + " value=" + DescribeReply(bytes));
      Controller::PostAnswer(record);
    }
  });
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef handle, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  constexpr const char* kCall = "FlutterDesktopMessengerSetCallback";
  GuardedVoid(kCall, [&] {
    Messenger* messenger = MessengerOrFail(kCall, handle);
    if (messenger == nullptr) return;
    if (channel == nullptr) {
      Log().Fail(0, std::string(kCall) + ": null channel name");
      return;
    }
    Log().Write(CallLine(kCall) + " messenger=" + Name('M', messenger->id) + " channel=" +
                QuoteBytes(channel) + " callback=" + (callback != nullptr ? "set" : "null") +
                " user_data=" + Address(user_data));
    std::lock_guard<std::mutex> lock(World::Get().mutex);
    if (!messenger->available) return;  // nothing is delivered any more
    if (callback != nullptr) {
      messenger->bindings[channel] = Binding{callback, user_data};
    } else {
      messenger->bindings.erase(channel);
    }
  });
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef handle) {
  constexpr const char* kCall = "FlutterDesktopMessengerAddRef";
  return Guarded(kCall, FlutterDesktopMessengerRef{nullptr}, [&]() -> FlutterDesktopMessengerRef {
    Messenger* messenger = MessengerOrFail(kCall, handle);
    if (messenger == nullptr) return nullptr;
    long refs;
    {
      std::lock_guard<std::mutex> lock(World::Get().mutex);
      ++messenger->addrefs;
      refs = ++messenger->refs;
    }
    const std::string m = Name('M', messenger->id);
    Log().Write(CallLine(kCall) + " messenger=" + m + " -> " + m + " refs=" + std::to_string(refs));
    if (refs <= 1) Log().Fail(0, std::string(kCall) + ": " + m + " was already released");
    return handle;
  });
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef handle) {
  constexpr const char* kCall = "FlutterDesktopMessengerRelease";
  GuardedVoid(kCall, [&] {
    Messenger* messenger = MessengerOrFail(kCall, handle);
    if (messenger == nullptr) return;
    long refs;
    {
      std::lock_guard<std::mutex> lock(World::Get().mutex);
      ++messenger->releases;
      refs = --messenger->refs;
    }
    const std::string m = Name('M', messenger->id);
    Log().Write(CallLine(kCall) + " messenger=" + m + " refs=" + std::to_string(refs));
    if (refs < 0)
      Log().Fail(0, std::string(kCall) + ": " + m + " released more often than referenced");
  });
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef handle) {
  constexpr const char* kCall = "FlutterDesktopMessengerIsAvailable";
  return Guarded(kCall, false, [&] {
    Messenger* messenger = MessengerOrFail(kCall, handle);
    if (messenger == nullptr) return false;
    bool available;
    {
      std::lock_guard<std::mutex> lock(World::Get().mutex);
      available = messenger->available;
    }
    Log().Write(CallLine(kCall) + " messenger=" + Name('M', messenger->id) + " -> " +
                Bool(available));
    return available;
  });
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef handle) {
  constexpr const char* kCall = "FlutterDesktopMessengerLock";
  return Guarded(kCall, FlutterDesktopMessengerRef{nullptr}, [&]() -> FlutterDesktopMessengerRef {
    Messenger* messenger = MessengerOrFail(kCall, handle);
    if (messenger == nullptr) return nullptr;
    messenger->host_lock.lock();
    {
      std::lock_guard<std::mutex> lock(World::Get().mutex);
      ++messenger->locks;
      ++messenger->lock_depth;
      messenger->lock_owner = std::this_thread::get_id();
    }
    const std::string m = Name('M', messenger->id);
    Log().Write(CallLine(kCall) + " messenger=" + m + " -> " + m);
    return handle;
  });
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef token) {
  constexpr const char* kCall = "FlutterDesktopMessengerUnlock";
  GuardedVoid(kCall, [&] {
    Messenger* messenger = MessengerOrFail(kCall, token);
    if (messenger == nullptr) return;
    bool held;
    {
      std::lock_guard<std::mutex> lock(World::Get().mutex);
      held = messenger->lock_depth > 0 && messenger->lock_owner == std::this_thread::get_id();
      if (held) {
        ++messenger->unlocks;
        if (--messenger->lock_depth == 0) messenger->lock_owner = std::thread::id();
      }
    }
    const std::string m = Name('M', messenger->id);
    Log().Write(CallLine(kCall) + " token=" + m);
    if (!held) {
      // Unlocking a lock this thread does not hold would corrupt it.
      Log().Fail(0, std::string(kCall) + ": " + m + " is not locked by this thread");
      return;
    }
    messenger->host_lock.unlock();
  });
}

// ---- process-wide ----

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  constexpr const char* kCall = "FlutterDesktopGetDpiForMonitor";
  return Guarded(kCall, UINT{96}, [&]() -> UINT {
    const std::wstring forced = EnvironmentValue(L"TARNWICK_STANDIN_DPI");
    UINT dpi = 0;
    std::string source;
    if (!forced.empty()) {
      wchar_t* end = nullptr;
      const unsigned long value = std::wcstoul(forced.c_str(), &end, 10);
      if (*end == L'\0' && value >= 1 && value <= 10000) {
        dpi = static_cast<UINT>(value);
        source = "override";
      } else {
        Log().Fail(0, "TARNWICK_STANDIN_DPI is not a number from 1 to 10000: " +
                          QuoteBytes(NarrowFromWide(forced)));
      }
    }
    if (dpi == 0) {
      HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
      if (shcore != nullptr) {
        auto query = reinterpret_cast<GetDpiForMonitorFn>(
            reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
        UINT x = 0, y = 0;
        // 0: the effective DPI, the one the user's scaling setting gives.
        if (query != nullptr && SUCCEEDED(query(monitor, 0, &x, &y)) && y != 0) {
          dpi = y;
          source = "monitor";
        }
        FreeLibrary(shcore);
      }
    }
    if (dpi == 0) {
      HDC screen = GetDC(nullptr);
      const int pixels = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
      if (screen != nullptr) ReleaseDC(nullptr, screen);
      dpi = pixels > 0 ? static_cast<UINT>(pixels) : 96;
      source = "system";
    }
    Log().Write(CallLine(kCall) + " monitor=" + Address(monitor) + " -> " + std::to_string(dpi) +
                " source=" + source);
    return dpi;
  });
}

void FlutterDesktopResyncOutputStreams(void) {
  constexpr const char* kCall = "FlutterDesktopResyncOutputStreams";
  // The library writes nothing to the standard streams, so there is nothing
  // to follow; the call is recorded so tests see the host made it.
  GuardedVoid(kCall, [&] { Log().Write(CallLine(kCall)); });
}

}  // extern "C"
