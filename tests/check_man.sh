#!/usr/bin/env bash
# Checks of the man pages. Exit 77 (skipped) when a tool is missing.
#   check_man.sh lint PAGE
#       mandoc -Tlint reports nothing, not even style remarks.
#   check_man.sh render PAGE VERSION HEADING...
#       man -l displays it without a groff warning, with every heading and
#       "vorn VERSION" in its footer.
#   check_man.sh messages VORN_SQL_PAGE HELPER_PAGE VORN_SQL QUORDEX_HELPER [EMULATOR]
#       Each message of the table below is both what the program prints in that
#       situation and a text of the man page ({word}: a variable part, shown in
#       the page as the word).
#   check_man.sh reader-messages SHOW_PAGE KEYFILE_PAGE VORN_SHOW VORN_KEYFILE [EMULATOR]
#       The same for vorn_show and vorn_keyfile, with the status of each message.
set -u
mode=$1
shift
need() {
  command -v "$1" >/dev/null && return
  echo "SKIPPED: $1 is not installed (bash scripts/setup installs it)"
  exit 77
}

case $mode in
lint)
  need mandoc
  if out=$(mandoc -Tlint "$1" 2>&1) && [ -z "$out" ]; then
    echo "$1: mandoc -Tlint clean"
    exit 0
  fi
  echo "$1: mandoc -Tlint reports:" >&2
  echo "$out" >&2
  exit 1
  ;;

render)
  need man
  page=$1 version=$2
  shift 2
  err=$(mktemp) || exit 1
  trap 'rm -f "$err"' EXIT
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>"$err")
  status=0
  if [ -s "$err" ]; then
    echo "$page: man reports:" >&2
    cat "$err" >&2
    status=1
  fi
  for heading in "$@"; do
    grep -qx "$heading" <<<"$text" || { echo "$page: no heading '$heading'" >&2; status=1; }
  done
  tail -n 1 <<<"$text" | grep -q "^vorn $version " ||
    { echo "$page: footer '$(tail -n 1 <<<"$text")' does not name vorn $version" >&2; status=1; }
  [ "$status" = 0 ] && echo "$page: displays with $# headings, version $version"
  exit "$status"
  ;;

