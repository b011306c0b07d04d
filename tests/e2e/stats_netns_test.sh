#!/usr/bin/env bash
# getStats against a real adapter. Wine answers IP Helper from its prefix's
# device host with the Linux interfaces of that host's network namespace, so
# this test makes a namespace of its own and starts a fresh prefix inside
# it. There a veth pair gives an adapter named like the tunnel;
# its far end lives in a second, nested namespace, because traffic between
# two addresses of one namespace goes over loopback and never touches the
# adapter. All traffic stays on the pair's own addresses, bounded in count
# and time.
#
# One run of tarnwick.exe asks getStats three times, each after a cue file
# this script writes once it has changed the network:
#   1. before the pair exists:                 -1 and -1
#   2. after 20 echo round trips of 1000 bytes: at least those octets each way
#   3. after 30 one-way broadcasts (the far end ignores them): sent grows by
#      at least their size, received does not see them
# Replies 2 and 3 must lie between the kernel's own counters read just
# before the cue and just after the reply. Then the pair is deleted and a
# second run asks once more:                   -1 and -1
# Wine's device host keeps an adapter it has seen after the kernel deletes
# it (still found by its alias, status unknown, counters 0), so the second
# run comes after the prefix's wineserver, and with it the device host,
# was restarted.
#
# Usage: stats_netns_test.sh <app dir> <work dir>
set -u

fail() {
  echo "stats_netns_test: FAIL: $*"
  exit 1
}

[ $# -eq 2 ] || fail "usage: $0 <app dir> <work dir>"
app=$(cd "$1" 2>/dev/null && pwd) || fail "no app folder $1"
[ -f "$app/tarnwick.exe" ] || fail "no tarnwick.exe in $app"
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${TARNWICK_STATS_NETNS:-}" = "" ]; then
  unshare -n true 2>/dev/null ||
    fail "cannot make a network namespace (unshare -n needs root or CAP_SYS_ADMIN)"
  TARNWICK_STATS_NETNS=$(readlink /proc/self/ns/net) exec unshare -n -- bash "$0" "$@"
fi
[ "$(readlink /proc/self/ns/net)" != "$TARNWICK_STATS_NETNS" ] ||
  fail "still in the outer network namespace"

work=$2
mkdir -p "$work" || fail "cannot make $work"
work=$(cd "$work" && pwd)
cd "$work" || fail "cannot enter $work"
rm -f stats*.script stats*.transcript* tarnwick*.out cue-* ping.log broadcast.log

# Addresses of the pair's own /30; .3 is its broadcast address.
near=169.254.77.1
far=169.254.77.2
broadcast=169.254.77.3
# The tunnel's adapter: named after the configuration file, without its
# extension.
source "$root/scripts/identity.sh"
config_file=$(tarnwick_identity ConfigFileName)
alias=${config_file%.*}
ping_count=20
ping_size=1000
broadcast_count=30
ip_bytes=$((ping_size + 28))  # ICMP payload + 8 (ICMP) + 20 (IPv4) per packet

peer_pid=""
wine_pid=""
cleanup() {
  if [ -n "$wine_pid" ]; then kill "$wine_pid" 2>/dev/null; wait "$wine_pid" 2>/dev/null; fi
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
  if [ -n "$peer_pid" ]; then kill "$peer_pid" 2>/dev/null; wait "$peer_pid" 2>/dev/null; fi
  virtual_display_down
}
trap cleanup EXIT

ip link set lo up || fail "cannot bring lo up in the namespace"

# ---- display and a prefix whose wineserver lives in this namespace ----
source "$root/scripts/wine-env.sh"
virtual_display_up
xdpyinfo >/dev/null 2>&1 || fail "no usable X display in the namespace (DISPLAY=${DISPLAY:-})"
rm -rf "$work/wineprefix"
wine_prefix_up "$work" >"$work/wine-setup.log" 2>&1 </dev/null
[ -f "$WINEPREFIX/system.reg" ] || fail "the prefix $WINEPREFIX was not created (see wine-setup.log)"

# ---- the kernel's view of the adapter ----
# kernel_counters: prints "<received> <sent>" octets of the adapter, or
# nothing when it does not exist.
kernel_counters() {
  awk -v name="$alias" '{
    line = $0; sub(/^ +/, "", line)
    colon = index(line, ":")
    if (substr(line, 1, colon - 1) == name) { split(substr(line, colon + 1), f, " "); print f[1], f[9] }
  }' /proc/net/dev
}

