#!/usr/bin/env bash
# Builds and checks the Debian packages of a build folder.
#   check_deb.sh build CPACK_CONFIG FOLDER
#       Runs CPack; FOLDER then holds exactly one vorn-admin .deb.
#   check_deb.sh contents FOLDER VERSION [EMULATOR]
#       Control fields (the architecture is the one of the packaged programs, the
#       dependency is libc6 alone), the exact list of files with owners and
#       modes, and the programs and man pages as installed work.
#   check_deb.sh dbcheck FOLDER VERSION [EMULATOR]
#       The same for vorn-admin-dbcheck, which depends on libmariadb3 too.
#   check_deb.sh lintian FOLDER
#       lintian finds no error and no warning in any package (overrides in the
#       package count).
#   check_deb.sh completion FOLDER [PACKAGE PROGRAM...]
#       bash-completion's loader finds the completion of each PROGRAM (vorn-admin's
#       three by default) where the package PACKAGE (vorn-admin) puts it.
# Exit 77 (skipped) when a tool that a check needs is missing.
set -u
mode=$1
shift
skip() { echo "SKIPPED: $1"; exit 77; }
fail() { echo "$deb: $*" >&2; status=1; }
one_deb() {
  local debs=("$1/${2:-vorn-admin}"_*.deb)
  [ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || { echo "$1: not exactly one .deb: ${debs[*]}" >&2; exit 1; }
  deb=${debs[0]}
}
status=0

case $mode in
build)
  command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps is not installed (bash scripts/setup installs dpkg-dev)"
  rm -rf "$2"
  cpack --config "$1" -B "$2" || exit 1
  one_deb "$2"
  echo "built $deb"
  exit 0
  ;;

contents)
  one_deb "$1"
  version=$2 emulator=${3:-}
  field() { dpkg-deb -f "$deb" "$1"; }
  root=$(mktemp -d) || exit 1
  trap 'rm -rf "$root"' EXIT
  dpkg-deb -x "$deb" "$root" || exit 1

  # The architecture named by the packaged program itself.
  header=$(readelf -h "$root/usr/bin/vorn_sql")
  case $(sed -n 's/^ *Class: *//p; s/^ *Machine: *//p' <<<"$header" | tr '\n' ' ') in
    "ELF64 Advanced Micro Devices X86-64 ") arch=amd64 ;;
    "ELF32 Intel 80386 ") arch=i386 ;;
    *) arch=unknown ;;
  esac
  [ "$(field Architecture)" = "$arch" ] || fail "Architecture '$(field Architecture)', programs are $arch"
  [[ $deb == *_"$arch".deb ]] || fail "file name does not end in _$arch.deb"
  [ "$(field Package)" = vorn-admin ] || fail "Package '$(field Package)'"
  [ "$(field Version)" = "$version-1" ] || fail "Version '$(field Version)', want $version-1"
  [ "$(field Section)" = admin ] || fail "Section '$(field Section)'"
  [ "$(field Priority)" = optional ] || fail "Priority '$(field Priority)'"
  [[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer '$(field Maintainer)'"
  [ "$(field Description | wc -l)" -gt 2 ] || fail "no long description"
  # dpkg-shlibdeps names libc6 with a minimum version; the multilib libc6-i386
  # would be wrong, as no i386 host has it.
  [[ $(field Depends) =~ ^libc6\ \(\>=\ [0-9.]+\)$ ]] || fail "Depends '$(field Depends)', want libc6 (>= version)"

  want="\
drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/vorn_show
-rwxr-xr-x root/root ./usr/bin/vorn_sql
drwxr-xr-x root/root ./usr/sbin/
-rwxr-xr-x root/root ./usr/sbin/quordex_helper
-rwxr-xr-x root/root ./usr/sbin/vorn_keyfile
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/bash-completion/
drwxr-xr-x root/root ./usr/share/bash-completion/completions/
-rw-r--r-- root/root ./usr/share/bash-completion/completions/vorn_keyfile
-rw-r--r-- root/root ./usr/share/bash-completion/completions/vorn_show
-rw-r--r-- root/root ./usr/share/bash-completion/completions/vorn_sql
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/vorn-admin/
-rw-r--r-- root/root ./usr/share/doc/vorn-admin/changelog.Debian.gz
-rw-r--r-- root/root ./usr/share/doc/vorn-admin/copyright
drwxr-xr-x root/root ./usr/share/lintian/
drwxr-xr-x root/root ./usr/share/lintian/overrides/
-rw-r--r-- root/root ./usr/share/lintian/overrides/vorn-admin
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/vorn_show.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/vorn_sql.1.gz
drwxr-xr-x root/root ./usr/share/man/man8/
-rw-r--r-- root/root ./usr/share/man/man8/quordex_helper.8.gz
-rw-r--r-- root/root ./usr/share/man/man8/vorn_keyfile.8.gz"
  got=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }' | LC_ALL=C sort -k 3)
  [ "$got" = "$want" ] || fail "contents differ from the expected list:
$(diff <(echo "$want") <(echo "$got"))"

  # The installed programs start (through the emulator on a cross build) and
  # the installed man pages display.
  usage=$($emulator "$root/usr/bin/vorn_sql" --help)
  [ "$(head -n 1 <<<"$usage")" = "vorn_sql [<options>]" ] || fail "installed vorn_sql --help printed '$usage'"
  helper=$($emulator "$root/usr/sbin/quordex_helper" 2>&1)
  [[ $? = 1 && $helper == "Usage: "*" <path> <1|0>" ]] || fail "installed quordex_helper printed '$helper'"
  show=$($emulator "$root/usr/bin/vorn_show" --help)
  [[ $show == "Usage: vorn_show "* ]] || fail "installed vorn_show --help printed '$show'"
  keyfile=$($emulator "$root/usr/sbin/vorn_keyfile" --help)
  [[ $keyfile == "Usage: vorn_keyfile "* ]] || fail "installed vorn_keyfile --help printed '$keyfile'"
  if command -v man >/dev/null; then
    for page in "1 vorn_sql" "8 quordex_helper" "1 vorn_show" "8 vorn_keyfile"; do
      # shellcheck disable=SC2086
      text=$(man -M "$root/usr/share/man" $page 2>&1)
      grep -qx "NAME" <<<"$text" || fail "man $page from the package shows no NAME section: $(head -n 3 <<<"$text")"
    done
  else
    echo "man is not installed: the installed pages were not displayed"
  fi
  [ "$status" = 0 ] && echo "$deb: $arch, $(field Depends), $(wc -l <<<"$got") entries with the expected modes"
  exit "$status"
  ;;

dbcheck)
  one_deb "$1" vorn-admin-dbcheck
  version=$2 emulator=${3:-}
  root=$(mktemp -d) || exit 1
  trap 'rm -rf "$root"' EXIT
  dpkg-deb -x "$deb" "$root" || exit 1
  field() { dpkg-deb -f "$deb" "$1"; }
  [ "$(field Package)" = vorn-admin-dbcheck ] || fail "Package '$(field Package)'"
  [ "$(field Version)" = "$version-1" ] || fail "Version '$(field Version)', want $version-1"
  [[ $deb == *_"$(field Architecture)".deb ]] || fail "file name does not end in _$(field Architecture).deb"
  # dpkg-shlibdeps names both libraries, each with a minimum version, in any order.
  deps=$(field Depends | tr ',' '\n' | sed 's/^ *//' | LC_ALL=C sort | tr '\n' ' ')
  [[ $deps =~ ^libc6\ \(\>=\ [0-9.]+\)\ libmariadb3\ \(\>=\ [0-9.:]+\)\ $ ]] ||
    fail "Depends '$(field Depends)', want libc6 and libmariadb3 with versions"
  want="\
./usr/bin/vorn_dbcheck
./usr/share/bash-completion/completions/vorn_dbcheck
./usr/share/doc/vorn-admin-dbcheck/changelog.Debian.gz
./usr/share/doc/vorn-admin-dbcheck/copyright
./usr/share/lintian/overrides/vorn-admin-dbcheck
./usr/share/man/man1/vorn_dbcheck.1.gz"
  got=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort)
  [ "$got" = "$want" ] || fail "files differ from the expected list:
