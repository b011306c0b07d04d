// The interactive stand-in UI: Connect, Disconnect, Status and Stats
// buttons over a log of replies, inside the view's child window. It sends
// what the real UI sends on the tunnel channel.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "standins/embedding/controller.h"

namespace tarnwick::standin {

constexpr char kTunnelChannel[] = "com.tarnwick.vpn/tunnel";

// A WireGuard configuration with freshly made keys (base64 of 32 random
// bytes each), for Connect when no configuration file is named. Empty if
// the system's random source fails.
std::string SampleTunnelConfig();

// Base64 with padding, as WireGuard writes keys.
std::string Base64(const uint8_t* bytes, size_t size);

class Panel : public UiProgram {
 public:
  Panel(Controller* controller, std::wstring config_path);

  void OnReply(ResponseRecord* record) override;
  void OnCommand(WPARAM wparam, LPARAM lparam) override;
  void OnSize(int width, int height) override;

 private:
  void Send(const std::string& method);
  void Log(const std::string& line);

  Controller* const controller_;
  const std::wstring config_path_;
  HWND buttons_[4] = {};
  HWND log_ = nullptr;
  std::map<const ResponseRecord*, std::string> pending_;  // record -> method
};

}  // namespace tarnwick::standin
