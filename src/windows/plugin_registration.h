// Connects the seven UI plug-in libraries to the running engine.
#pragma once

#include "embedding/plugin_registry.h"

namespace tarnwick {

// The UI libraries of the program folder: the embedding library and the
// seven plug-ins. They are delay-loaded imports, loaded at the first call
// into them, so only the interactive application ever loads them.
inline constexpr const wchar_t* kUiLibraries[] = {
    L"flutter_windows.dll",
    L"app_links_plugin.dll",
    L"connectivity_plus_plugin.dll",
    L"flutter_secure_storage_windows_plugin.dll",
    L"screen_retriever_plugin.dll",
    L"system_tray_plugin.dll",
    L"url_launcher_windows_plugin.dll",
    L"window_manager_plugin.dll",
};

// Asks registry for each plug-in's registrar, in a fixed order, and hands it
// to that plug-in's registration export. A null registrar is passed on as it
// is; nothing here fails.
void RegisterPlugins(flutter::PluginRegistry* registry);

}  // namespace tarnwick
