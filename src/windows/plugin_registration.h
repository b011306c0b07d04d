// Connects the seven UI plug-in libraries to the running engine.
#pragma once

#include "embedding/plugin_registry.h"

namespace tarnwick {

// Asks registry for each plug-in's registrar, in a fixed order, and hands it
// to that plug-in's registration export. A null registrar is passed on as it
// is; nothing here fails.
void RegisterPlugins(flutter::PluginRegistry* registry);

}  // namespace tarnwick
