// One UI plug-in library in place of the real one: it exports the plug-in's
// registration function and records every call, so tests can check that the
// host asked for the right registrar and handed it over once, in order.
//
// Built once per plug-in; the build defines
//   TARNWICK_PLUGIN_NAME    the registrar name, a string literal
//   TARNWICK_PLUGIN_EXPORT  the registration export's identifier
//
// Each call is recorded twice: as a debugger-output line, and as a line
// appended to the plug-in log beside the stand-in UI's transcript when one is
// named (its path plus ".plugins"). Not the transcript itself: the stand-in
// UI writes that through a handle of its own, at its own file position.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "embedding/flutter_windows_api.h"
#include "standins/plugins/plugin_record.h"

#ifndef TARNWICK_PLUGIN_NAME
#error "TARNWICK_PLUGIN_NAME must name the plug-in"
#endif

#define TARNWICK_STRINGIFY2(x) #x
#define TARNWICK_STRINGIFY(x) TARNWICK_STRINGIFY2(x)

namespace {

// The host calls the export on its UI thread only; the count is still kept
// with an interlocked add so that no call is lost.
volatile LONG g_calls = 0;

// The plug-in log: the transcript path as the stand-in UI finds it (the
// last "--standin-transcript=" argument, else the environment variable),
// plus ".plugins". Empty when no transcript is named.
std::wstring PluginLogPath() {
  std::wstring path;
  int count = 0;
  if (wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count)) {
    const size_t prefix_length = wcslen(tarnwick::kTranscriptArgument);
    for (int i = 1; i < count; ++i) {
      if (wcsncmp(arguments[i], tarnwick::kTranscriptArgument, prefix_length) == 0) {
        path = arguments[i] + prefix_length;
      }
    }
    LocalFree(arguments);
  }
  if (!path.empty()) return path + tarnwick::kPluginLogSuffix;
  const DWORD needed = GetEnvironmentVariableW(tarnwick::kTranscriptVariable, nullptr, 0);
  if (needed == 0) return path;
  path.resize(needed);
  const DWORD length = GetEnvironmentVariableW(tarnwick::kTranscriptVariable, path.data(), needed);
  path.resize(length < needed ? length : 0);
  return path.empty() ? path : path + tarnwick::kPluginLogSuffix;
}

void AppendToPluginLog(const char* line, size_t length) {
  const std::wstring path = PluginLogPath();
  if (path.empty()) return;
  // FILE_APPEND_DATA without FILE_WRITE_DATA makes every write land at the
  // end, so the seven libraries (or several processes) never overwrite each
  // other's lines.
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
}

void Record(FlutterDesktopPluginRegistrarRef registrar) {
  const LONG call = InterlockedIncrement(&g_calls);
  char line[256];
  const int length =
      tarnwick::FormatPluginRecord(line, sizeof(line), TARNWICK_STRINGIFY(TARNWICK_PLUGIN_EXPORT),
                                   TARNWICK_PLUGIN_NAME, registrar, call);
  if (length <= 0) return;
  AppendToPluginLog(line, static_cast<size_t>(length));

  wchar_t wide[256];
  const int wide_length = MultiByteToWideChar(CP_UTF8, 0, line, length, wide,
                                              static_cast<int>(sizeof(wide) / sizeof(wide[0])) - 1);
  if (wide_length <= 0) return;
  wide[wide_length] = L'\0';
  OutputDebugStringW(wide);
}

}  // namespace

extern "C" __declspec(dllexport) void TARNWICK_PLUGIN_EXPORT(
    FlutterDesktopPluginRegistrarRef registrar) {
  // No exception may leave a library export.
  try {
    Record(registrar);
  } catch (...) {
  }
}
