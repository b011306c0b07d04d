#include "tunnel_channel/tunnel_stats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

constexpr uint64_t kLuid = 0x0047000001000000ull;  // what the lookup hands out

// One adapter as the two calls see it; records what they were asked.
struct FakeAdapter {
  NETIO_STATUS lookup = NO_ERROR;
  NETIO_STATUS entry = NO_ERROR;
  ULONG64 in_octets = 0;
  ULONG64 out_octets = 0;
  IF_OPER_STATUS status = IfOperStatusUp;

  std::vector<std::wstring> aliases_asked;
  std::vector<uint64_t> luids_asked;

  TunnelChannelCalls Calls() {
    TunnelChannelCalls calls;
    calls.ConvertInterfaceAliasToLuid = [this](const WCHAR* alias, NET_LUID* luid) {
      aliases_asked.emplace_back(alias);
      if (lookup != NO_ERROR) return lookup;
      luid->Value = kLuid;
      return static_cast<NETIO_STATUS>(NO_ERROR);
    };
    calls.GetIfEntry2 = [this](MIB_IF_ROW2* row) {
      luids_asked.push_back(row->InterfaceLuid.Value);
      if (entry != NO_ERROR) return entry;
      if (row->InterfaceLuid.Value != kLuid) return static_cast<NETIO_STATUS>(ERROR_FILE_NOT_FOUND);
      row->InOctets = in_octets;
      row->OutOctets = out_octets;
      row->OperStatus = status;
      return static_cast<NETIO_STATUS>(NO_ERROR);
    };
    return calls;
  }
};

TEST(ReadTunnelStats, CountersOfTheAdapterNamedAfterTheTunnel) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  struct Row {
    const char* what;
    NETIO_STATUS lookup, entry;
    ULONG64 in, out;
    TunnelStats expected;
    size_t entry_queries;
    IF_OPER_STATUS status = IfOperStatusUp;
  } rows[] = {
      // The tunnel is down: no counts, whatever the system still remembers.
      {"the adapter is down", NO_ERROR, NO_ERROR, 516, 516, {-1, -1}, 1, IfOperStatusDown},
      {"the adapter is gone but its alias lingers",
       NO_ERROR,
       NO_ERROR,
       0,
       0,
       {-1, -1},
       1,
       IfOperStatusUnknown},
      {"no adapter has the alias", ERROR_NOT_FOUND, NO_ERROR, 5, 6, {-1, -1}, 0},
      {"the lookup is refused", ERROR_INVALID_PARAMETER, NO_ERROR, 5, 6, {-1, -1}, 0},
      {"the adapter went away before its row was read",
       NO_ERROR,
       ERROR_FILE_NOT_FOUND,
       5,
       6,
       {-1, -1},
       1},
      {"the row cannot be read", NO_ERROR, ERROR_ACCESS_DENIED, 5, 6, {-1, -1}, 1},
      {"an adapter that carried nothing yet", NO_ERROR, NO_ERROR, 0, 0, {0, 0}, 1},
      {"received and sent differ", NO_ERROR, NO_ERROR, 123456, 789, {123456, 789}, 1},
      {"counts past 32 bits",
       NO_ERROR,
       NO_ERROR,
       0x1'0000'0001ull,
       5'000'000'000ull,
       {0x1'0000'0001ll, 5'000'000'000ll},
       1},
      {"counts past the signed range stay the largest count",
       NO_ERROR,
       NO_ERROR,
       ~0ull,
       static_cast<ULONG64>(kMax) + 1,
       {kMax, kMax},
       1},
      {"the largest signed count itself",
       NO_ERROR,
       NO_ERROR,
       static_cast<ULONG64>(kMax),
       1,
       {kMax, 1},
       1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeAdapter adapter;
    adapter.lookup = row.lookup;
    adapter.entry = row.entry;
    adapter.in_octets = row.in;
    adapter.out_octets = row.out;
    adapter.status = row.status;

    const TunnelStats stats = ReadTunnelStats(adapter.Calls());
    EXPECT_EQ(stats.rx_bytes, row.expected.rx_bytes);
    EXPECT_EQ(stats.tx_bytes, row.expected.tx_bytes);
    EXPECT_EQ(adapter.aliases_asked, std::vector<std::wstring>{TunnelAdapterAlias()});
    // The row is asked for by the LUID the lookup gave, never by index 0.
    EXPECT_EQ(adapter.luids_asked, std::vector<uint64_t>(row.entry_queries, kLuid));
  }
}

TEST(ReadTunnelStats, TunnelNameIsTheConfigurationFileNameWithoutExtension) {
  struct Row {
    const wchar_t* file_name;
    const wchar_t* name;
  } rows[] = {
      {L"office.conf", L"office"},
      {L"office.eu.conf", L"office.eu"},
      {L"home.conf.bak", L"home.conf"},
      {L"plain", L"plain"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(TunnelNameFromConfigFileName(row.file_name), row.name);
  }
}

}  // namespace
}  // namespace tarnwick
