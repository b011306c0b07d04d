#include "standins/tunnel/wireguard_config.h"

#include <vector>

namespace tarnwick {
namespace {

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::string_view Trim(std::string_view text) {
  const auto is_space = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
  };
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Settings the tunnel knows besides the ones checked; any other name is
// refused, as the tunnel would (and not repeated, since a stray line may be
// a key pasted on its own).
constexpr std::string_view kOtherInterfaceSettings[] = {
    "ListenPort", "DNS",   "MTU",    "Table",   "FwMark",
    "SaveConfig", "PreUp", "PostUp", "PreDown", "PostDown"};
constexpr std::string_view kOtherPeerSettings[] = {"Endpoint", "PersistentKeepalive"};

template <size_t N>
bool IsOneOf(std::string_view key, const std::string_view (&names)[N]) {
  for (std::string_view name : names) {
    if (EqualsIgnoreCase(key, name)) return true;
  }
  return false;
}

struct PeerSeen {
  int line = 0;
  bool public_key = false;
  bool allowed_ips = false;
};

WireGuardConfigCheck Invalid(std::string problem) {
  WireGuardConfigCheck check;
  check.problem = std::move(problem);
  return check;
}

std::string AtLine(int line, std::string_view what) {
  return "line " + std::to_string(line) + ": " + std::string(what);
}

}  // namespace

bool IsWireGuardKey(std::string_view text) {
  if (text.size() != 44 || text[43] != '=') return false;
  for (size_t i = 0; i < 43; ++i) {
    if (Base64Value(text[i]) < 0) return false;
  }
  // 43 symbols carry 258 bits for 256: the last symbol's two low bits are
  // padding and are zero in the one canonical spelling of a key.
  return (Base64Value(text[42]) & 0x3) == 0;
}

WireGuardConfigCheck CheckWireGuardConfig(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  enum class Section { kNone, kInterface, kPeer };
  Section section = Section::kNone;
  int interface_count = 0;
  bool private_key = false;
  bool address = false;
  std::vector<PeerSeen> peers;

  int line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

    // No setting's value can hold '#', so it always starts a comment.
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;

    if (line.front() == '[') {
      if (line.back() != ']') return Invalid(AtLine(line_number, "unterminated section header"));
      const std::string_view name = Trim(line.substr(1, line.size() - 2));
      if (EqualsIgnoreCase(name, "Interface")) {
        if (++interface_count > 1)
          return Invalid(AtLine(line_number, "second [Interface] section"));
        section = Section::kInterface;
      } else if (EqualsIgnoreCase(name, "Peer")) {
        peers.push_back(PeerSeen{line_number});
        section = Section::kPeer;
      } else {
        return Invalid(AtLine(line_number, "unknown section"));
      }
      continue;
    }

    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return Invalid(AtLine(line_number, "not a setting"));
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    if (key.empty()) return Invalid(AtLine(line_number, "setting without a name"));
    if (section == Section::kNone) return Invalid(AtLine(line_number, "setting outside a section"));

    const std::string name(key);
    const auto duplicate = [&] { return Invalid(AtLine(line_number, "duplicate " + name)); };
    const auto not_a_key = [&] {
      return Invalid(AtLine(line_number, name + " is not base64 of 32 bytes"));
    };
    const auto empty = [&] { return Invalid(AtLine(line_number, name + " is empty")); };

    if (section == Section::kInterface) {
      if (EqualsIgnoreCase(key, "PrivateKey")) {
        if (private_key) return duplicate();
        if (!IsWireGuardKey(value)) return not_a_key();
        private_key = true;
      } else if (EqualsIgnoreCase(key, "Address")) {
        if (value.empty()) return empty();
        address = true;
      } else if (!IsOneOf(key, kOtherInterfaceSettings)) {
        return Invalid(AtLine(line_number, "unknown setting"));
      }
    } else {
      PeerSeen& peer = peers.back();
      if (EqualsIgnoreCase(key, "PublicKey")) {
        if (peer.public_key) return duplicate();
        if (!IsWireGuardKey(value)) return not_a_key();
        peer.public_key = true;
      } else if (EqualsIgnoreCase(key, "PresharedKey")) {
        if (!IsWireGuardKey(value)) return not_a_key();
      } else if (EqualsIgnoreCase(key, "AllowedIPs")) {
        if (value.empty()) return empty();
        peer.allowed_ips = true;
      } else if (!IsOneOf(key, kOtherPeerSettings)) {
        return Invalid(AtLine(line_number, "unknown setting"));
      }
    }
  }

  if (interface_count == 0) return Invalid("no [Interface] section");
  if (!private_key) return Invalid("[Interface] has no PrivateKey");
  if (!address) return Invalid("[Interface] has no Address");
  if (peers.empty()) return Invalid("no [Peer] section");
  for (const PeerSeen& peer : peers) {
    if (!peer.public_key) return Invalid(AtLine(peer.line, "[Peer] has no PublicKey"));
    if (!peer.allowed_ips) return Invalid(AtLine(peer.line, "[Peer] has no AllowedIPs"));
  }

  WireGuardConfigCheck check;
  check.valid = true;
  check.peer_count = static_cast<int>(peers.size());
  return check;
}

}  // namespace tarnwick
