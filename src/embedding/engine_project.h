// What the host tells the UI engine about the UI program: where its assets,
// ICU data and compiled code lie (relative to the folder given), its entry
// function and that function's arguments. A plain value: copied whole,
// moved without copying its strings.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace flutter {

struct EngineProject {
  explicit EngineProject(const std::wstring& folder)
      : assets_path(folder + L"\\flutter_assets"),
        icu_data_path(folder + L"\\icudtl.dat"),
        aot_library_path(folder + L"\\app.so") {}

  // Takes the list; the caller's list is left empty.
  void set_entrypoint_arguments(std::vector<std::string> arguments) {
    entrypoint_arguments = std::move(arguments);
  }

  std::wstring assets_path;
  std::wstring icu_data_path;
  std::wstring aot_library_path;
  std::string entrypoint;  // empty: the UI's default entry function
  std::vector<std::string> entrypoint_arguments;
  int32_t engine_option_a = 0;
  int32_t engine_option_b = 0;
};

}  // namespace flutter
