#!/usr/bin/env bash
# Checks the Debian package that package_build made, as a user would meet it.
#   contents  the control fields, every file with its mode, the changelog's
#             version, the unit's program, the manuals rendered by man, the
#             menu entry, lintian
#   install   dpkg into a throw-away root (maintainer scripts included),
#             the settings folders and their group, then a purge
# The unit is written at build time by the code that `ventrel -load` runs;
# the live systemd test installs and removes it with -load and -unload.
# Usage: deb_package_test.sh CASE PACKAGE_DIR VERSION
set -u
test_case=$1 package_dir=$2 version=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/harness.sh"
harness_start deb-package-test "$@"

unit=Quorvel_to_PC_Clock_Service.service
key=etc/quorvel/SYSTEM/CurrentControlSet/Services/QuorvelToClk
deb=$(ls "$package_dir"/quorvel_"$version"_*.deb 2>/dev/null | head -n 1)
[ -f "$deb" ] || fail "no package for $version in $package_dir"

# The files (not folders) of the package and their modes, in one table:
# anything missing, extra (a test program, a static library) or with another
# mode fails.
expected_files() {
  cat <<EOF
-rw-r--r-- ./lib/systemd/system/$unit
-rwxr-xr-x ./usr/bin/boxsim
-rwxr-xr-x ./usr/bin/moravel
-rwxr-xr-x ./usr/sbin/ventrel
-rw-r--r-- ./usr/share/applications/moravel.desktop
-rw-r--r-- ./usr/share/doc/quorvel/changelog.gz
-rw-r--r-- ./usr/share/doc/quorvel/copyright
-rw-r--r-- ./usr/share/icons/hicolor/16x16/apps/moravel.png
-rw-r--r-- ./usr/share/icons/hicolor/32x32/apps/moravel.png
-rw-r--r-- ./usr/share/icons/hicolor/48x48/apps/moravel.png
-rw-r--r-- ./usr/share/man/man1/boxsim.1.gz
-rw-r--r-- ./usr/share/man/man1/moravel.1.gz
-rw-r--r-- ./usr/share/man/man8/ventrel.8.gz
EOF
}

case_contents() {
  local field page
  # The package's name and version are in the file's name, which CPack makes
  # from those control fields (DEB-DEFAULT). Depends is computed from the
  # binaries: the C library, GTK for Moravel (lintian only warns without).
  for field in 'libc6 (>=' 'libgtk-3-0'; do
    dpkg-deb -f "$deb" Depends | grep -qF "$field" || fail "Depends lacks $field"
  done

  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $6}' | LC_ALL=C sort -k2 >"$work/files"
  expected_files | LC_ALL=C sort -k2 | diff -u - "$work/files" >"$work/files.diff" ||
    fail "package files differ from the expected list:
$(cat "$work/files.diff")"
  dpkg-deb -x "$deb" "$work/root"
  zcat "$work/root/usr/share/doc/quorvel/changelog.gz" | head -n 1 |
    grep -qF "quorvel ($version)" || fail "changelog's latest entry is not $version"
  grep -qx 'ExecStart=/usr/sbin/ventrel' "$work/root/lib/systemd/system/$unit" ||
    fail "the packaged unit does not start the packaged program"

  for page in man8/ventrel.8 man1/moravel.1 man1/boxsim.1; do
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l --warnings=w \
      "$work/root/usr/share/man/$page.gz" >"$work/page.out" 2>"$work/page.err"
    [ ! -s "$work/page.err" ] || fail "$page: $(cat "$work/page.err")"
    grep -q '^NAME' "$work/page.out" && grep -q '^EXAMPLES' "$work/page.out" ||
      fail "$page: no NAME or EXAMPLES section"
  done

  desktop-file-validate "$work/root/usr/share/applications/moravel.desktop" ||
    fail "desktop entry"
  grep -qx 'Exec=moravel' "$work/root/usr/share/applications/moravel.desktop" ||
    fail "desktop entry does not start moravel"
  # Among lintian's errors: files not owned by root.
  lintian --allow-root --tag-display-limit 0 "$deb" >"$work/lintian.out" 2>&1
  ! grep -q '^E:' "$work/lintian.out" || fail "lintian reports errors"
}

# dpkg with a database of its own; the maintainer scripts run without a
# chroot and see the root as DPKG_ROOT.
dpkg_in_root() {
  dpkg --root="$work/root" --force-script-chrootless --force-depends \
    --force-not-root --log=/dev/null "$@" >>"$work/dpkg.out" 2>&1
}

case_install() {
  [ "$(id -u)" -eq 0 ] || skip "needs root for the settings folder's group"
  mkdir -p "$work/root/var/lib/dpkg/info" "$work/root/var/lib/dpkg/updates"
  touch "$work/root/var/lib/dpkg/status" "$work/root/var/lib/dpkg/available"
  dpkg_in_root -i "$deb" || fail "dpkg -i"
  [ "$(stat -c '%U:%G %a' "$work/root/$key")" = "root:adm 2775" ] ||
    fail "settings key folder is $(stat -c '%U:%G %a' "$work/root/$key")"
  [ -d "$work/root/etc/quorvel/dosdevices" ] || fail "no dosdevices folder"
  # Neither enabled nor started: nothing was linked into a target.
  find "$work/root/etc" -name "$unit" | grep -q . && fail "the unit was enabled"
  echo 0x62000000 >"$work/root/$key/TcBoxInfo"
  dpkg_in_root -P quorvel || fail "dpkg -P"
  [ ! -e "$work/root/etc/quorvel" ] || fail "purge left /etc/quorvel"
}

"case_$test_case"