make_pair() {
  unshare -n sleep 300 &
  peer_pid=$!
  local i
  for i in $(seq 50); do
    [ "$(readlink "/proc/$peer_pid/ns/net" 2>/dev/null)" != "$(readlink /proc/self/ns/net)" ] && break
    sleep 0.1
  done
  [ "$(readlink "/proc/$peer_pid/ns/net" 2>/dev/null)" != "$(readlink /proc/self/ns/net)" ] ||
    fail "the far end's namespace was not made"
  ip link add "$alias" type veth peer name "$alias-peer" netns "/proc/$peer_pid/ns/net" ||
    fail "cannot make the veth pair $alias / $alias-peer"
  # Only the test's own packets on the pair: no IPv6 chatter.
  echo 1 >"/proc/sys/net/ipv6/conf/$alias/disable_ipv6" 2>/dev/null
  ip addr add "$near/30" dev "$alias" && ip link set "$alias" up ||
    fail "cannot address or raise $alias"
  nsenter -t "$peer_pid" -n bash -c "
    ip link set lo up &&
    { echo 1 >/proc/sys/net/ipv6/conf/$alias-peer/disable_ipv6; true; } 2>/dev/null &&
    echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_broadcasts &&
    ip addr add $far/30 dev $alias-peer && ip link set $alias-peer up" ||
    fail "cannot set up the far end $alias-peer"
  [ -n "$(kernel_counters)" ] || fail "the kernel does not list $alias"
}

# ---- the run ----
channel=com.tarnwick.vpn/tunnel
unknown='{"rx_bytes": -1L, "tx_bytes": -1L}'
cat >stats1.script <<EOF
timeout 60000
wait frame
call $channel getStats
expect success $unknown
wait file cue-pair-up
call $channel getStats
expect any
wait file cue-one-way
call $channel getStats
expect any
wait file cue-down
call $channel getStats
expect success $unknown
wait file cue-removed
call $channel getStats
expect success $unknown
close
EOF
cat >stats2.script <<EOF
wait frame
call $channel getStats
expect success $unknown
close
EOF

# start_app <n>: runs tarnwick.exe with stats<n>.script in the background.
start_app() {
  run=$1
  timeout 200 wine "$app/tarnwick.exe" --standin-script="stats$run.script" \
    --standin-transcript="stats$run.transcript" >"tarnwick$run.out" 2>&1 </dev/null &
  wine_pid=$!
}

# end_app: waits for the run to end; it must exit 0.
end_app() {
  wait "$wine_pid"
  local code=$?
  wine_pid=""
  [ "$code" -eq 0 ] || fail "tarnwick.exe (run $run) exited with $code; output: $(cat "tarnwick$run.out")"
}

# wait_replies <n>: until the run's transcript holds n replies.
wait_replies() {
  local i n
  for i in $(seq 900); do
    n=$(grep -c '^REPLY ' "stats$run.transcript" 2>/dev/null)
    [ "${n:-0}" -ge "$1" ] && return 0
    kill -0 "$wine_pid" 2>/dev/null ||
      fail "tarnwick.exe ended before reply $1; output: $(cat "tarnwick$run.out"); transcript: $(cat "stats$run.transcript" 2>/dev/null)"
    sleep 0.1
  done
  fail "no reply $1 within 90 s; transcript: $(cat "stats$run.transcript" 2>/dev/null)"
}

start_app 1
wait_replies 1
make_pair
ping -c "$ping_count" -s "$ping_size" -i 0.05 -W 1 -w 10 -q -I "$alias" "$far" >ping.log 2>&1
grep -q "$ping_count packets transmitted, $ping_count received" ping.log ||
  fail "echo across the pair failed: $(cat ping.log)"
before2=$(kernel_counters)
touch cue-pair-up
wait_replies 2
after2=$(kernel_counters)

# The far end ignores broadcast echoes, so these only leave the adapter.
ping -b -c "$broadcast_count" -s "$ping_size" -i 0.05 -W 1 -q -I "$alias" "$broadcast" >broadcast.log 2>&1
grep -q "$broadcast_count packets transmitted, 0 received" broadcast.log ||
  fail "the one-way broadcasts did not go out as planned: $(cat broadcast.log)"
before3=$(kernel_counters)
touch cue-one-way
wait_replies 3
after3=$(kernel_counters)

# A tunnel that is down carries nothing: the adapter set down keeps its
# last counts, and after it is gone this prefix still resolves its alias
# (with zeros); both read -1.
ip link set "$alias" down || fail "cannot set $alias down"
touch cue-down
wait_replies 4
ip link del "$alias" || fail "cannot delete $alias"
[ -z "$(kernel_counters)" ] || fail "$alias still listed after deletion"
touch cue-removed
wait_replies 5

