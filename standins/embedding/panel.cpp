#include "standins/embedding/panel.h"

#include <bcrypt.h>

#include <algorithm>

#include "standins/embedding/transcript.h"
#include "standins/embedding/ui_value.h"

namespace tarnwick::standin {
namespace {

struct Button {
  int id;
  const wchar_t* label;
  const char* method;
};

constexpr Button kButtons[] = {
    {101, L"Connect", "startTunnel"},
    {102, L"Disconnect", "stopTunnel"},
    {103, L"Status", "getStatus"},
    {104, L"Stats", "getStats"},
};
constexpr int kLogId = 105;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 110;
constexpr int kButtonHeight = 30;
// The log keeps the newest lines; an all-day session should not grow it
// without bound.
constexpr LRESULT kMaxLogLines = 500;

bool RandomKey(std::string* key) {
  uint8_t bytes[32];
  if (!BCRYPT_SUCCESS(
          BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return false;
  }
  *key = Base64(bytes, sizeof bytes);
  return true;
}

}  // namespace

std::string Base64(const uint8_t* bytes, size_t size) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t b0 = bytes[i];
    const uint32_t b1 = i + 1 < size ? bytes[i + 1] : 0;
    const uint32_t b2 = i + 2 < size ? bytes[i + 2] : 0;
    const uint32_t group = b0 << 16 | b1 << 8 | b2;
    out += kAlphabet[group >> 18 & 63];
    out += kAlphabet[group >> 12 & 63];
    out += i + 1 < size ? kAlphabet[group >> 6 & 63] : '=';
    out += i + 2 < size ? kAlphabet[group & 63] : '=';
  }
  return out;
}

std::string SampleTunnelConfig() {
  std::string private_key, peer_key;
  if (!RandomKey(&private_key) || !RandomKey(&peer_key)) return {};
  // Documentation addresses only: the sample must never reach a real peer.
  return "[Interface]\n"
         "PrivateKey = " +
         private_key +
         "\n"
         "Address = 10.64.0.2/32\n"
         "DNS = 10.64.0.1\n"
         "\n"
         "[Peer]\n"
         "PublicKey = " +
         peer_key +
         "\n"
         "AllowedIPs = 0.0.0.0/0\n"
         "Endpoint = 192.0.2.10:51820\n"
         "PersistentKeepalive = 25\n";
}

Panel::Panel(Controller* controller, std::wstring config_path)
    : controller_(controller), config_path_(std::move(config_path)) {
  HWND parent = controller_->window();
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE));
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  for (size_t i = 0; i < 4; ++i) {
    buttons_[i] = CreateWindowExW(
        0, L"BUTTON", kButtons[i].label, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0,
        0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtons[i].id)), instance,
        nullptr);
    SendMessageW(buttons_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  log_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
                         WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL, 0,
                         0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLogId)),
                         instance, nullptr);
  SendMessageW(log_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  RECT client{};
  GetClientRect(parent, &client);
  OnSize(client.right, client.bottom);
  Log(config_path_.empty() ? "Connect sends a sample configuration with fresh keys"
                           : "Connect sends " + NarrowFromWide(config_path_));
}

void Panel::OnSize(int width, int height) {
  for (int i = 0; i < 4; ++i) {
    MoveWindow(buttons_[i], kMargin + i * (kButtonWidth + kMargin), kMargin, kButtonWidth,
               kButtonHeight, TRUE);
  }
  const int top = 2 * kMargin + kButtonHeight;
  MoveWindow(log_, kMargin, top, (std::max)(0, width - 2 * kMargin),
             (std::max)(0, height - top - 4 * kMargin), TRUE);
}

void Panel::OnCommand(WPARAM wparam, LPARAM /*lparam*/) {
  if (HIWORD(wparam) != BN_CLICKED) return;
  for (const Button& button : kButtons) {
    if (LOWORD(wparam) == button.id) Send(button.method);
  }
}

void Panel::Send(const std::string& method) {
  UiValue arguments;
  if (method == "startTunnel") {
    std::string config;
    if (config_path_.empty()) {
      config = SampleTunnelConfig();
      if (config.empty()) {
        Log("cannot make keys for the sample configuration");
        return;
      }
    } else if (!ReadWholeFile(config_path_, &config)) {
      Log("cannot read " + NarrowFromWide(config_path_));
      return;
    }
    arguments.type = WireType::kMap;
    arguments.items = {UiValue::String("config"), UiValue::String(config)};
  }
  Log("-> " + method);
  const ResponseRecord* record =
      controller_->Deliver(kTunnelChannel, EncodeMethodCall(method, arguments));
  pending_[record] = method;
}

void Panel::OnReply(ResponseRecord* record) {
  auto it = pending_.find(record);
  if (it == pending_.end()) return;
  std::vector<uint8_t> reply;
  if (!controller_->ReadAnswer(record, &reply)) return;
  const std::string text = DescribeReply(reply);
  Log("<- " + it->second + ": " + (text == "empty" ? std::string("not implemented") : text));
  pending_.erase(it);
}

void Panel::Log(const std::string& line) {
  SendMessageW(log_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromNarrow(line).c_str()));
  while (SendMessageW(log_, LB_GETCOUNT, 0, 0) > kMaxLogLines) {
    SendMessageW(log_, LB_DELETESTRING, 0, 0);
  }
  const LRESULT count = SendMessageW(log_, LB_GETCOUNT, 0, 0);
  if (count > 0) SendMessageW(log_, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
}

}  // namespace tarnwick::standin
