#!/usr/bin/env bash
# The per-machine MSI end to end, in a fresh Wine prefix of its own: install,
# the installed tarnwick.exe installing and running the tunnel service,
# uninstall with the tunnel running (nothing of ours left), major upgrade
# while connected, refused downgrade, uninstall meeting links, a second name
# and a held file, and the restart after it. One line per case; the first failure ends the run with a message
# saying what was wrong and a non-zero exit code.
#
#   msi_test.sh --msi <pkg.msi> --version <x.y.z>
#               --older-msi <pkg.msi> --older-version <x.y.z>
#               --app-dir <app folder> --icon <app.ico>
#               --monitor <dbwin_monitor.exe> --holder <hold_file.exe>
#               --work-dir <scratch folder>
set -uo pipefail

while [ $# -gt 0 ]; do
  case $1 in
    --msi) msi=$2 ;;
    --version) version=$2 ;;
    --older-msi) older_msi=$2 ;;
    --older-version) older_version=$2 ;;
    --app-dir) app_dir=$2 ;;
    --icon) icon=$2 ;;
    --monitor) monitor=$2 ;;
    --holder) holder=$2 ;;
    --work-dir) work=$2 ;;
    *) echo "msi_test: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done
for v in msi version older_msi older_version app_dir icon monitor holder work; do
  [ -n "${!v:-}" ] || { echo "msi_test: --${v//_/-} missing" >&2; exit 2; }
done
for f in "$msi" "$older_msi" "$icon" "$monitor" "$holder" "$app_dir/tarnwick.exe"; do
  [ -f "$f" ] || { echo "FAIL setup: $f does not exist (build the mingw preset first)"; exit 1; }
done

started=$SECONDS
rm -rf "$work"
mkdir -p "$work/logs"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
# No menu entries outside the prefix, no Mono or Gecko installers.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
unset WINEPATH WINESERVER
drive_c=$WINEPREFIX/drive_c
program_dir="$drive_c/Program Files/Tarnwick"
# The tunnel's names, as the product has them.
source "$(dirname "$0")/../../scripts/identity.sh"
config_folder=$(tarnwick_identity ConfigFolderName)
config_file=$(tarnwick_identity ConfigFileName)
policy_key="HKLM\\$(tarnwick_identity PolicyKey)"
data_dir="$drive_c/ProgramData/$config_folder"
data_win="C:\\ProgramData\\$config_folder"
service=$(tarnwick_identity TunnelServiceName)
config="$data_win\\$config_file"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
session_manager='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'
wine_log=$work/logs/wine.log
monitor_pid=""
holder_pid=""
last_msi_log=""

