#include "windows/plugin_registration.h"

#include <string>

// The plug-in libraries' registration exports: delay-loaded imports (see
// kUiLibraries), so a library is loaded when its export is first called.
#if defined(_WIN32)
#define TARNWICK_PLUGIN_IMPORT __declspec(dllimport)
#else
#define TARNWICK_PLUGIN_IMPORT
#endif

extern "C" {
TARNWICK_PLUGIN_IMPORT void AppLinksPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
TARNWICK_PLUGIN_IMPORT void ConnectivityPlusWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
TARNWICK_PLUGIN_IMPORT void FlutterSecureStorageWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
TARNWICK_PLUGIN_IMPORT void ScreenRetrieverPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
TARNWICK_PLUGIN_IMPORT void SystemTrayPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
TARNWICK_PLUGIN_IMPORT void UrlLauncherWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
TARNWICK_PLUGIN_IMPORT void WindowManagerPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
}

namespace tarnwick {
namespace {

struct Plugin {
  const char* registrar_name;
  void (*register_with_registrar)(FlutterDesktopPluginRegistrarRef);
};

}  // namespace

void RegisterPlugins(flutter::PluginRegistry* registry) {
  // Registration order is the UI's: a plug-in may rely on one before it.
  const Plugin plugins[] = {
      {"AppLinksPluginCApi", AppLinksPluginCApiRegisterWithRegistrar},
      {"ConnectivityPlusWindowsPlugin", ConnectivityPlusWindowsPluginRegisterWithRegistrar},
      {"FlutterSecureStorageWindowsPlugin", FlutterSecureStorageWindowsPluginRegisterWithRegistrar},
      {"ScreenRetrieverPlugin", ScreenRetrieverPluginRegisterWithRegistrar},
      {"SystemTrayPlugin", SystemTrayPluginRegisterWithRegistrar},
      {"UrlLauncherWindows", UrlLauncherWindowsRegisterWithRegistrar},
      {"WindowManagerPlugin", WindowManagerPluginRegisterWithRegistrar},
  };
  for (const Plugin& plugin : plugins) {
    plugin.register_with_registrar(registry->GetRegistrarForPlugin(plugin.registrar_name));
  }
}

}  // namespace tarnwick