$(diff <(echo "$want") <(echo "$got"))"
  usage=$($emulator "$root/usr/bin/vorn_dbcheck" --help)
  [[ $? = 0 && $usage == "Usage: vorn_dbcheck "* ]] || fail "installed vorn_dbcheck --help printed '$usage'"
  [ "$status" = 0 ] && echo "$deb: $(field Depends), files as expected"
  exit "$status"
  ;;

lintian)
  command -v lintian >/dev/null || skip "lintian is not installed (bash scripts/setup installs it)"
  one_deb "$1"
  for deb in "$1"/*.deb; do
    # Info tags are shown but do not fail the check.
    lintian --fail-on error,warning --display-info "$deb" 2>&1 | grep -v 'running with root privileges'
    [ "${PIPESTATUS[0]}" = 0 ] || { echo "$deb: lintian reports errors or warnings" >&2; exit 1; }
    echo "$deb: lintian reports no error and no warning"
  done
  exit 0
  ;;

completion)
  loader=/usr/share/bash-completion/bash_completion
  [ -f "$loader" ] || skip "bash-completion is not installed (bash scripts/setup installs it)"
  one_deb "$1" "${2:-vorn-admin}"
  programs=("${@:3}")
  [ ${#programs[@]} = 0 ] && programs=(vorn_sql vorn_show vorn_keyfile)
  root=$(mktemp -d) || exit 1
  trap 'rm -rf "$root"' EXIT
  dpkg-deb -x "$deb" "$root" || exit 1
  # Prints the registration and the file that defined its function.
  for prog in "${programs[@]}"; do
    registered=$(XDG_DATA_DIRS="$root/usr/share" BASH_COMPLETION_USER_DIR=/nonexistent bash -c \
      'source "$1" && __load_completion "$2" && complete -p "$2" && shopt -s extdebug &&
       declare -F "$(complete -p "$2" | sed -n "s/.*-F \([^ ]*\) .*/\1/p")"' _ "$loader" "$prog" 2>&1)
    [[ $registered == "complete -F "*" $prog"$'\n'*" $root/usr/share/bash-completion/completions/$prog" ]] ||
      { echo "$deb: bash-completion did not load the completion of $prog from the package: $registered" >&2; exit 1; }
    echo "$deb: bash-completion loads $prog's: $registered"
  done
  exit 0
  ;;
esac
echo "usage: check_deb.sh build|contents|dbcheck|lintian|completion ..." >&2
exit 2
