#!/usr/bin/env bash
# Builds and checks the Debian packages of a build folder.
#   check_deb.sh build CPACK_CONFIG FOLDER
#       Runs CPack; FOLDER then holds exactly one vorn-admin .deb.
#   check_deb.sh contents FOLDER COMPONENT VERSION ENTRY...
#       The package of the install component COMPONENT (admin: vorn-admin, else
#       vorn-admin-COMPONENT): control fields (the architecture is the one of
#       the packaged programs, the dependencies those dpkg-shlibdeps finds), the
#       exact list of files with owners and modes, made from the programs'
#       entries COMPONENT:DIR:PROGRAM:SECTION, and the installed programs and
#       man pages work.
#   check_deb.sh lintian FOLDER
#       lintian finds no error and no warning in any package (overrides in the
#       package count).
#   check_deb.sh completion FOLDER COMPONENT ENTRY...
#       bash-completion's loader finds the completion of each program of the
#       package where the package puts it.
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
  # contents FOLDER COMPONENT VERSION COMPONENT:DIR:PROGRAM:SECTION...
  folder=$1 component=$2 version=$3
  shift 3
  package=vorn-admin
  [ "$component" = admin ] || package=vorn-admin-$component
  one_deb "$folder" "$package"
  field() { dpkg-deb -f "$deb" "$1"; }
  root=$(mktemp -d) || exit 1
  trap 'rm -rf "$root"' EXIT
  dpkg-deb -x "$deb" "$root" || exit 1

  # What the package must hold: each of its programs with its man page and
  # completion, the documentation and the lintian overrides, and every folder
  # above them; programs 0755, everything else 0644, all owned by root.
  files=("./usr/share/doc/$package/changelog.Debian.gz" "./usr/share/doc/$package/copyright"
         "./usr/share/lintian/overrides/$package")
  programs=()
  for entry in "$@"; do
    IFS=: read -r c dir name section <<<"$entry"
    [ "$c" = "$component" ] || continue
    programs+=("./usr/$dir/$name")
    files+=("./usr/share/man/man$section/$name.$section.gz" "./usr/share/bash-completion/completions/$name")
  done
  want=$(
    for f in "${programs[@]}"; do echo "-rwxr-xr-x root/root $f"; done
    for f in "${files[@]}"; do echo "-rw-r--r-- root/root $f"; done
    for f in "${programs[@]}" "${files[@]}"; do
      d=${f%/*}
      while [ "$d" != . ]; do echo "drwxr-xr-x root/root $d/"; d=${d%/*}; done
    done | sort -u
  )
  want=$(LC_ALL=C sort -k 3 <<<"$want")
  got=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }' | LC_ALL=C sort -k 3)
  [ "$got" = "$want" ] || fail "contents differ from the expected list:
$(diff <(echo "$want") <(echo "$got"))"

  # The architecture named by the packaged programs themselves.
  header=$(readelf -h "$root/${programs[0]}")
  case $(sed -n 's/^ *Class: *//p; s/^ *Machine: *//p' <<<"$header" | tr '\n' ' ') in
    "ELF64 Advanced Micro Devices X86-64 ") arch=amd64 ;;
    "ELF32 Intel 80386 ") arch=i386 ;;
    *) arch=unknown ;;
  esac
  [ "$(field Architecture)" = "$arch" ] || fail "Architecture '$(field Architecture)', programs are $arch"
  [[ $deb == *_"$arch".deb ]] || fail "file name does not end in _$arch.deb"
  [ "$(field Package)" = "$package" ] || fail "Package '$(field Package)'"
  [ "$(field Version)" = "$version-1" ] || fail "Version '$(field Version)', want $version-1"
  [ "$(field Section)" = admin ] || fail "Section '$(field Section)'"
  [ "$(field Priority)" = optional ] || fail "Priority '$(field Priority)'"
  [[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer '$(field Maintainer)'"
  [ "$(field Description | wc -l)" -gt 2 ] || fail "no long description"
  # dpkg-shlibdeps names libc6 with a minimum version, and libmariadb3 for
  # vorn_dbcheck, from the libraries of the build's own architecture.
  deps=$(field Depends | tr ',' '\n' | sed 's/^ *//' | LC_ALL=C sort | tr '\n' ' ')
  want_deps='^libc6 \(>= [0-9.]+\) $'
  [ "$component" = dbcheck ] && want_deps='^libc6 \(>= [0-9.]+\) libmariadb3 \(>= [0-9.:]+\) $'
  [[ $deps =~ $want_deps ]] || fail "Depends '$(field Depends)'"

  # The installed programs start and name themselves in their help; the
  # installed man pages display.
  for p in "${programs[@]}"; do
    name=${p##*/}
    help=$("$root/$p" --help 2>&1)
    [[ $help == *"$name"* ]] || fail "installed $name --help printed '$help'"
  done
  if command -v man >/dev/null; then
    for f in "${files[@]}"; do
      [[ $f == ./usr/share/man/* ]] || continue
      page=${f##*/}
      page=${page%.gz}
      text=$(man -M "$root/usr/share/man" "${page##*.}" "${page%.*}" 2>&1)
      grep -qx "NAME" <<<"$text" || fail "man $page from the package shows no NAME section: $(head -n 3 <<<"$text")"
    done
  else
    echo "man is not installed: the installed pages were not displayed"
  fi
  [ "$status" = 0 ] && echo "$deb: $arch, $(field Depends), $(wc -l <<<"$got") entries with the expected modes"
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
  # completion FOLDER COMPONENT COMPONENT:DIR:PROGRAM:SECTION...
  loader=/usr/share/bash-completion/bash_completion
  [ -f "$loader" ] || skip "bash-completion is not installed (bash scripts/setup installs it)"
  component=$2
  package=vorn-admin
  [ "$component" = admin ] || package=vorn-admin-$component
  one_deb "$1" "$package"
  shift 2
  root=$(mktemp -d) || exit 1
  trap 'rm -rf "$root"' EXIT
  dpkg-deb -x "$deb" "$root" || exit 1
  # Prints the registration and the file that defined its function.
  for entry in "$@"; do
    IFS=: read -r c _ prog _ <<<"$entry"
    [ "$c" = "$component" ] || continue
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
echo "usage: check_deb.sh build|contents|lintian|completion ..." >&2
exit 2
