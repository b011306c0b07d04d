// The stand-in engine's objects behind the opaque handles of the flat
// interface. Every object lives until the library is unloaded, even after
// its engine has ended: a handle the host uses too late then reaches a
// record that says so (a FAIL line) instead of freed memory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "embedding/flutter_windows_api.h"

namespace tarnwick::standin {

class Controller;
struct Engine;

// Where the UI program's settings come from: entry-point arguments first,
// then the environment.
struct Settings {
  std::wstring script;
  std::wstring transcript;
  std::wstring config;
};
Settings ResolveSettings(const std::vector<std::string>& arguments);

struct Binding {
  FlutterDesktopMessageCallback callback = nullptr;
  void* user_data = nullptr;
};

// One delivered message and its answer; its address is the response handle.
struct ResponseRecord {
  int id = 0;
  std::string channel;
  std::vector<uint8_t> request;
  Controller* controller = nullptr;
  HWND notify = nullptr;  // the view window, told when the answer arrives
  bool delivered = false;
  bool answered = false;
  std::vector<uint8_t> reply;
};

struct Messenger {
  int id = 0;
  Engine* engine = nullptr;
  // The host's lock: taken by FlutterDesktopMessengerLock and by the end of
  // the engine, so an answer is sent wholly before the end or not at all.
  // Recursive because the host answers under it from inside a callback.
  std::recursive_mutex host_lock;
  // The rest is guarded by World::mutex.
  bool available = true;
  long refs = 1;  // the engine's own
  uint64_t locks = 0, unlocks = 0, addrefs = 0, releases = 0;
  std::thread::id lock_owner;
  int lock_depth = 0;
  std::map<std::string, Binding> bindings;
};

struct Registrar {
  int id = 0;
  Engine* engine = nullptr;
  std::string name;
};

struct Engine {
  int id = 0;
  Messenger* messenger = nullptr;
  Settings settings;
  std::wstring assets_path, icu_data_path, aot_library_path;
  std::map<std::string, Registrar*> registrars;
  FlutterDesktopOnNextFrameCallback next_frame = nullptr;
  void* next_frame_data = nullptr;
  Controller* controller = nullptr;
  bool ended = false;
};

struct View {
  int id = 0;
  Controller* controller = nullptr;
};

// All objects and the lock that guards their state. Host callbacks are
// never called while `mutex` is held.
class World {
 public:
  static World& Get();

  std::mutex mutex;

  Engine* NewEngine();
  Registrar* NewRegistrar(Engine* engine, const std::string& name);
  View* NewView(Controller* controller);
  Controller* AddController(std::unique_ptr<Controller> controller);
  ResponseRecord* NewResponse();
  int NextControllerId();

  // Checked casts from handles; null (and a FAIL line from the caller) when
  // the handle is not one this library gave out.
  Engine* FindEngine(const void* handle);
  Messenger* FindMessenger(const void* handle);
  Controller* FindController(const void* handle);
  View* FindView(const void* handle);
  ResponseRecord* FindResponse(const void* handle);

 private:
  World() = default;
  template <typename T>
  struct Pool {
    std::deque<std::unique_ptr<T>> items;
    std::set<const void*> known;
    T* Add(std::unique_ptr<T> item) {
      T* raw = item.get();
      items.push_back(std::move(item));
      known.insert(raw);
      return raw;
    }
    T* Find(const void* handle) const {
      return known.count(handle) != 0 ? static_cast<T*>(const_cast<void*>(handle)) : nullptr;
    }
  };
  Pool<Engine> engines_;
  Pool<Messenger> messengers_;
  Pool<Registrar> registrars_;
  Pool<View> views_;
  Pool<Controller> controllers_;
  Pool<ResponseRecord> responses_;
};

// Engine paths: relative ones are taken from the executable's folder.
std::wstring ResolveEnginePath(const std::wstring& path);

}  // namespace tarnwick::standin