messages)
  need mandoc
  sql_page=$1 helper_page=$2 vorn_sql=$(realpath "$3") helper=$(realpath "$4") emulator=${5:-}
  dir=$(mktemp -d) || exit 1
  trap 'rm -rf "$dir"' EXIT
  # The pages as plain text on endless lines, runs of blanks squeezed.
  pages=$(for p in "$sql_page" "$helper_page"; do mandoc -Tascii -O width=1000 "$p"; done |
    sed 's/.\x08//g' | tr -s ' \t')
  V() { $emulator "$vorn_sql" "$@"; }
  # Run under the name "quordex_helper", which its usage line shows.
  ln -s "$helper" "$dir/quordex_helper"
  Q() { (cd "$dir" && PATH="$dir:$PATH" "${prefix[@]}" $emulator quordex_helper "$@"); }
  prefix=()
  long=$(printf 'h%.0s' $(seq 68))
  touch "$dir/busy~" "$dir/locked"
  mkdir "$dir/folder"
  failed=0 checked=0
  # expect TEMPLATE COMMAND...: COMMAND fails with status 1 and prints TEMPLATE.
  expect() {
    local template=$1 regex shown out status
    shift
    regex=$(sed -e 's/[][\.*^$()+?|/]/\\&/g' -e 's/{[a-z]*}/.+/g' <<<"$template")
    shown=$(sed 's/{\([a-z]*\)}/\1/g' <<<"$template")
    out=$("$@" 2>&1 >/dev/null </dev/null)
    status=$?
    checked=$((checked + 1))
    if [ "$status" != 1 ] || ! grep -Eq -- "$regex" <<<"$out"; then
      echo "FAIL: '$*' gave status $status and '$out', not '$template'" >&2
      failed=1
    fi
    if ! grep -qF -- "$shown" <<<"$pages"; then
      echo "FAIL: the man pages do not show '$shown'" >&2
      failed=1
    fi
  }
  yes_to() { echo y | "$@"; }
  expect 'Failed to parse command line' V -x
  expect 'unknown option -- {x}' V -x
  expect 'option requires an argument -- {x}' V -h
  expect 'ambiguous option -- {x}' V --p x
  expect "option doesn't take an argument -- {x}" V --help=x
  expect 'Duplicate -H option detected' V -H a -H b
  expect '-H must be followed by a hostname' V -H ''
  expect '-e must be followed by a encrypt flag' V -e ''
  expect '-u must be followed by a username' V -u ''
  expect '-p must be followed by a password' V -p ''
  expect '-d must be followed by a dbname' V -d ''
  expect '-s must be followed by a filename' V -s ''
  expect '-H must not contain a line break' V -H $'a\nb'
  expect '-e requires an acceptable argument' V -e YES
  expect '-P requires an argument' V -P 3305
  expect 'Cannot determine home directory' env HOME=relative $emulator "$vorn_sql" -H h
  expect 'HOSTNAME value is too long' yes_to V -H "$long" -s "$dir/long"
  expect 'Failed to create "{file}" ({error})' yes_to V -H h -P 3306 -d d -u u -p p -s "$dir/busy"
  expect 'Failed to write new secret: {error}' yes_to V -H h -P 3306 -d d -u u -p p -s "$dir/folder"
  if [ -e /usr/quordex/tirun/.vorn_yelto ]; then
    echo "skipped: the key file message (this machine has a key file)"
  else
    expect 'Cannot load the encryption key from "/usr/quordex/tirun/.vorn_yelto"' \
      yes_to V -e yes -H h -P 3306 -d d -u u -p p -s "$dir/encrypted"
  fi
  expect 'Usage: quordex_helper <path> <1|0>' Q "$dir/locked"
  expect 'quordex_helper: Open failed: {error}' Q "$dir/missing" 1
  expect 'quordex_helper: Get flags failed: {error}' Q /proc/self/status 1
  # Without the capability to change the attribute (dropped when run as root).
  [ "$(id -u)" = 0 ] && prefix=(setpriv --inh-caps=-linux_immutable --bounding-set=-linux_immutable)
  if Q "$dir/locked" 0 2>&1 | grep -q 'Get flags failed'; then
    echo "skipped: the set flags message (no inode attributes in $dir)"
  else
    expect 'quordex_helper: Set flags failed (Operation not permitted): {error}' Q "$dir/locked" 1
  fi
  [ "$failed" = 0 ] && echo "$checked messages: printed by the programs and shown in the man pages"
  exit "$failed"
  ;;

