// The flat C interface of the UI embedding library, flutter_windows.dll, as
// this host calls it. This is the product's only declaration of these calls;
// the library is a delay-loaded import (loaded at the first call, so only by
// the interactive application), and any library with these exports and
// record layouts can stand in the app folder.
//
// The messenger calls and records also compile on non-Windows hosts, where
// the messenger layer is tested against an in-process messenger.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#endif

#if defined(_WIN32) && defined(TARNWICK_EMBEDDING_LIBRARY)
#define FLUTTER_DESKTOP_API __declspec(dllexport)
#elif defined(_WIN32)
#define FLUTTER_DESKTOP_API __declspec(dllimport)
#else
#define FLUTTER_DESKTOP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Opaque handles owned by the library.
typedef struct FlutterDesktopEngine* FlutterDesktopEngineRef;
typedef struct FlutterDesktopViewController* FlutterDesktopViewControllerRef;
typedef struct FlutterDesktopView* FlutterDesktopViewRef;
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;
typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;
typedef struct FlutterDesktopMessageResponseHandle FlutterDesktopMessageResponseHandle;

// An incoming channel message, valid only during the callback. The host reads
// the payload, its size and the response handle; the first 16 bytes belong
// to the library.
typedef struct {
  uint8_t library_reserved[16];
  const uint8_t* message;
  uint64_t message_size;
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

// What the host hands to FlutterDesktopEngineCreate; every pointer is valid
// only during that call.
typedef struct {
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* aot_library_path;
  const char* entrypoint;  // never null; empty means the default entry
  int32_t entrypoint_argc;
  const char** entrypoint_argv;  // null when entrypoint_argc is 0
  int32_t engine_option_a;
  int32_t engine_option_b;
} FlutterDesktopEngineProperties;

typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef messenger,
                                              const FlutterDesktopMessage* message,
                                              void* user_data);
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);
typedef void (*FlutterDesktopOnNextFrameCallback)(void* user_data);

// Messenger.
FLUTTER_DESKTOP_API bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                                     const char* channel, const uint8_t* message,
                                                     size_t message_size);
FLUTTER_DESKTOP_API bool FlutterDesktopMessengerSendWithReply(
    FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
    size_t message_size, FlutterDesktopBinaryReply reply, void* user_data);
FLUTTER_DESKTOP_API void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* handle,
    const uint8_t* data, size_t data_length);
FLUTTER_DESKTOP_API void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                                            const char* channel,
                                                            FlutterDesktopMessageCallback callback,
                                                            void* user_data);
FLUTTER_DESKTOP_API FlutterDesktopMessengerRef
FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);
FLUTTER_DESKTOP_API void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);
FLUTTER_DESKTOP_API bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);
// Returns a token for FlutterDesktopMessengerUnlock, or null.
FLUTTER_DESKTOP_API FlutterDesktopMessengerRef
FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);
FLUTTER_DESKTOP_API void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef token);

#ifdef _WIN32
// Engine.
FLUTTER_DESKTOP_API FlutterDesktopEngineRef
FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties);
FLUTTER_DESKTOP_API bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);
FLUTTER_DESKTOP_API FlutterDesktopMessengerRef
FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine);
FLUTTER_DESKTOP_API FlutterDesktopPluginRegistrarRef
FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine, const char* plugin_name);
FLUTTER_DESKTOP_API void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine);
FLUTTER_DESKTOP_API void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback, void* user_data);

// View controller and view.
FLUTTER_DESKTOP_API FlutterDesktopViewControllerRef
FlutterDesktopViewControllerCreate(int width, int height, FlutterDesktopEngineRef engine);
FLUTTER_DESKTOP_API void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller);
FLUTTER_DESKTOP_API FlutterDesktopViewRef
FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller);
FLUTTER_DESKTOP_API void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller);
// True when the library consumed the message; *result is then its answer.
FLUTTER_DESKTOP_API bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message, WPARAM wparam,
    LPARAM lparam, LRESULT* result);
FLUTTER_DESKTOP_API HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);

// Process-wide helpers.
FLUTTER_DESKTOP_API UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);
FLUTTER_DESKTOP_API void FlutterDesktopResyncOutputStreams(void);
#endif  // _WIN32

#ifdef __cplusplus
}  // extern "C"
#endif

#ifdef __cplusplus
// The host reads these offsets; a library built to another layout would hand
// it garbage, so the layout is fixed at compile time.
static_assert(offsetof(FlutterDesktopMessage, message) == 16, "payload at 16");
static_assert(offsetof(FlutterDesktopMessage, message_size) == 24, "size at 24");
static_assert(offsetof(FlutterDesktopMessage, response_handle) == 32, "handle at 32");
static_assert(offsetof(FlutterDesktopEngineProperties, assets_path) == 0, "assets at 0");
static_assert(offsetof(FlutterDesktopEngineProperties, icu_data_path) == 8, "icu at 8");
static_assert(offsetof(FlutterDesktopEngineProperties, aot_library_path) == 16, "aot at 16");
static_assert(offsetof(FlutterDesktopEngineProperties, entrypoint) == 24, "entrypoint at 24");
static_assert(offsetof(FlutterDesktopEngineProperties, entrypoint_argc) == 32, "argc at 32");
static_assert(offsetof(FlutterDesktopEngineProperties, entrypoint_argv) == 40, "argv at 40");
static_assert(offsetof(FlutterDesktopEngineProperties, engine_option_a) == 48, "option A at 48");
static_assert(offsetof(FlutterDesktopEngineProperties, engine_option_b) == 52, "option B at 52");
static_assert(sizeof(FlutterDesktopEngineProperties) == 56, "properties are 56 bytes");
#endif
