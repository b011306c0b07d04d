#include "standins/embedding/engine.h"

#include "standins/embedding/controller.h"
#include "standins/embedding/transcript.h"

namespace tarnwick::standin {
namespace {

struct SettingName {
  const char* argument;  // with its '='
  const wchar_t* variable;
  std::wstring Settings::*field;
};

const SettingName kSettings[] = {
    {"--standin-script=", L"TARNWICK_STANDIN_SCRIPT", &Settings::script},
    {"--standin-transcript=", L"TARNWICK_STANDIN_TRANSCRIPT", &Settings::transcript},
    {"--standin-config=", L"TARNWICK_STANDIN_CONFIG", &Settings::config},
};

bool IsAbsolute(const std::wstring& path) {
  return (path.size() >= 2 && path[1] == L':') ||
         (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

}  // namespace

Settings ResolveSettings(const std::vector<std::string>& arguments) {
  Settings settings;
  for (const SettingName& name : kSettings) {
    const std::string prefix = name.argument;
    bool found = false;
    for (const std::string& argument : arguments) {
      if (argument.compare(0, prefix.size(), prefix) == 0) {
        settings.*name.field = WideFromNarrow(argument.substr(prefix.size()));
        found = true;  // the last one wins, as with most command lines
      }
    }
    if (!found) settings.*name.field = EnvironmentValue(name.variable);
  }
  return settings;
}

std::wstring ResolveEnginePath(const std::wstring& path) {
  if (IsAbsolute(path)) return path;
  std::wstring module(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    if (length == 0) return path;
    if (length < module.size()) {
      module.resize(length);
      break;
    }
    module.resize(module.size() * 2);
  }
  const size_t slash = module.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : module.substr(0, slash + 1)) + path;
}

World& World::Get() {
  // Never destroyed: the host may still release references while the
  // process ends.
  static World* const world = new World();
  return *world;
}

Engine* World::NewEngine() {
  auto engine = std::make_unique<Engine>();
  engine->id = static_cast<int>(engines_.items.size()) + 1;
  auto messenger = std::make_unique<Messenger>();
  messenger->id = static_cast<int>(messengers_.items.size()) + 1;
  messenger->engine = engine.get();
  engine->messenger = messengers_.Add(std::move(messenger));
  return engines_.Add(std::move(engine));
}

Registrar* World::NewRegistrar(Engine* engine, const std::string& name) {
  auto registrar = std::make_unique<Registrar>();
  registrar->id = static_cast<int>(registrars_.items.size()) + 1;
  registrar->engine = engine;
  registrar->name = name;
  return registrars_.Add(std::move(registrar));
}

View* World::NewView(Controller* controller) {
  auto view = std::make_unique<View>();
  view->id = static_cast<int>(views_.items.size()) + 1;
  view->controller = controller;
  return views_.Add(std::move(view));
}

int World::NextControllerId() { return static_cast<int>(controllers_.items.size()) + 1; }

Controller* World::AddController(std::unique_ptr<Controller> controller) {
  return controllers_.Add(std::move(controller));
}

ResponseRecord* World::NewResponse() {
  auto record = std::make_unique<ResponseRecord>();
  record->id = static_cast<int>(responses_.items.size()) + 1;
  return responses_.Add(std::move(record));
}

Engine* World::FindEngine(const void* handle) { return engines_.Find(handle); }
Messenger* World::FindMessenger(const void* handle) { return messengers_.Find(handle); }
Controller* World::FindController(const void* handle) { return controllers_.Find(handle); }
View* World::FindView(const void* handle) { return views_.Find(handle); }
ResponseRecord* World::FindResponse(const void* handle) { return responses_.Find(handle); }

}  // namespace tarnwick::standin
