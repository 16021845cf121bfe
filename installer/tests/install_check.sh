#!/bin/sh
# MarlVss.msi installed, used, upgraded and removed by Wine's msiexec, in a
# prefix of its own with the stand-in VSS coordinator registered
# (run_in_own_prefix.sh ... none) and the stand-in COM+ catalog, which this
# script registers:
#
#   install_check.sh WINE64 PACKAGE UPGRADE_PACKAGE ACTIVATION_TEST_EXE CATALOG_DLL
#
# ACTIVATION_TEST_EXE is the COM activation test built against this test's
# simulator; it runs against the DLL the package installed. The environment
# names the simulator's address (MARL_ARRAY_ADDRESS) and another address the
# configurator is given (MARL_OTHER_ADDRESS). Prints each failed check; exits
# 1 when any failed.
set -u
: "${MARL_ARRAY_ADDRESS:?}" "${MARL_OTHER_ADDRESS:?}"
wine64=$1 package=$2 upgrade=$3 activation=$4 catalog_dll=$5
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

folder="$WINEPREFIX/drive_c/Program Files/Marl VSS"
: "${USER:=$(id -un)}"
# Wine's msiexec puts a per-machine package's shortcuts in the installing
# user's Start menu; Windows puts them in the common one. Either will do.
menus="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Marl VSS
$WINEPREFIX/drive_c/users/$USER/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Marl VSS"
menu_exists() { printf '%s\n' "$menus" | while IFS= read -r m; do [ -e "$m" ] && echo yes; done | grep -q yes; }
shortcut_exists() { printf '%s\n' "$menus" | while IFS= read -r m; do [ -f "$m/$1" ] && echo yes; done | grep -q yes; }
binaries="MarlVssProvider.dll MarlVssRegister.exe MarlVssConfigurator.exe MarlVssDebugTool.exe
diskshadow_cmd.txt"
clsid='HKCR\CLSID\{5E52A9EE-6D5F-468C-8BD6-7DC26EFB4051}'
typelib='HKCR\TypeLib\{161A2EB8-693B-4E2F-8FE6-127C9B8C8596}'
progid='HKCR\QVssProvider.QProvider'
progid1='HKCR\QVssProvider.QProvider.1'
appid='HKCR\AppID\{F2ED9FE2-9BA1-4980-BD79-6B1E6239A3B3}'
appid_dll='HKCR\AppID\QVssProvider.DLL'
store='HKLM\Software\Marl\TestVssCoordinator'
vss_provider="$store\\Providers\\{07CAA863-7DBD-4572-B2B4-67F6D9495E3F}"
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
catalog='HKLM\Software\Marl\TestComPlusCatalog'
application="$catalog\\Applications\\{D4A99159-36FD-4045-9EBF-3E28CA72EB12}"
service='HKLM\System\CurrentControlSet\Services\marlvssprovider'