end_app

wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1
wine_prefix_up "$work" >>"$work/wine-setup.log" 2>&1 </dev/null
start_app 2
end_app

# ---- the replies ----
# decode_int64 <16 hex digits, little-endian>: the signed decimal value.
decode_int64() {
  local hex=$1 be="" i
  for i in 14 12 10 8 6 4 2 0; do be+=${hex:$i:2}; done
  echo $((16#$be))
}

mapfile -t replies < <(cat stats1.transcript stats2.transcript | grep '^REPLY ' |
  sed -E 's/.* hex=([0-9a-f]*).*/\1/')
[ "${#replies[@]}" -eq 6 ] ||
  fail "expected 5 + 1 replies, got ${#replies[@]}: $(cat stats1.transcript stats2.transcript)"
# Success envelope, a map of two: "rx_bytes" then "tx_bytes", both 64-bit.
shape='^000d020708(72785f6279746573)04([0-9a-f]{16})0708(74785f6279746573)04([0-9a-f]{16})$'
rx=()
tx=()
for i in 0 1 2 3 4 5; do
  [[ ${replies[$i]} =~ $shape ]] || fail "reply $((i + 1)) is not the stats map: ${replies[$i]}"
  rx[$i]=$(decode_int64 "${BASH_REMATCH[2]}")
  tx[$i]=$(decode_int64 "${BASH_REMATCH[4]}")
done
labels=("before the pair exists" "after $ping_count echoes of $ping_size bytes"
  "after $broadcast_count one-way broadcasts" "the adapter set down" "the pair deleted"
  "after the pair was deleted, new device host")
for i in 0 1 2 3 4 5; do
  echo "getStats -> rx_bytes=${rx[$i]}, tx_bytes=${tx[$i]}  (${labels[$i]})"
done
echo "kernel: before/after reply 2: $before2 / $after2; reply 3: $before3 / $after3"

status=0
check() {
  if ! eval "$1"; then
    echo "stats_netns_test: FAIL: $2 ($1)"
    status=1
  fi
}
read -r k_rx2a k_tx2a <<<"$before2"
read -r k_rx2b k_tx2b <<<"$after2"
read -r k_rx3a k_tx3a <<<"$before3"
read -r k_rx3b k_tx3b <<<"$after3"
echoed=$((ping_count * ip_bytes))
one_way=$((broadcast_count * ip_bytes))

check '[ "${rx[0]}" -eq -1 ] && [ "${tx[0]}" -eq -1 ]' "no adapter yet: -1 and -1"
check '[ "${rx[1]}" -ge "$echoed" ] && [ "${tx[1]}" -ge "$echoed" ]' \
  "counters hold at least the $echoed octets echoed each way"
check '[ "$k_rx2a" -le "${rx[1]}" ] && [ "${rx[1]}" -le "$k_rx2b" ]' "received octets are the kernel's"
check '[ "$k_tx2a" -le "${tx[1]}" ] && [ "${tx[1]}" -le "$k_tx2b" ]' "sent octets are the kernel's"
check '[ "$((tx[2] - tx[1]))" -ge "$one_way" ]' "sent grows by at least the $one_way one-way octets"
check '[ "${rx[2]}" -ge "${rx[1]}" ] && [ "$((rx[2] - rx[1]))" -lt "$((one_way / 2))" ]' \
  "received does not see the one-way traffic"
check '[ "$k_rx3a" -le "${rx[2]}" ] && [ "${rx[2]}" -le "$k_rx3b" ]' "received octets are the kernel's"
check '[ "$k_tx3a" -le "${tx[2]}" ] && [ "${tx[2]}" -le "$k_tx3b" ]' "sent octets are the kernel's"
check '[ "${rx[3]}" -eq -1 ] && [ "${tx[3]}" -eq -1 ]' "adapter down: -1 and -1"
check '[ "${rx[4]}" -eq -1 ] && [ "${tx[4]}" -eq -1 ]' "adapter deleted: -1 and -1"
check '[ "${rx[5]}" -eq -1 ] && [ "${tx[5]}" -eq -1 ]' "adapter deleted, new device host: -1 and -1"
for run in 1 2; do
  check 'grep -q "^RESULT PASS" stats$run.transcript && ! grep -q "^FAIL" stats$run.transcript' \
    "the stand-in's transcript of run $run passes"
done
if [ "$status" -ne 0 ]; then
  for run in 1 2; do echo "--- transcript $run"; cat "stats$run.transcript"; done
fi
[ "$status" -eq 0 ] && echo "stats_netns_test: PASS"
exit "$status"
