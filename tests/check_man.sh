#!/usr/bin/env bash
# Checks of the man pages. Exit 77 (skipped) when a tool is missing.
#   check_man.sh lint PAGE
#       mandoc -Tlint reports nothing, not even style remarks.
#   check_man.sh render PAGE VERSION
#       man -l displays it without a groff warning, with every heading of the
#       page (its .SH lines) and "vorn VERSION" in its footer.
#   check_man.sh messages NAME PAGE PROGRAM
#       Each message of NAME's table below is both what PROGRAM prints in that
#       situation, with that status, and a text of PAGE ({word}: a variable
#       part, shown in the page as the word). Every program has a table.
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
  mapfile -t headings < <(sed -n 's/^\.SH  *//p' "$page" | tr -d '"')
  set -- "${headings[@]}"
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
  name=$1 page=$2 program=$(realpath "$3")
  support=$(cd "$(dirname "$0")" && pwd)/support
  dir=$(mktemp -d) || exit 1
  fakes=()
  trap 'rm -rf "$dir"; [ ${#fakes[@]} = 0 ] || kill "${fakes[@]}" 2>/dev/null' EXIT
  cd "$dir" || exit 1
  # The page as plain text on endless lines, runs of blanks squeezed.
  text=$(mandoc -Tascii -O width=1000 "$page" | sed 's/.\x08//g' | tr -s ' \t')
  P() { "$program" "$@"; }
  failed=0 checked=0
  # expect STATUS TEMPLATE COMMAND...: COMMAND ends with STATUS and prints TEMPLATE.
  expect() {
    local want=$1 template=$2 regex shown out status
    shift 2
    regex=$(sed -e 's/[][\.*^$()+?|/]/\\&/g' -e 's/{[a-zA-Z]*}/.+/g' <<<"$template")
    shown=$(sed 's/{\([a-zA-Z]*\)}/\1/g' <<<"$template")
    out=$("$@" 2>&1 >/dev/null </dev/null)
    status=$?
    checked=$((checked + 1))
    if [ "$status" != "$want" ] || ! grep -Eq -- "$regex" <<<"$out"; then
      echo "FAIL: '$*' gave status $status and '$out', not $want and '$template'" >&2
      failed=1
    fi
    grep -qF -- "$shown" <<<"$text" || { echo "FAIL: $page does not show '$shown'" >&2; failed=1; }
  }
  yes_to() { echo y | "$@"; }
  fixed=$'" RATE_LIMIT 3 30\n" KEY_METHOD app512\n" CYCLE_TIME 30\n" SECURE_KEY Vq7Zr2KxP9mWb4TnL8cYs1GdHf3Je6Ua\n" ACL_TYPE deny\n" MIDDLE_TYPE DISALLOW_REUSE\n" MIDDLE_TIME 58014762\n" ENV_TYPE share\n" DETECT_YN n\n'
  config() { printf '" AUTH_KEY\n%s%s' "$1" "$fixed" >"$2"; }
  config $'" HOSTNAME h\n" USERNAME u\n" PASSWORD p\n" DBNAME d\n" PORTNO 3306\n' ok
  config '' fixedonly
  printf 'AAAA' >enc
  : >empty
  mkfifo fifo
  head -c 5000 /dev/zero >big
  printf '%088d' 0 >badkey
  chmod 0444 badkey
  touch existing
  # A listener that plays a server (support/fake_mariadb.py) for one run, and
  # the file "fake" that leads to it.
  fake() {
    rm -f port
    /usr/bin/python3 "$support/fake_mariadb.py" "$@" >port &
    fakes+=($!)
    for _ in $(seq 200); do [ -s port ] && break; sleep 0.05; done
    config $'" HOSTNAME 127.0.0.1\n" USERNAME u\n" PASSWORD p\n" DBNAME d\n" PORTNO '"$(head -n 1 port)"$'\n' fake
  }
  case $name in
  vorn_sql)
    long=$(printf 'h%.0s' $(seq 68))
    touch busy~
    mkdir folder
    expect 1 'Failed to parse command line' P -x
    expect 1 'unknown option -- {x}' P -x
    expect 1 'option requires an argument -- {x}' P -h
    expect 1 'ambiguous option -- {x}' P --p x
    expect 1 "option doesn't take an argument -- {x}" P --help=x
    expect 1 'Duplicate -H option detected' P -H a -H b
    expect 1 '-H must be followed by a hostname' P -H ''
    expect 1 '-e must be followed by a encrypt flag' P -e ''
    expect 1 '-u must be followed by a username' P -u ''
    expect 1 '-p must be followed by a password' P -p ''
    expect 1 '-d must be followed by a dbname' P -d ''
    expect 1 '-s must be followed by a filename' P -s ''
    expect 1 '-H must not contain a line break' P -H $'a\nb'
    expect 1 '-e requires an acceptable argument' P -e YES
    expect 1 '-P requires an argument' P -P 3305
    expect 1 'Cannot determine home directory' env HOME=relative "$program" -H h
    expect 1 'HOSTNAME value is too long' yes_to P -H "$long" -s "$dir/long"
    expect 1 'Refusing to replace "{file}": it is {kind}, not a configuration file' \
      yes_to P -H h -P 3306 -d d -u u -p p -s "$dir/fifo"
    expect 1 'Failed to create "{file}" ({error})' yes_to P -H h -P 3306 -d d -u u -p p -s "$dir/busy"
    expect 1 'Failed to write new secret: {error}' yes_to P -H h -P 3306 -d d -u u -p p -s "$dir/folder"
    if [ -e /usr/quordex/tirun/.vorn_yelto ]; then
      echo "skipped: the key file message (this machine has a key file)"
    else
      expect 1 'Cannot load the encryption key from "/usr/quordex/tirun/.vorn_yelto"' \
        yes_to P -e yes -H h -P 3306 -d d -u u -p p -s "$dir/encrypted"
    fi
    ;;
  quordex_helper)
    # Run under the name "quordex_helper", which its usage line shows.
    ln -s "$program" quordex_helper
    Q() { PATH="$dir:$PATH" "${prefix[@]}" quordex_helper "$@"; }
    prefix=()
    touch locked
    expect 1 'Usage: quordex_helper <path> <1|0>' Q "$dir/locked"
    expect 1 'quordex_helper: Open failed: {error}' Q "$dir/missing" 1
    expect 1 'quordex_helper: Get flags failed: {error}' Q /proc/self/status 1
    # Without the capability to change the attribute (dropped when run as root).
    [ "$(id -u)" = 0 ] && prefix=(setpriv --inh-caps=-linux_immutable --bounding-set=-linux_immutable)
    if Q "$dir/locked" 0 2>&1 | grep -q 'Get flags failed'; then
      echo "skipped: the set flags message (no inode attributes in $dir)"
    else
      expect 1 'quordex_helper: Set flags failed (Operation not permitted): {error}' Q "$dir/locked" 1
    fi
    ;;
  vorn_show)
    config $'" PORTNO 80\n" HOSTNAME h\n" HOSTNAME h\n" COLOR red\n" DBNAME\n" USERNAME \n' broken
    config '" hostname h\n" X!\n' odd
    printf '%s' "$(cat ok)" >nonl
    printf '" AUTH_KEY\n" AUTH_KEY x\n" HOSTNAME %0100d\n' 0 >long
    expect 0 '{file}: note: no {key} line; the product cannot connect without it' P -q fixedonly
    expect 1 '{file}:{line}: the last line does not end with a newline' P nonl
    expect 1 '{file}:{line}: PORTNO value is not a port number from 3306 to 2147483647' P broken
    expect 1 '{file}:{line}: {key} out of place: it belongs before {other} (line {n})' P broken
    expect 1 '{file}:{line}: {key} repeated (first on line {n})' P broken
    expect 1 '{file}:{line}: unknown key {key}' P broken
    expect 1 '{file}:{line}: {key} has no value' P broken
    expect 1 '{file}:{line}: a space but no value after the key' P broken
    expect 1 '{file}:{line}: not an option line (a double quote, a space and a key)' P odd
    # A decrypted text that starts with HOSTNAME (tests/fixtures/late.plain).
    fixtures=$(dirname "$0")/fixtures
    cp "$fixtures/test.vorn_yelto" testkey && chmod 0444 testkey
    expect 1 '{file}:1: the first line is not AUTH_KEY' P -k testkey "$fixtures/late.encrypted"
    expect 1 '{file}:{line}: {key} line missing' P long
    expect 1 '{file}:{line}: {key} line longer than 79 characters ({n})' P long
    expect 2 'Cannot determine home directory' env -u HOME "$program"
    expect 2 'Cannot open "{file}": {error}' P missing
    expect 2 'Cannot read "{file}": not a regular file' P fifo
    expect 2 'Cannot read "{file}": larger than 4096 bytes' P big
    expect 2 '"{file}" is empty' P empty
    expect 2 'Cannot load the encryption key from "{keyfile}" to read "{file}"' P -k missing enc
    expect 2 '"{file}" is neither a plain configuration nor encrypted under the key from "{keyfile}"' P -k badkey enc
    expect 2 'vorn_show: one FILE at most' P a b
    expect 2 'unknown option -- {x}' P --bogus
    ;;
  vorn_keyfile)
    expect 1 'vorn_keyfile: "{path}" exists; a key file is never replaced' P existing
    expect 1 'vorn_keyfile: cannot create the folders of "{path}": {error}' P existing/sub/key
    expect 2 'vorn_keyfile: the key must be exactly 32 hexadecimal digits' P -k 12 new
    expect 2 'vorn_keyfile: the key must not contain a zero byte (00): it would end the key there' \
      P -k 00112233445566778899aabbccddeeff new
    expect 2 'vorn_keyfile: --key given twice' P -k 1 -k 2 new
    expect 2 'vorn_keyfile: the key must be exactly 32 hexadecimal digits' P --key-stdin new
    expect 2 'vorn_keyfile: --check takes the key (--key or --key-stdin) and no --print-key' P --check new
    expect 3 'vorn_keyfile: no key can be loaded from "{path}"' P --check -k 0123456789abcdeffedcba9876543210 new
    P -k 0123456789abcdeffedcba9876543210 other >/dev/null 2>&1
    expect 1 'vorn_keyfile: "{path}" holds another key' P --check -k 1123456789abcdeffedcba9876543210 other
    expect 2 'vorn_keyfile: one PATH at most' P --print-key a b
    expect 2 'option requires an argument -- {x}' P --key
    ln -s . link
    mkdir shared && chmod 0777 shared
    expect 1 'vorn_keyfile: refusing the folder "{folder}": a symbolic link' P link/key
    expect 1 'vorn_keyfile: refusing the folder "{folder}": writable by other users, without the sticky bit' P shared/key
    if [ "$(id -u)" = 0 ]; then
      mkdir theirs && chown 1 theirs
      expect 1 'vorn_keyfile: refusing the folder "{folder}": owned by user {uid}, neither root nor the caller' P theirs/key
    else
      echo "skipped: the message of a folder owned by another user (needs root)"
    fi
    R() { echo 0123456789abcdeffedcba9876543211 | "$program" --rotate --key-stdin "$@"; }
    printf '" AUTH_KEY\n' >plain && printf 'AAAAAAAAAAAA' >other.conf && : >empty
    expect 2 'vorn_keyfile: --rotate takes the new key with --key-stdin, and neither --key, --check nor --print-key' \
      P --rotate -k 0123456789abcdeffedcba9876543210 plain
    expect 2 'vorn_keyfile: --rotate takes from 1 to 64 FILEs' R
    expect 2 'vorn_keyfile: --key-file goes with --rotate; give the key file as PATH otherwise' P --key-file=other
    expect 3 'vorn_keyfile: no key can be loaded from "{path}"' R --key-file=new plain
    expect 3 'vorn_keyfile: "{file}" is plain, not encrypted: there is nothing to rotate' R --key-file=other plain
    expect 3 'vorn_keyfile: "{file}" opens under no key on the host, nor under the new key' R --key-file=other other.conf
    expect 3 'vorn_keyfile: "{file}" is empty' R --key-file=other empty
    expect 3 'vorn_keyfile: "{file}" is a symbolic link: give the file it names' R --key-file=other link
    expect 3 'vorn_keyfile: rotation refused; nothing was changed' R --key-file=other shared
    [ -e key ] && { echo "FAIL: vorn_keyfile wrote through the link \"link\"" >&2; failed=1; }
    [ -e new ] && { echo "FAIL: a refused vorn_keyfile left \"new\" behind" >&2; failed=1; }
    ;;
  vorn_set)
    touch busy~
    S() { printf "$1" | "$program" "${@:2}"; }
    expect 2 'vorn_set: line {n}: no "=" (NAME=VALUE expected)' S 'hostname\n' -s new
    expect 2 'vorn_set: line {n}: unknown name "{name}" (hostname, portno, dbname, username or password)' S 'host=h' -s new
    expect 2 'vorn_set: line {n}: {name} given twice (first on line {m})' S 'dbname=a\ndbname=b' -s new
    expect 2 'vorn_set: line {n}: NUL byte' S 'dbname=a\0b' -s new
    expect 2 'vorn_set: line {n}: {name} is empty' S 'username=' -s new
    expect 2 'vorn_set: line {n}: {name} is too long (its line holds at most 79 characters)' \
      S "hostname=$(printf 'h%.0s' $(seq 68))" -s new
    expect 2 'vorn_set: line {n}: portno is not a port number from 3306 to 2147483647' S 'portno=80' -s new
    expect 2 'vorn_set: line {n}: {name} does not fit the file (315 characters at most)' \
      S "dbname=$(printf 'd%.0s' $(seq 69))\npassword=$(printf 'p%.0s' $(seq 15))" -s new
    expect 2 'vorn_set: the default {name} does not fit the file with the values given (315 characters at most)' \
      S "dbname=$(printf 'd%.0s' $(seq 60))\npassword=ppppp" -y -s new
    expect 2 'vorn_set: standard input is longer than 8192 bytes' S "$(printf '#%.0s' $(seq 8193))" -s new
    expect 2 'vorn_set: -e takes yes or no' S '' -e YES -s new
    expect 2 'vorn_set: -s needs a path' S '' -s ''
    expect 2 'vorn_set: -{x} given twice' S '' -s a -s b
    expect 2 'vorn_set: unexpected argument "{word}"; the values come on standard input' S '' -s new extra
    expect 2 'unknown option -- {x}' S '' --bogus
    expect 1 'Cannot determine home directory' env HOME=relative "$program"
    expect 1 'Refusing to replace "{path}": it is {kind}, not a configuration file' S '' -s fifo
    expect 1 'Failed to create "{path}" ({error})' S '' -s busy
    expect 1 'Failed to write new secret: {error}' S '' -s "$dir"
    F() { S "$@" >/dev/full; }
    expect 1 'vorn_set: cannot write to standard output: {error}' F 'hostname=h' --print -s new
    if [ -e /usr/quordex/tirun/.vorn_yelto ]; then
      echo "skipped: the key file message (this machine has a key file)"
    else
      expect 1 'Cannot load the encryption key from "/usr/quordex/tirun/.vorn_yelto"' S '' -e yes -s new
    fi
    [ -e new ] && { echo "FAIL: a refused vorn_set left \"new\" behind" >&2; failed=1; }
    ;;
  vorn_dbcheck)
    config $'" HOSTNAME h\n" USERNAME u\n" PASSWORD p\n" DBNAME d\n" PORTNO 70000\n' bigport
    expect 2 'vorn_dbcheck: one FILE at most' P a b
    expect 2 'vorn_dbcheck: --timeout needs a number of seconds from 1 to 86400' P -t 0 ok
    expect 2 'vorn_dbcheck: --key-file needs a path' P --key-file= ok
    expect 2 'Cannot open "{file}": {error}' P missing
    expect 1 '{file}: no {KEY} line; cannot connect without it' P fixedonly
    expect 1 '{file}: PORTNO {port} is not a TCP port (at most 65535); no connection tried' P bigport
    fake record mysql_native_password mysql_clear_password
    expect 1 '{file}: refused to log in to {host} port {port} as {user}: the server asks for an authentication plugin other than mysql_native_password and client_ed25519, which keep the password from it; the password was not sent (see --allow-cleartext)' P fake
    fake record mysql_native_password other_plugin
    expect 1 '{file}: refused to log in to {host} port {port} as {user}: the server asks for an authentication plugin that vorn_dbcheck does not use; the password was not sent' P --allow-cleartext fake
    fake record --trickle
    expect 1 '{file}: cannot connect to {host} port {port} as {user}: not done within the timeout of {seconds} s; given up' P -t 2 fake
    ;;
  check_vorn)
    # The plugin reports on standard output; nothing listens on the port of "closed".
    P() { "$program" "$@" >&2; }
    free=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    config $'" HOSTNAME 127.0.0.1\n" USERNAME u\n" PASSWORD p\n" DBNAME d\n" PORTNO '"$free"$'\n' closed
    config $'" HOSTNAME h\n" USERNAME u\n" PASSWORD p\n" DBNAME d\n" PORTNO 70000\n' bigport
    config $'" PORTNO 80\n' broken
    for o in '-f ok extra|unexpected argument: {word}' '--bogus|unknown or ambiguous option: {option}' \
      '-f|an option needs a value: {option}' '-w 2:1|--warning needs a range such as 1, 1:, ~:1, 1:2 or @1:2' \
      '-c @|--critical needs a range such as 1, 1:, ~:1, 1:2 or @1:2' '-m 0889|--mode needs an octal mode such as 0444' \
      '-t 5:never|--timeout needs SECONDS from 1 to 86400, then optionally :ok, :warning, :critical or :unknown' \
      '-o no-such-user.x|--owner needs a user name or a uid of this system' '-f ok -f |--file needs a path' \
      '-i lock,key|--ignore takes lock, mode and owner, separated by commas' '-i lock|-f FILE is required'; do
      read -ra args <<<"${o%%|*}"
      [ "${o%%|*}" = '-f ok -f ' ] && args+=('')
      expect 3 "VORN UNKNOWN - check_vorn: ${o#*|}" P "${args[@]}"
    done
    expect 2 '{file}: cannot open: {error}' P -f missing
    expect 2 '{file}: not a regular file' P -f fifo
    expect 2 '{file}: larger than 4096 bytes' P -f big
    expect 2 '"{file}" is empty' P -f empty
    expect 2 '{file}: encrypted; no key can be loaded from the key file {keyfile}' P -k missing -f enc
    expect 2 '"{file}" is neither a plain configuration nor encrypted under the key from "{keyfile}"' P -k badkey -f enc
    expect 2 '{file}: not as vorn_sql writes it (faults: {count}); the first: {file}:{line}: {message}' P -f broken
    expect 2 '{file}: no {KEY} line; the product cannot connect without it' P -f fixedonly
    expect 2 '{file}: PORTNO {port} is not a TCP port (at most 65535); no connection tried' P -f bigport
    expect 2 '{file}: cannot connect to {host} port {port} as {user}: error {number}: {text}' P -f closed
    expect 2 '{file}: mode {mode}, not read-only as vorn_sql writes it (0444 or less)' P -f closed
    expect 2 '{file}: mode {mode}, not {mode} (--mode)' P -m 0400 -f closed
    expect 2 '{file}: owned by uid {uid}, not {user} (uid {uid})' P -o 4242 -f closed
    if lsattr closed >/dev/null 2>&1; then
      expect 2 '{file}: not locked (no immutable attribute; quordex_helper locks it)' P -f closed
    else
      expect 2 '{file}: cannot tell whether it is locked: {error}' P -f closed
    fi
    N() { setpriv --reuid=65534 --regid=65534 --clear-groups "$program" "$@" >&2; }
    [ "$(id -u)" = 0 ] && expect 3 '(check_vorn runs without the right to read it; see sudo in check_vorn(1))' N -f ok
    fake record mysql_native_password mysql_clear_password
    expect 2 '{file}: refused to log in to {host} port {port} as {user}: the server asks for an authentication plugin other than mysql_native_password and client_ed25519 (see --allow-cleartext); the password was not sent' P -f fake
    fake record --trickle
    expect 2 '{file}: cannot connect to {host} port {port} as {user}: not done within the timeout of {seconds} s; given up' P -t 2 -f fake
    ;;
  *)
    echo "FAIL: no table of messages for $name in $0" >&2
    exit 1
    ;;
  esac
  [ "$failed" = 0 ] && echo "$checked messages of $name: printed by the program and shown in $page"
  exit "$failed"
  ;;

esac
echo "usage: check_man.sh lint|render|messages ..." >&2
exit 2
