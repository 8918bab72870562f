#!/usr/bin/env bash
# Installs the i386 packages as an administrator does, in a fresh copy of the
# i386 host root, and checks the installed programs.
#   check_install.sh ROOT_SCRIPT PACKAGES PROGRAMS WORK PORT
# ROOT_SCRIPT is scripts/root, PACKAGES the folder of the i386 .deb files,
# PROGRAMS the list of programs (written by CMake), WORK a folder of its own,
# PORT the loopback port of the MariaDB server whose account vorn's
# password is the line on standard input (with_mariadb starts it).
# 1. The host root has neither the packages nor libmariadb3.
# 2. apt-get install ./vorn-admin_*_i386.deb ./vorn-admin-dbcheck_*_i386.deb in
#    a copy of it: apt fetches libmariadb3 and the rest from the archive. That
#    copy is the one that scripts/root keeps for the package files (scripts/root
#    installed, which the kernel guest and the fleet use too, so that apt runs
#    once for them all; where the kernel runs no i386 program it runs under the
#    emulator, and slowly); this test works on a copy of it.
# 3. checks.sh, as root and as user 1000, on the installed programs.
# 4. apt-get remove of both: the programs go, the files they wrote stay.
# Exit 0 when all held, 1 otherwise, 77 (skipped) without root.
set -uo pipefail
root_script=$(realpath "$1") packages=$2 programs=$3 work=$4 port=$5
here=$(cd "$(dirname "$0")" && pwd)
[ "$(id -u)" = 0 ] || { echo "SKIPPED: needs root (chroot into the i386 host root)"; exit 77; }
IFS= read -r password
fail() {
  echo "FAILED: $*"
  exit 1
}
start=$SECONDS
# shellcheck source=../install/packages.sh
. "$here/packages.sh"
i386_packages "$packages"
root() { bash "$root_script" "$@"; }
# installed ROOT PACKAGE: dpkg has PACKAGE installed in ROOT.
installed() { root run "$1" dpkg-query -W -f='${Status}\n' "$2" 2>/dev/null | grep -qx 'install ok installed'; }

root make i386-host >/dev/null || fail "cannot make the i386 host root"
for p in vorn-admin vorn-admin-dbcheck libmariadb3; do
  installed i386-host "$p" && fail "the i386 host root already has $p"
done
echo "ok: the i386 host root has neither the packages nor libmariadb3"

dir=$work/root
rm -rf "$work"
mkdir -p "$work"
system=$(root installed i386-host "${debs[@]}") || fail "apt-get install of ${debs[*]##*/} failed"
# The system is kept from being made again while it is copied.
exec 9<"$system.lock"
flock -s 9
cp -a "$system" "$dir"
cp "$system.log" "$work/apt.log"
exec 9<&-
# apt's own account of what it added from the archive.
new=$(sed -n '/^The following NEW packages will be installed:/,/^[^ ]/p' "$work/apt.log" | sed '1d;$d' | tr -s ' \n' ' ')
echo "apt-get install added:$new"
[[ " $new " == *" libmariadb3 "* ]] || fail "apt did not fetch libmariadb3 from the archive; see $work/apt.log"
for p in vorn-admin vorn-admin-dbcheck libmariadb3; do
  installed "$dir" "$p" || fail "$p is not installed in $dir"
done
echo "ok: apt installed vorn-admin, vorn-admin-dbcheck and libmariadb3 ($((SECONDS - start)) s so far)"

inside=/var/tmp/vorn-checks
mkdir -p "$dir$inside/work"
cp "$here/checks.sh" "$dir$inside/"
cp "$programs" "$dir$inside/programs"
printf '%s\n' "$password" | root run "$dir" sh "$inside/checks.sh" "$inside/programs" 127.0.0.1 "$port" "$inside/work"
status=$?

root run "$dir" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q vorn-admin vorn-admin-dbcheck \
  >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "apt-get remove failed"; }
echo "apt-get remove vorn-admin vorn-admin-dbcheck:"
for p in vorn-admin vorn-admin-dbcheck; do
  if installed "$dir" "$p"; then echo "FAILED: $p is still installed"; status=1; else echo "ok: $p removed"; fi
done
while read -r _ d name _; do
  if [ -e "$dir/usr/$d/$name" ]; then echo "FAILED: /usr/$d/$name is still there"; status=1; fi
done <"$programs"
for f in /usr/quordex/tirun/.vorn_yelto "$inside/work/plain.conf" "$inside/work/encrypted.conf" \
  "$inside/work/user/.vorn_sql"; do
  if [ -f "$dir$f" ]; then echo "ok: $f stays"; else echo "FAILED: $f was removed"; status=1; fi
done
echo "install check: $((SECONDS - start)) s"
[ "$status" = 0 ] && rm -rf "$dir"
exit "$status"
