// The stand-in tunnel's configuration check: what it accepts, what it
// rejects and how it says so without repeating a key.
#include "standins/tunnel/wireguard_config.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tarnwick::CheckWireGuardConfig;
using tarnwick::IsWireGuardKey;

constexpr char kPrivate[] = "yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=";
constexpr char kPublic[] = "xTIBA5rboUvnH4htodjb6e697QjLERt1NAB4mZqp8Dg=";

TEST(WireGuardConfigTest, KeysAreCanonicalBase64OfThirtyTwoBytes) {
  const struct {
    std::string text;
    bool key;
  } cases[] = {
      {kPrivate, true},
      {std::string(43, 'A') + "=", true},
      {std::string(42, '/') + "8=", true},   // '8' is 60: low bits clear
      {std::string(42, '/') + "9=", false},  // 61: leftover bits set, not canonical
      {std::string(43, 'A'), false},
      {std::string(44, 'A'), false},
      {std::string(42, 'A') + "==", false},  // 31 bytes
      {std::string(44, 'A') + "=", false},
      {std::string(42, 'A') + "-A=", false},  // URL-safe alphabet is not base64
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsWireGuardKey(c.text), c.key) << c.text;
}

TEST(WireGuardConfigTest, AcceptsConfigurationsAsWrittenByHand) {
  const std::string pk = kPrivate;
  const std::string pub = kPublic;
  const struct {
    std::string text;
    int peers;
  } cases[] = {
      {"[Interface]\nPrivateKey = " + pk + "\nAddress = 10.0.0.2/32\n[Peer]\nPublicKey = " + pub +
           "\nAllowedIPs = 0.0.0.0/0\n",
       1},
      // CRLF, byte-order mark, comments, blank lines, case and spacing.
      {"\xEF\xBB\xBF# tunnel\r\n\r\n[interface]\r\n  privatekey=" + pk +
           "  # mine\r\naddress = 10.0.0.2/32, fd00::2/128\r\nDNS = 1.1.1.1\r\n\r\n[ PEER ]\r\n"
           "PublicKey = " +
           pub + "\r\nPresharedKey = " + pk +
           "\r\nAllowedIPs = ::/0\r\n"
           "Endpoint = [2001:db8::1]:51820\r\nPersistentKeepalive = 25",
       1},
      {"[Peer]\nPublicKey = " + pub +
           "\nAllowedIPs = 10.0.0.0/8\n[Interface]\nAddress = 10.0.0.2/32\n"
           "PrivateKey = " +
           pk + "\n[Peer]\nAllowedIPs = 10.1.0.0/16\nPublicKey = " + pub + "\n",
       2},
  };
  for (const auto& c : cases) {
    const auto check = CheckWireGuardConfig(c.text);
    EXPECT_TRUE(check.valid) << check.problem << "\n" << c.text;
    EXPECT_TRUE(check.problem.empty());
    EXPECT_EQ(check.peer_count, c.peers);
  }
}

TEST(WireGuardConfigTest, RejectsWhatTheTunnelCouldNotRunAndSaysWhereWithoutTheKey) {
  const std::string pk = kPrivate;
  const std::string pub = kPublic;
  const std::string iface = "[Interface]\nPrivateKey = " + pk + "\nAddress = 10.0.0.2/32\n";
  const std::string peer = "[Peer]\nPublicKey = " + pub + "\nAllowedIPs = 0.0.0.0/0\n";
  const std::string bad_key = pk.substr(0, 40) + "===";
  const struct {
    std::string text;
    std::string problem;
  } cases[] = {
      {"", "no [Interface] section"},
      {"# only a comment\n\n", "no [Interface] section"},
      {peer, "no [Interface] section"},
      {"[Interface]\nAddress = 10.0.0.2/32\n" + peer, "[Interface] has no PrivateKey"},
      {"[Interface]\nPrivateKey = " + pk + "\n" + peer, "[Interface] has no Address"},
      {iface, "no [Peer] section"},
      {iface + "[Peer]\nAllowedIPs = 0.0.0.0/0\n", "line 4: [Peer] has no PublicKey"},
      {iface + peer + "[Peer]\nPublicKey = " + pub + "\n", "line 7: [Peer] has no AllowedIPs"},
      {"[Interface]\nPrivateKey = " + bad_key + "\nAddress = 10.0.0.2/32\n" + peer,
       "line 2: PrivateKey is not base64 of 32 bytes"},
      {"[Interface]\nPrivateKey =\nAddress = 10.0.0.2/32\n" + peer,
       "line 2: PrivateKey is not base64 of 32 bytes"},
      {iface + "[Peer]\nPublicKey = " + pub + "x\nAllowedIPs = 0.0.0.0/0\n",
       "line 5: PublicKey is not base64 of 32 bytes"},
      {iface + peer + "PresharedKey = " + bad_key + "\n",
       "line 7: PresharedKey is not base64 of 32 bytes"},
      {iface + "PrivateKey = " + pk + "\n" + peer, "line 4: duplicate PrivateKey"},
      {iface + peer + "PublicKey = " + pub + "\n", "line 7: duplicate PublicKey"},
      {iface + iface + peer, "line 4: second [Interface] section"},
      {"Address = 10.0.0.2/32\n" + iface + peer, "line 1: setting outside a section"},
      {iface + "[Tunnel]\n" + peer, "line 4: unknown section"},
      {iface + "[Peer\n", "line 4: unterminated section header"},
      {iface + peer + "= 1\n", "line 7: setting without a name"},
      {iface + peer + pk + "\n", "line 7: unknown setting"},
      {iface + "Endpoint = 192.0.2.1:1\n" + peer, "line 4: unknown setting"},
      {iface + peer + "just words\n", "line 7: not a setting"},
      {"[Interface]\nPrivateKey = " + pk + "\nAddress =   # none\n" + peer,
       "line 3: Address is empty"},
      {iface + "[Peer]\nPublicKey = " + pub + "\nAllowedIPs =\n", "line 6: AllowedIPs is empty"},
  };
  for (const auto& c : cases) {
    const auto check = CheckWireGuardConfig(c.text);
    EXPECT_FALSE(check.valid) << c.text;
    EXPECT_EQ(check.problem, c.problem) << c.text;
    EXPECT_EQ(check.problem.find(pk.substr(0, 8)), std::string::npos);
    EXPECT_EQ(check.problem.find(pub.substr(0, 8)), std::string::npos);
  }
}

}  // namespace
