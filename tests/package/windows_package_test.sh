#!/usr/bin/env bash
# The Windows installer and zip that package_build made, under Wine in a
# prefix of their own: the zip's contents; a silent install that registers
# the service without starting it, with Moravel in the Start menu and the
# version in Programs and Features; a silent uninstall that removes the
# service and the programs but keeps the saved settings word.
# Usage: windows_package_test.sh PACKAGE_DIR VERSION PREFIX
set -u
package_dir=$1 version=$2 prefix=$3
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../cmake/wine-run
service=Quorvel_to_PC_Clock_Service
settings='HKLM\SYSTEM\CurrentControlSet\Services\QuorvelToClk'
source "$here/../support/harness.sh"
harness_start windows-package-test "$@"

installer=$package_dir/quorvel-$version-win64.exe
zip=$package_dir/quorvel-$version-win64.zip
install_dir=$prefix/drive_c/Program\ Files/Quorvel
[ -f "$installer" ] && [ -f "$zip" ] || fail "no installer or zip for $version"

unzip -Z1 "$zip" | sed 's|^[^/]*/||' | grep -v '/$' | sort >"$work/zip.list"
printf '%s\n' Moravel.exe README.md Ventrel.exe | diff -u - "$work/zip.list" ||
  fail "zip holds other files"

uninstall_value() {
  wine_out reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel' \
    /v "$1" | awk -v v="$1" '$1 == v {$1 = $2 = ""; sub(/^ +/, ""); print}'
}

# A run that failed half-way may have left the service behind.
wine_out sc delete "$service" >/dev/null
rm -rf "$install_dir"

wine "$installer" /S >"$work/install.out" 2>&1 || fail "installer exit status $?"
[ -f "$install_dir/Moravel.exe" ] && [ -f "$install_dir/Ventrel.exe" ] ||
  fail "programs not in Program Files\\Quorvel"
[ "$(service_state)" = STOPPED ] || fail "service state '$(service_state)' after install"
wine_out reg query "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service" /v ImagePath |
  grep -qF 'C:\Program Files\Quorvel\Ventrel.exe' ||
  fail "service does not run the installed program"
find "$prefix/drive_c" -path '*Start Menu*' -name Moravel.lnk | grep -q . ||
  fail "no Start menu entry for Moravel"
[ "$(uninstall_value DisplayVersion)" = "$version" ] ||
  fail "Programs and Features shows version '$(uninstall_value DisplayVersion)'"

wine reg add "$settings" /v TcBoxInfo /t REG_DWORD /d 0x62000000 /f >/dev/null 2>&1
wine "$install_dir/Uninstall.exe" /S >"$work/uninstall.out" 2>&1
WINEPREFIX=$prefix wineserver -w
[ -z "$(service_state)" ] || fail "service still there after uninstall"
[ ! -e "$install_dir/Ventrel.exe" ] && [ ! -e "$install_dir/Moravel.exe" ] ||
  fail "programs left after uninstall"
[ -z "$(uninstall_value DisplayVersion)" ] || fail "still in Programs and Features"
wine_out reg query "$settings" /v TcBoxInfo | grep -qi 0x62000000 ||
  fail "silent uninstall dropped the settings word"