stop_process() {
  if [ -n "$1" ]; then kill "$1" 2>/dev/null; wait "$1" 2>/dev/null; fi
}
cleanup() {
  stop_process "$monitor_pid"
  stop_process "$holder_pid"
  wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

fail() {
  echo "FAIL $case_name: $*"
  if [ -n "${last_msi_log:-}" ] && [ -f "$last_msi_log" ]; then
    echo "--- last lines of $last_msi_log"
    tr -d '\r' <"$last_msi_log" | tail -n 25
  fi
  if [ -s "$work/logs/dbwin.log" ]; then
    echo "--- debugger output"
    tail -n 25 "$work/logs/dbwin.log"
  fi
  exit 1
}
ok() { echo "ok   $case_name: $*"; }

# Every Wine program runs with its output in a file: processes Wine starts on
# the side (services, the desktop) inherit it and must not hold ctest's pipe.
w() { wine "$@" </dev/null >>"$wine_log" 2>&1; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Wine stops every service when its last ordinary process ends: the monitor
# keeps one alive, and records the debugger output in logs/dbwin.log (an
# earlier monitor's lines are kept as dbwin-<n>.log).
start_monitor() {
  [ -s "$work/logs/dbwin.log" ] && mv "$work/logs/dbwin.log" "$work/logs/dbwin-$SECONDS.log"
  wine "$monitor" </dev/null >"$work/logs/dbwin.log" 2>>"$wine_log" &
  monitor_pid=$!
}

# logged <text> [<earlier text>]: a debugger-output line holding text (after
# one holding the earlier text) arrives within 5 s.
logged() {
  for _ in $(seq 10); do
    text=$1 earlier=${2:-} awk 'BEGIN { after = ENVIRON["earlier"] == "" }
      after && index($0, ENVIRON["text"]) { found = 1 }
      !after && index($0, ENVIRON["earlier"]) { after = 1 }
      END { exit !found }' "$work/logs/dbwin.log" && return 0
    sleep 0.5
  done
  return 1
}

# expect_running: the service reaches RUNNING within 10 s, from the installed
# tarnwick.exe with the ProgramData configuration.
expect_running() {
  local state="" image
  for _ in $(seq 20); do
    state=$(wine sc query "$service" </dev/null 2>>"$wine_log" | tr -d '\r' | sed -n 's/.*STATE *: *[0-9]* *//p')
    [ "$state" = RUNNING ] && break
    sleep 0.5
  done
  [ "$state" = RUNNING ] || fail "service state is '${state:-unknown}', expected RUNNING"
  image=$(wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$service" /v ImagePath </dev/null 2>>"$wine_log" \
    | tr -d '\r' | sed -n 's/.*ImagePath *REG_[A-Z_]* *//p')
  grep -qiF "\"C:\\Program Files\\Tarnwick\\tarnwick.exe\" /service \"$config\"" <<<"$image" \
    || fail "service ImagePath is '${image:-missing}', expected the installed tarnwick.exe /service \"$config\""
}

# A configuration the tunnel stand-in accepts, as the app stages it.
write_config() {
  mkdir -p "$data_dir"
  printf '%s\r\n' '[Interface]' 'PrivateKey = yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=' 'Address = 10.7.0.2/32' \
    '' '[Peer]' 'PublicKey = xTIBA5rboUvnH4htodjb6e697QjLERt1NAB4mZqp8Dg=' 'AllowedIPs = 0.0.0.0/0' \
    'Endpoint = 127.0.0.1:51820' >"$data_dir/$config_file"
}

# connect: what the app's startTunnel runs, with the installed executable.
connect() {
  wine 'C:\Program Files\Tarnwick\tarnwick.exe' /svc-install "$config" </dev/null >>"$wine_log" 2>&1
  code=$?
  [ "$code" = 0 ] || fail "tarnwick.exe /svc-install exited with $code, expected 0"
  expect_running
}

# msi <log name> <msiexec arguments...>: runs msiexec with a verbose log and
# sets code to its exit code, read inside Wine because the shell sees it cut
# to 8 bits. Runs in this shell (never in $(...)), so a failure ends the test.
msi() {
  local name=$1; shift
  last_msi_log=$work/logs/$name.log
  wine cmd /c "msiexec $* /l*v $(winpath "$last_msi_log") & echo exit=%ERRORLEVEL%" </dev/null \
    >"$work/logs/$name.exit" 2>>"$wine_log"
  code=$(tr -d '\r' <"$work/logs/$name.exit" | sed -n 's/^exit=//p' | tail -n 1)
}

# The Add/Remove Programs entries named Tarnwick, one line each:
# "<key name>|<DisplayVersion>|<Publisher>".
arp_entries() {
  wine reg query "$uninstall_key" /s </dev/null 2>>"$wine_log" | tr -d '\r' | awk '
    function flush() { if (name == "Tarnwick") print key "|" ver "|" pub; name = ver = pub = "" }
    /^HKEY_/ { flush(); key = $0; sub(/.*\\/, "", key); next }
    $1 == "DisplayName" { name = substr($0, index($0, "REG_SZ") + 10) }
    $1 == "DisplayVersion" { ver = substr($0, index($0, "REG_SZ") + 10) }
    $1 == "Publisher" { pub = substr($0, index($0, "REG_SZ") + 10) }
    END { flush() }'
}

# The installer's registry spelling of a GUID: the first three groups
# reversed, then each byte's two digits swapped.
packed_guid() {
  sed -E 's/[{}-]//g' <<<"$1" | awk '{
    n = split("8 4 4 2 2 2 2 2 2 2 2", len, " "); p = 1; out = ""
    for (i = 1; i <= n; i++) {
      part = substr($0, p, len[i]); p += len[i]; r = ""
      for (j = length(part); j > 0; j--) r = r substr(part, j, 1)
      out = out r
    }
    print out }'
}

# expect_one_entry <version>: exactly one entry, of that version; sets
# product_code.
expect_one_entry() {
  local entries count
  entries=$(arp_entries)
  count=$(grep -c . <<<"$entries")
  [ "$count" -eq 1 ] || fail "expected one Add/Remove entry named Tarnwick, found $count: ${entries:-none}"
  IFS='|' read -r product_code entry_version entry_publisher <<<"$entries"
  [ "$entry_version" = "$1" ] || fail "Add/Remove entry has version '$entry_version', expected $1"
  [ "$entry_publisher" = "Tarnwick" ] || fail "Add/Remove entry has publisher '$entry_publisher', expected Tarnwick"
}

# The program folder holds exactly the app folder's files, byte for byte,
# and nothing went to the 32-bit Program Files.
expect_app_installed() {
  [ -d "$program_dir" ] || fail "no $program_dir"
  local want have
  want=$(cd "$app_dir" && find . -mindepth 1 -printf '%y %P\n' | sort)
  have=$(cd "$program_dir" && find . -mindepth 1 -printf '%y %P\n' | sort)
  [ "$want" = "$have" ] || fail "Program Files\\Tarnwick differs from the app folder: $(diff <(echo "$want") <(echo "$have") | grep '^[<>]' | tr '\n' ' ')"
  while read -r type path; do
    [ "$type" = f ] || continue
    cmp -s "$app_dir/$path" "$program_dir/$path" || fail "installed $path differs from the app folder's"
  done <<<"$want"
  local x86
  x86=$(find "$drive_c/Program Files (x86)" -iname '*tarnwick*' 2>/dev/null)
  [ -z "$x86" ] || fail "found under Program Files (x86): $x86"
}

# snapshot <name>: the registry trees the package and the service touch, one
# line per value with its key, and every path under drive_c.
snapshot() {
  local root out=$work/snap-$1
  : >"$out.reg"
  for root in 'HKEY_LOCAL_MACHINE\Software' 'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services'; do
    rm -f "$work/export.reg"
    w regedit /e "$(winpath "$work/export.reg")" "$root"
    [ -s "$work/export.reg" ] || fail "regedit exported nothing for $root"
    iconv -f UTF-16LE -t UTF-8 "$work/export.reg" | tr -d '\r' | sed -e ':a' -e '/\\$/N; s/\\\n *//; ta' | awk '
      /^\[/ { key = $0; print key; next }
      NF { print key "\t" $0 }' >>"$out.reg"
  done
  sort -o "$out.reg" "$out.reg"
  (cd "$drive_c" && find . -mindepth 1 -printf '%y %P\n' | sort) >"$out.files"
}

# Left by any first package in a prefix, and present on every Windows before
# ours: the installer's own registration containers and its package cache
# folder, created on first use and left empty. Only the bare, empty ones
# pass (a value or a subkey or file of ours in them is a line of its own);
# anything else that differs from before the install is ours and fails.
installer_keys='^\[HKEY_LOCAL_MACHINE\\Software\\(Classes\\Installer(\\(Features|Products|UpgradeCodes))?|Microsoft\\Windows\\CurrentVersion\\Installer\\(UpgradeCodes|UserData(\\S-1-5-18(\\(Components|Products))?)?))\]$'
installer_dirs='^d windows/Installer$'
# Wine's installer also deletes the keys above a removed value that the
# removal left empty, up to the empty Eventlog\Application a fresh prefix
# has; on Windows that key holds every application's event source.
wine_emptied_keys='^\[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Eventlog\\Application\]$'

# ---- the packages' tables ----
# The older product's removal comes after InstallInitialize, inside the
# install's transaction, and before any file of the new one is written (the
# .wxs schedules it: wixl has no MajorUpgrade/@Schedule); only the upgrade
# marker and the InstallExecute that runs it may come between.
case_name=package
for package in "$msi" "$older_msi"; do
  sequence=$(msiinfo export "$package" InstallExecuteSequence | tr -d '\r' \
    | awk -F'\t' 'NR > 3 { print $3 "\t" $1 }' | sort -n | cut -f 2)
  between=$(sed -n '/^InstallInitialize$/,/^RemoveExistingProducts$/p' <<<"$sequence" | tr '\n' ' ')
  [ "$between" = "InstallInitialize MarkUpgrade InstallExecute RemoveExistingProducts " ] \
    || fail "$(basename "$package"): from InstallInitialize to RemoveExistingProducts: '${between:-nothing}'"
done
ok "RemoveExistingProducts after InstallInitialize and the upgrade marker in both packages"

case_name=setup
w wineboot -i || fail "wineboot -i failed in $WINEPREFIX"
wineserver -w
# The administrator's opt-in that lets /svc-install accept a program folder
# whose DACL Wine cannot show. It is machine policy, set before the first
# snapshot: the package does not own it and must not remove it.
w reg add "$policy_key" /v "$(tarnwick_identity AllowUnprotectedProgramFolderValue)" /t REG_DWORD /d 1 /f \
  || fail "cannot set AllowUnprotectedProgramFolder"
snapshot before
echo "ok   setup: fresh prefix $WINEPREFIX ($((SECONDS - started)) s)"

# ---- install ----
case_name=install
msi install /i "$(winpath "$msi")" /qn
[ "$code" = 0 ] || fail "msiexec /i exited with '${code:-nothing}', expected 0"
expect_app_installed
expect_one_entry "$version"
new_product_code=$product_code
packed=$(packed_guid "$product_code")
wine reg query "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product_code" </dev/null >>"$wine_log" 2>&1 \
  && fail "the Add/Remove entry is in the 32-bit registry view"
product_icon=$(wine reg query "HKLM\\Software\\Classes\\Installer\\Products\\$packed" /v ProductIcon </dev/null 2>>"$wine_log" \
  | tr -d '\r' | sed -n 's/.*ProductIcon *REG_SZ *//p')
[ -n "$product_icon" ] || fail "no per-machine ProductIcon for $product_code (ARPPRODUCTICON)"
icon_file=$drive_c/$(sed -E 's/^[Cc]:\\//; s/\\/\//g' <<<"$product_icon")
cmp -s "$icon" "$icon_file" || fail "the Add/Remove icon $product_icon is not src/resources/app.ico"
# Wine resolves ProgramMenuFolder to the installing user's Start Menu even
# for a per-machine package; Windows uses the all-users one. Either is the
# package's ProgramMenuFolder.
shortcut=$(find "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" \
  "$drive_c/users" -path '*Start Menu/Programs/Tarnwick.lnk' 2>/dev/null | head -n 1)
[ -n "$shortcut" ] || fail "no Start-menu shortcut Tarnwick.lnk"
grep -qaF 'C:\Program Files\Tarnwick\tarnwick.exe' "$shortcut" || fail "the shortcut does not point to C:\\Program Files\\Tarnwick\\tarnwick.exe"
# The privileged copies' lines reach Event Viewer through the source
# "Tarnwick", whose messages are the installed executable's.
event_file=$(wine reg query "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\$(tarnwick_identity EventSourceName)" /v EventMessageFile </dev/null 2>>"$wine_log" \
  | tr -d '\r' | sed -n 's/.*EventMessageFile *REG_SZ *//p')
[ "$event_file" = 'C:\Program Files\Tarnwick\tarnwick.exe' ] || fail "event source message file is '${event_file:-missing}'"
ok "exit 0, $(find "$program_dir" -type f | wc -l) files as in the app folder, entry $product_code $version, icon, shortcut, event source"

# ---- the installed exe installs and runs the tunnel service ----
case_name=service
write_config
start_monitor
connect
ok "service installed from Program Files and RUNNING"

# ---- uninstall with the tunnel running ----
case_name=uninstall
msi uninstall /x "$(winpath "$msi")" /qn
[ "$code" = 0 ] || fail "msiexec /x exited with '${code:-nothing}', expected 0"
wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$service" </dev/null >>"$wine_log" 2>&1 \
  && fail "service $service is still registered"
[ ! -e "$data_dir" ] || fail "ProgramData\\Tarnwick is still there: $(ls -A "$data_dir" | tr '\n' ' ')"
[ ! -e "$program_dir" ] || fail "Program Files\\Tarnwick is still there: $(cd "$program_dir" && find . | tr '\n' ' ')"
[ -z "$(arp_entries)" ] || fail "Add/Remove entry left: $(arp_entries)"
# Stopped through the service manager before it was deleted, not cut off.
for _ in $(seq 10); do
  grep -q '\[tunnel-standin\] stopped' "$work/logs/dbwin.log" && break
  sleep 0.5
done
grep -q '\[tunnel-standin\] stopped' "$work/logs/dbwin.log" || fail "the tunnel never reported a stop during the uninstall"
stop_process "$monitor_pid"; monitor_pid=""
snapshot after
reg_left=$(comm -13 "$work/snap-before.reg" "$work/snap-after.reg" | grep -vE "$installer_keys")
reg_gone=$(comm -23 "$work/snap-before.reg" "$work/snap-after.reg" | grep -vE "$wine_emptied_keys")
files_left=$(comm -13 "$work/snap-before.files" "$work/snap-after.files" | grep -vE "$installer_dirs")
files_gone=$(comm -23 "$work/snap-before.files" "$work/snap-after.files")
[ -z "$reg_left$reg_gone" ] || fail "registry differs from before the install: $(printf '%s\n' "$reg_left" | sed 's/^/+ /' | head -n 20) $(printf '%s\n' "$reg_gone" | sed 's/^/- /' | head -n 20)"
[ -z "$files_left$files_gone" ] || fail "drive_c differs from before the install: $(printf '%s\n' "$files_left" | sed 's/^/+ /' | head -n 20) $(printf '%s\n' "$files_gone" | sed 's/^/- /' | head -n 20)"
ok "exit 0; tunnel stopped, service, ProgramData\\Tarnwick, program folder, entry gone; registry and drive_c as before"

# ---- upgrade while connected ----
case_name=upgrade
msi older-install /i "$(winpath "$older_msi")" /qn
[ "$code" = 0 ] || fail "msiexec /i of $older_version exited with '${code:-nothing}', expected 0"
expect_one_entry "$older_version"
older_product_code=$product_code
[ "$older_product_code" != "$new_product_code" ] || fail "$older_version and $version share the product code $product_code"
write_config
cp "$data_dir/$config_file" "$work/config.before"
# Windows runs the older package's removal inside a major upgrade with
# UPGRADINGPRODUCTCODE set, which keeps ProgramData\Tarnwick; that removal,
# run by hand with the property set, as Windows would. (Wine 8 sets only
# REMOVE=ALL there: the real upgrade below shows the package's marker.)
msi older-remove-as-upgrade /x "$(winpath "$older_msi")" /qn "UPGRADINGPRODUCTCODE=$new_product_code"
[ "$code" = 0 ] || fail "msiexec /x of $older_version with UPGRADINGPRODUCTCODE exited with '${code:-nothing}', expected 0"
[ -f "$data_dir/$config_file" ] || fail "removal as part of an upgrade deleted $data_win"
[ ! -e "$program_dir" ] || fail "removal as part of an upgrade left Program Files\\Tarnwick"
[ -z "$(arp_entries)" ] || fail "removal as part of an upgrade left the entry: $(arp_entries)"
msi older-reinstall /i "$(winpath "$older_msi")" /qn
[ "$code" = 0 ] || fail "msiexec /i of $older_version again exited with '${code:-nothing}', expected 0"
# Connected through the older version, then upgraded.
start_monitor
connect
logged "read configuration \"$config\": 1 peer" || fail "the tunnel of $older_version never read the configuration"
msi upgrade /i "$(winpath "$msi")" /qn
[ "$code" = 0 ] || fail "msiexec /i of $version over $older_version exited with '${code:-nothing}', expected 0"
expect_one_entry "$version"
[ "$product_code" = "$new_product_code" ] || fail "the entry is $product_code, expected $new_product_code"
expect_app_installed
cmp -s "$work/config.before" "$data_dir/$config_file" || fail "the upgrade did not keep $config as it was"
expect_running
# Stopped for the new files, then started from them with the same file.
logged "read configuration \"$config\": 1 peer" '[tunnel-standin] stopped' \
  || fail "the tunnel did not stop and read the configuration again from the new files"
wine reg query "$policy_key" /v "$(tarnwick_identity UpgradeInProgressValue)" </dev/null >>"$wine_log" 2>&1 \
  && fail "the upgrade left its marker in $policy_key"
ok "ProgramData\\Tarnwick kept by an upgrade's removal; $older_version -> $version while connected: exit 0, one entry $version, files of $version, configuration as it was, tunnel RUNNING again from Program Files"
echo "note repair: Wine 8's msiexec /f answers 1605 for a package path and 1 for a product code, so a repair (which restarts the tunnel the same way) cannot be shown here"

# ---- downgrade ----
case_name=downgrade
msi downgrade /i "$(winpath "$older_msi")" /qn
[ -n "$code" ] || fail "no exit code from msiexec /i of $older_version over $version"
[ "$code" != 0 ] || fail "msiexec /i of $older_version over $version succeeded, expected a refusal"
refused_code=$code
# Refused for the right reason: the launch condition on the newer product
# found through the UpgradeCode (Wine's log of a silent install carries the
# property and the failed action, not the message text).
grep -qaF "WIX_DOWNGRADE_DETECTED = $new_product_code" "$last_msi_log" \
  || fail "msiexec refused $older_version (exit $code) without detecting $new_product_code as newer"
grep -qa "LaunchConditions. Return value 0" "$last_msi_log" \
  || fail "msiexec refused $older_version (exit $code), but not through its launch condition"
expect_one_entry "$version"
expect_app_installed
ok "$older_version over $version refused (exit $refused_code) by the downgrade launch condition; $version still installed"

# ---- uninstall meeting links, a second name and a held file ----
case_name=uninstall-guarded
# The folder's owner may put a link to anything in it, give a file of their
# own a second name there, and hold a file open without letting anyone
# delete it.
mkdir -p "$work/outside/inner" && echo "not the package's" >"$work/outside/inner/precious.dll"
ln -s "$work/outside" "$data_dir/evil" && mkdir -p "$data_dir/sub" \
  && ln "$work/outside/inner/precious.dll" "$data_dir/sub/precious.dll" || fail "cannot make the links"
wine "$holder" "$data_win\\held.txt" 120 </dev/null >"$work/logs/holder.out" 2>>"$wine_log" &
holder_pid=$!
for _ in $(seq 20); do grep -q held "$work/logs/holder.out" && break; sleep 0.5; done
msi final-uninstall /x "$(winpath "$msi")" /qn
[ "$code" = 0 ] || fail "msiexec /x with a held file exited with '${code:-nothing}', expected 0"
[ ! -e "$data_dir/$config_file" ] || fail "the key $config is still there"
[ "$(cat "$work/outside/inner/precious.dll" 2>&1)" = "not the package's" ] || fail "the outside file lost its content"
[ ! -e "$data_dir/sub" ] || fail "the second name's folder is still there: $(ls -A "$data_dir/sub" | tr '\n' ' ')"
logged "RemoveTunnelData: $data_win\\held.txt is held open by another program; left in place" \
  || fail "no line names the held file"
# Wine cannot remove a symbolic link without following it, so the product
# leaves it there and names it; Windows removes the link itself.
[ -L "$data_dir/evil" ] && ! logged "RemoveTunnelData: $data_win\\evil is a link" \
  && fail "the link is left without a line naming it"
pending=$(wine reg query "$session_manager" /v PendingFileRenameOperations </dev/null 2>>"$wine_log" | tr -d '\r')
grep -qiF "$data_win\\" <<<"$pending" && fail "a path below $data_win waits for the restart: $pending"
ok "exit 0; key and the second name gone, the outside file intact, the held file and the link left and named, nothing below ProgramData\\Tarnwick scheduled"

# ---- the restart after it ----
case_name=restart
# What the owner can do next: put a link to the outside folder where the
# removed subfolder was. A restart resolves every path it was given afresh.
stop_process "$holder_pid"; holder_pid=""
ln -s "$work/outside/inner" "$data_dir/sub" || fail "cannot make the link"
w wineboot -r || fail "wineboot -r failed"
[ "$(cat "$work/outside/inner/precious.dll" 2>&1)" = "not the package's" ] \
  || fail "the restart deleted the file the new link leads to"
rm -f "$data_dir/evil" "$data_dir/sub"; rm -rf "$data_dir"
w reg delete "$session_manager" /v PendingFileRenameOperations /f
ok "the file behind a link laid after the uninstall survives the restart"

echo "msi_test: all cases passed in $((SECONDS - started)) s"