msiexec() { "$wine64" msiexec "$@" </dev/null >/dev/null 2>&1; }
has_key() { "$wine64" reg query "$1" </dev/null >/dev/null 2>&1; }
# msiinfo ends its lines with CR LF.
product_code() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }'; }
expect_key() { has_key "$2" || fail "$1: no registry key $2"; }
expect_no_key() { ! has_key "$2" || fail "$1: registry key $2 is still there"; }
expect_files() {
  for f in $binaries marl_vss_conf.txt; do
    [ -f "$folder/$f" ] || fail "$1: $f is not installed"
  done
}
expect_registered() {
  expect_key "$1" "$clsid\\InprocServer32"
  expect_key "$1" "$typelib"
  for key in "$progid" "$progid1" "$appid" "$appid_dll"; do expect_key "$1" "$key"; done
  "$wine64" reg query "$vss_provider" /v Name </dev/null 2>/dev/null | grep -q "Marl HW Provider" ||
    fail "$1: \"Marl HW Provider\" is not registered with the coordinator"
}
expect_unregistered() {
  for key in "$clsid" "$typelib" "$progid" "$progid1" "$appid" "$appid_dll" "$vss_provider"; do
    expect_no_key "$1" "$key"
  done
}
# query KEY [VALUE]: what reg prints, without CR.
query() { "$wine64" reg query "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# expect_value NAME KEY VALUE TEXT: the value's line holds TEXT.
expect_value() {
  query "$2" /v "$3" | grep -qiF -- "$4" || fail "$1: $2 $3 is not $4: $(query "$2" /v "$3")"
}
# The COM+ server application, its one component (the installed DLL) and its
# service (demand start) as the stand-in catalog and Wine's service manager
# hold them; exactly one application.
expect_hosted() {
  expect_value "$1" "$application" Name "Marl VSS Provider"
  expect_value "$1" "$application" Activation 0x1
  expect_value "$1" "$application" Identity 'nt authority\system'
  expect_value "$1" "$application" Service marlvssprovider
  [ "$(query "$catalog\\Applications" | grep -c '^HKEY.*Applications\\')" -eq 1 ] ||
    fail "$1: not exactly one COM+ application: $(query "$catalog\\Applications")"
  components=$(query "$application\\Components" | grep -c 'REG_SZ')
  [ "$components" -eq 1 ] || fail "$1: $components components instead of one"
  expect_value "$1" "$application\\Components" 0001 'C:\Program Files\Marl VSS\MarlVssProvider.dll'
  expect_value "$1" "$service" Start 0x3
  expect_value "$1" "$service" ImagePath marl_complus_surrogate.exe
  query "$catalog\\Calls" | grep -qF 'marlvssprovider SERVICE_DEMAND_START SERVICE_ERROR_NORMAL "" ".\LocalSystem"' ||
    fail "$1: the service was not asked for as LocalSystem, demand start"
}
expect_not_hosted() {
  expect_no_key "$1" "$application"
  expect_no_key "$1" "$service"
}
# wait_for_line FILE TEXT: bounded wait until FILE holds a line with TEXT (a
# service writes it in its own time); fails when it never does.
wait_for_line() {
  for _ in $(seq 200); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

"$wine64" regsvr32 /s "$(winpath "$catalog_dll")" </dev/null >/dev/null 2>&1 ||
  { echo "install_check: regsvr32 of the COM+ catalog stand-in failed"; exit 1; }

# The installed settings file is open to SYSTEM and the Administrators only
# (Wine keeps no access lists, so the package's table is what can be checked).
secret=$(msiinfo export "$package" MsiLockPermissionsEx | tr -d '\r' |
  awk -F'\t' '$2 == "marl_vss_conf.txt" && $3 == "File" { print $4 }')
[ "$secret" = 'D:P(A;;FA;;;SY)(A;;FA;;;BA)' ] ||
  fail "package: marl_vss_conf.txt is not locked to SYSTEM and Administrators (\"$secret\")"

# A refused upgrade must leave the older version in place: the older
# product's removal runs inside the installation's transaction (after
# InstallInitialize, before any action that writes the script), and a
# rolled-back removal hosts the provider again. Wine's msiexec removes the
# older product in a nested msiexec at once and cannot roll that back, so the
# package's sequence is what can be checked here.
sequence() {
  msiinfo export "$package" InstallExecuteSequence | tr -d '\r' |
    awk -F'\t' -v action="$1" '$1 == action { print $3 }'
}
removal=$(sequence RemoveExistingProducts)
[ "$removal" -gt "$(sequence InstallInitialize)" ] && [ "$removal" -lt "$(sequence ProcessComponents)" ] ||
  fail "package: RemoveExistingProducts ($removal) is not inside the installation's transaction"
[ "$(sequence UnregisterProviderRollback)" -lt "$(sequence UnregisterProvider)" ] ||
  fail "package: no rollback of the provider's removal scheduled before it"

code=$(product_code "$package")
[ -n "$code" ] || { echo "install_check: no ProductCode in $package"; exit 1; }
upgrade_code=$(product_code "$upgrade")

# 1. A coordinator that refuses the provider fails the installation, and
#    nothing is left behind: not the files, not the COM entries that
#    DllRegisterServer wrote before VSS refused (MarlVssRegister.exe removes
#    them at once; the rollback alone would not under Wine, which replays it
#    in the order it was written, the files first).
"$wine64" reg add "$store" /v FailWith /t REG_DWORD /d 2147754758 /f </dev/null >/dev/null 2>&1 ||
  fail "cannot set the coordinator's refusal"
if msiexec /i "$(winpath "$package")" /qn; then
  fail "refused: msiexec reported success"
fi
for f in $binaries; do
  [ ! -e "$folder/$f" ] || fail "refused: $f was left installed"
done
# Wine's rollback keeps a permanent component's file; it is the empty one of
# the package (Windows removes it), which a later installation keeps as it is.
[ ! -s "$folder/marl_vss_conf.txt" ] || fail "refused: marl_vss_conf.txt was left with content"
! menu_exists || fail "refused: the Start-menu folder was left"
expect_no_key refused "$uninstall\\$code"
expect_unregistered refused
expect_not_hosted refused
"$wine64" reg delete "$store" /v FailWith /f </dev/null >/dev/null 2>&1 ||
  fail "cannot clear the coordinator's refusal"

# 2. Installation: the files, the shortcuts, the COM and VSS registration.
msiexec /i "$(winpath "$package")" /qn || fail "install: msiexec failed"
expect_files install
[ ! -s "$folder/marl_vss_conf.txt" ] || fail "install: marl_vss_conf.txt is not empty"
for s in "Marl VSS Configurator.lnk" "Marl VSS Support Archive.lnk"; do
  shortcut_exists "$s" || fail "install: no Start-menu shortcut $s"
done
expect_key install "$uninstall\\$code"
expect_registered install
expect_hosted install
"$wine64" reg query "$clsid\\InprocServer32" </dev/null 2>/dev/null |
  grep -qi 'C:\\Program Files\\Marl VSS\\MarlVssProvider.dll' ||
  fail "install: InprocServer32 does not name the installed DLL"

# 2b. Registering again leaves the provider registered: a repair, and
#     MarlVssRegister by hand (VSS refuses a second registration of the
#     provider id; the DLL replaces it). A refused attempt leaves the
#     registration that was in place.
# A repair as the properties that /fa stands for: Wine's msiexec hands a
# package path given to /fa to MsiReinstallFeature as if it were a product
# code (error 1605) and has no /f for a product code.
msiexec /i "$(winpath "$package")" REINSTALL=ALL REINSTALLMODE=omus /qn ||
  fail "repair: msiexec failed"
expect_registered repair
expect_hosted repair
# The same package installed again over itself changes nothing.
msiexec /i "$(winpath "$package")" /qn || fail "reinstall: msiexec failed"
expect_registered reinstall
expect_hosted reinstall
register() {
  "$wine64" 'C:\Program Files\Marl VSS\MarlVssRegister.exe' /register \
    'C:\Program Files\Marl VSS\MarlVssProvider.dll' </dev/null >/dev/null 2>&1
}
register || fail "register again: MarlVssRegister failed"
expect_registered "register again"
"$wine64" reg add "$store" /v FailWith /t REG_DWORD /d 2147754758 /f </dev/null >/dev/null 2>&1 ||
  fail "cannot set the coordinator's refusal"
register && fail "refused again: MarlVssRegister reported success"
"$wine64" reg delete "$store" /v FailWith /f </dev/null >/dev/null 2>&1 ||
  fail "cannot clear the coordinator's refusal"
expect_registered "refused again"

# 3. The COM lifecycle against the installed DLL. It writes the configuration
#    and the provider's log, which must outlive what follows.
if ! "$wine64" "$activation" </dev/null; then
  fail "the COM activation test failed against the installed DLL"
  echo "the provider's last ERROR lines:"
  tr -d '\r' <"$folder/marl_vss_log.txt" | grep '\[ERROR\]' | tail -20
fi
[ -s "$folder/marl_vss_log.txt" ] || fail "the provider wrote no log"

# 3b. The service holds a provider with the address the activation test
#     wrote; the configurator changes EXTERNAL_IP (one answer per line; the
#     other keys are kept) and restarts the service, whose new provider reads
#     the new address.
log="$folder/marl_vss_log.txt"
"$wine64" sc start marlvssprovider </dev/null >/dev/null 2>&1 || fail "cannot start the service"
wait_for_line "$log" "Set nxa_external_ip to: $MARL_ARRAY_ADDRESS" ||
  fail "the service's provider did not read the configuration"
printf '%s\n' y "$MARL_OTHER_ADDRESS" n n n n n n n n n n n n >"$WINEPREFIX/answers.txt"
"$wine64" 'C:\Program Files\Marl VSS\MarlVssConfigurator.exe' <"$WINEPREFIX/answers.txt" \
  >/dev/null 2>&1 || fail "the configurator failed"
conf_log=$(tr -d '\r' <"$folder/marl_vss_conf_log.txt" 2>/dev/null)
printf '%s\n' "$conf_log" | grep -qF "Started service" ||
  fail "configure: the service was not restarted: $(printf '%s\n' "$conf_log" | tail -3)"
wait_for_line "$log" "Set nxa_external_ip to: $MARL_OTHER_ADDRESS" ||
  fail "configure: no provider read the new address after the restart"
calls=$(query "$catalog\\Calls")
[ "$(printf '%s\n' "$calls" | grep -c 'created the provider 0x00000000')" -ge 2 ] &&
  printf '%s\n' "$calls" | grep -qF 'released the provider' ||
  fail "configure: the service did not release its provider and create a new one: $calls"
cp "$folder/marl_vss_conf.txt" "$WINEPREFIX/conf.before"

# 4. A newer package replaces this one and keeps the settings.
msiexec /i "$(winpath "$upgrade")" /qn || fail "upgrade: msiexec failed"
expect_no_key upgrade "$uninstall\\$code"
expect_key upgrade "$uninstall\\$upgrade_code"
expect_files upgrade
expect_registered upgrade
expect_hosted upgrade
cmp -s "$folder/marl_vss_conf.txt" "$WINEPREFIX/conf.before" ||
  fail "upgrade: marl_vss_conf.txt was overwritten"

# 5. Removal: the binaries, shortcuts and registrations go; the settings and
#    the logs stay.
msiexec /x "$(winpath "$upgrade")" /qn || fail "remove: msiexec failed"
for f in $binaries; do
  [ ! -e "$folder/$f" ] || fail "remove: $f is still installed"
done
! menu_exists || fail "remove: the Start-menu folder is still there"
expect_no_key remove "$uninstall\\$upgrade_code"
expect_unregistered remove
expect_not_hosted remove
cmp -s "$folder/marl_vss_conf.txt" "$WINEPREFIX/conf.before" ||
  fail "remove: marl_vss_conf.txt was removed or changed"
[ -s "$folder/marl_vss_log.txt" ] || fail "remove: the provider's log was removed"

[ $failures -eq 0 ] && echo "install_check: all checks passed" && exit 0
echo "install_check: $failures check(s) failed"
exit 1