reader-messages)
  need mandoc
  show=$(realpath "$3") keyfile=$(realpath "$4") emulator=${5:-}
  pages=$(for p in "$1" "$2"; do mandoc -Tascii -O width=1000 "$p"; done | sed 's/.\x08//g' | tr -s ' \t')
  dir=$(mktemp -d) || exit 1
  trap 'rm -rf "$dir"' EXIT
  cd "$dir" || exit 1
  S() { $emulator "$show" "$@"; }
  K() { $emulator "$keyfile" "$@"; }
  fixed=$'" RATE_LIMIT 3 30\n" KEY_METHOD app512\n" CYCLE_TIME 30\n" SECURE_KEY Vq7Zr2KxP9mWb4TnL8cYs1GdHf3Je6Ua\n" ACL_TYPE deny\n" MIDDLE_TYPE DISALLOW_REUSE\n" MIDDLE_TIME 58014762\n" ENV_TYPE share\n" DETECT_YN n\n'
  text() { printf '" AUTH_KEY\n%s%s' "$1" "$fixed" >"$2"; }
  text '" HOSTNAME h\n" USERNAME u\n" PASSWORD p\n" DBNAME d\n" PORTNO 3306\n' ok
  text $'" PORTNO 80\n" HOSTNAME h\n" HOSTNAME h\n" COLOR red\n" DBNAME\n" USERNAME \n' broken
  text '" hostname h\n" X!\n' odd
  printf '%s' "$(cat ok)" >nonl
  printf '" AUTH_KEY\n" AUTH_KEY x\n" HOSTNAME %0100d\n' 0 >long
  printf 'AAAA' >enc
  : >empty
  mkfifo fifo
  head -c 5000 /dev/zero >big
  printf '%088d' 0 >badkey
  chmod 0444 badkey
  touch existing
  failed=0 checked=0
  # expect STATUS TEMPLATE COMMAND...: COMMAND ends with STATUS and prints TEMPLATE.
  expect() {
    local want=$1 template=$2 regex shown out status
    shift 2
    regex=$(sed -e 's/[][\.*^$()+?|/]/\\&/g' -e 's/{[a-z]*}/.+/g' <<<"$template")
    shown=$(sed 's/{\([a-z]*\)}/\1/g' <<<"$template")
    out=$("$@" 2>&1 >/dev/null </dev/null)
    status=$?
    checked=$((checked + 1))
    if [ "$status" != "$want" ] || ! grep -Eq -- "$regex" <<<"$out"; then
      echo "FAIL: '$*' gave status $status and '$out', not $want and '$template'" >&2
      failed=1
    fi
    grep -qF -- "$shown" <<<"$pages" || { echo "FAIL: the man pages do not show '$shown'" >&2; failed=1; }
  }
  text '' fixedonly
  expect 0 '{file}: note: no {key} line; the product cannot connect without it' S -q fixedonly
  expect 1 '{file}:{line}: the last line does not end with a newline' S nonl
  expect 1 '{file}:{line}: PORTNO value is not a port number from 3306 to 2147483647' S broken
  expect 1 '{file}:{line}: {key} out of place: it belongs before {other} (line {n})' S broken
  expect 1 '{file}:{line}: {key} repeated (first on line {n})' S broken
  expect 1 '{file}:{line}: unknown key {key}' S broken
  expect 1 '{file}:{line}: {key} has no value' S broken
  expect 1 '{file}:{line}: a space but no value after the key' S broken
  expect 1 '{file}:{line}: not an option line (a double quote, a space and a key)' S odd
  expect 1 '{file}:{line}: {key} line missing' S long
  expect 1 '{file}:{line}: {key} line longer than 79 characters ({n})' S long
  expect 2 'Cannot determine home directory' env -u HOME $emulator "$show"
  expect 2 'Cannot open "{file}": {error}' S missing
  expect 2 'Cannot read "{file}": not a regular file' S fifo
  expect 2 'Cannot read "{file}": larger than 4096 bytes' S big
  expect 2 '"{file}" is empty' S empty
  expect 2 'Cannot load the encryption key from "{keyfile}" to read "{file}"' S -k missing enc
  expect 2 '"{file}" is neither a plain configuration nor encrypted under the key from "{keyfile}"' S -k badkey enc
  expect 2 'vorn_show: one FILE at most' S a b
  expect 2 'unknown option -- {x}' S --bogus
  expect 1 'vorn_keyfile: "{path}" exists; a key file is never replaced' K existing
  expect 1 'vorn_keyfile: cannot create the folders of "{path}": {error}' K existing/sub/key
  expect 2 'vorn_keyfile: the key must be exactly 32 hexadecimal digits' K -k 12 new
  expect 2 'vorn_keyfile: the key must not contain a zero byte (00): it would end the key there' \
    K -k 00112233445566778899aabbccddeeff new
  expect 2 'vorn_keyfile: --key given twice' K -k 1 -k 2 new
  expect 2 'vorn_keyfile: one PATH at most' K --print-key a b
  expect 2 'option requires an argument -- {x}' K --key
  [ -e new ] && { echo "FAIL: a refused vorn_keyfile left \"new\" behind" >&2; failed=1; }
  [ "$failed" = 0 ] && echo "$checked messages: printed by vorn_show and vorn_keyfile and shown in their pages"
  exit "$failed"
  ;;
esac
echo "usage: check_man.sh lint|render|messages|reader-messages ..." >&2
exit 2
