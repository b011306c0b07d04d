// Connects the seven UI plug-in libraries to the running engine.
#pragma once

#include "embedding/plugin_registry.h"

namespace tarnwick {

// The UI libraries of the program folder: the embedding library and the
// plug-ins of the plug-in list (src/windows/plugins.list). They are
// delay-loaded imports, loaded at the first call into them, so only the
// interactive application ever loads them.
inline constexpr const wchar_t* kUiLibraries[] = {
    L"flutter_windows.dll",
#define TARNWICK_PLUGIN(registrar_name, export_name, library) library,
#include "plugin_table.inc"
#undef TARNWICK_PLUGIN
};

// Asks registry for each plug-in's registrar, in the list's order, and hands
// it to that plug-in's registration export. A null registrar is passed on as it
// is; nothing here fails.
void RegisterPlugins(flutter::PluginRegistry* registry);

}  // namespace tarnwick
