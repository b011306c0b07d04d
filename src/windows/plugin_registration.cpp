#include "windows/plugin_registration.h"

#include <string>

// The plug-in libraries' registration exports: delay-loaded imports (see
// kUiLibraries), so a library is loaded when its export is first called.
#if defined(_WIN32)
#define TARNWICK_PLUGIN_IMPORT __declspec(dllimport)
#else
#define TARNWICK_PLUGIN_IMPORT
#endif

// One declaration per export of the plug-in list.
extern "C" {
#define TARNWICK_PLUGIN(registrar_name, export_name, library) \
  TARNWICK_PLUGIN_IMPORT void export_name(FlutterDesktopPluginRegistrarRef registrar);
#include "plugin_table.inc"
#undef TARNWICK_PLUGIN
}

namespace tarnwick {
namespace {

struct Plugin {
  const char* registrar_name;
  void (*register_with_registrar)(FlutterDesktopPluginRegistrarRef);
};

}  // namespace

void RegisterPlugins(flutter::PluginRegistry* registry) {
  // Registration order is the list's, which is the UI's: a plug-in may rely
  // on one before it.
  const Plugin plugins[] = {
#define TARNWICK_PLUGIN(registrar_name, export_name, library) {registrar_name, export_name},
#include "plugin_table.inc"
#undef TARNWICK_PLUGIN
  };
  for (const Plugin& plugin : plugins) {
    plugin.register_with_registrar(registry->GetRegistrarForPlugin(plugin.registrar_name));
  }
}

}  // namespace tarnwick
