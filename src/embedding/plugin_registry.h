// Where plug-ins get their registrar: one per plug-in name, owned by the
// engine. The engine wrapper is the one registry of the process.
#pragma once

#include <string>

#include "embedding/flutter_windows_api.h"

namespace flutter {

class PluginRegistry {
 public:
  PluginRegistry() = default;
  PluginRegistry(const PluginRegistry&) = delete;
  PluginRegistry& operator=(const PluginRegistry&) = delete;
  virtual ~PluginRegistry() = default;

  // Null when no registrar can be had (the engine is not there).
  virtual FlutterDesktopPluginRegistrarRef GetRegistrarForPlugin(
      const std::string& plugin_name) = 0;
};

}  // namespace flutter
