#!/bin/sh
# Runs every program of the build end to end under valgrind's memcheck: any
# invalid access, use of uninitialised memory, or definitely, indirectly or
# possibly lost block makes valgrind exit with 99, and every run must end with
# the status it has without valgrind. (The buffers that vorn_sql keeps until it
# ends stay reachable and are no error.) A program without runs of its own below
# is run with --help.
# Usage: valgrind_runs.sh VALGRIND SCRATCH NAME=PATH...
set -u
valgrind=$1
mkdir -p "$2" && dir=$(mktemp -d "$2/valgrind.XXXXXX") || exit 1
shift 2
trap 'chattr -i "$dir/f" 2>/dev/null; rm -rf "$dir"' EXIT
cd "$dir" || exit 1
failed=0

# check WANT INPUT PROGRAM ARGS...: runs the program under memcheck.
check() {
  want=$1 input=$2
  shift 2
  printf '%s' "$input" | env -i HOME="$dir" PATH=/usr/bin:/bin "$valgrind" -q --error-exitcode=99 \
    --leak-check=full --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes "$@" >/dev/null 2>err
  got=$?
  if [ "$got" != "$want" ]; then
    echo "FAILED (status $got, expected $want): $*" >&2
    cat err >&2
    failed=1
  else
    echo "ok (status $got): $*"
  fi
}

runs() {  # NAME PATH
  case $1 in
  vorn_sql)
    check 0 yyyyyy "$2"
    check 0 y "$2" -H db1 -P 3306 -d auth -u admin -p 'a b' -s conf
    check 1 'y n' "$2" -d dddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddd
    check 1 y "$2" -H db1 -P 80
    check 0 "" "$2" --help
    check 1 "" "$2" -e yes --bogus
    ;;
  vorn_sql_testkey)
    rm -f .vorn_yelto
    check 1 y "$2" -e yes -s encrypted
    check 0 "" "$keyfile" --key=112233445566778899aabbccddeeff10 .vorn_yelto
    check 0 yyyyyy "$2" -e yes -s encrypted
    ;;
  vorn_keyfile)
    check 0 "" "$2" --key=112233445566778899aabbccddeeff10 k/.vorn_yelto
    check 1 "" "$2" k/.vorn_yelto
    check 2 "" "$2" --key=00
    ;;
  vorn_set)
    check 0 'hostname=h
portno=3307
password=p w' "$2" -s setconf
    check 2 'hostname=h
hostname=i' "$2" -s setconf
    ;;
  vorn_set_testkey)
    check 0 'password=p w' "$2" -y -e yes -s setconf.enc
    ;;
  quordex_helper)
    : >f
    plain=$("$2" f 1 >/dev/null 2>&1; echo $?)
    "$2" f 0 >/dev/null 2>&1
    case $plain in 0 | 1) ;; *) echo "quordex_helper did not run (status $plain)" >&2; exit 1 ;; esac
    check "$plain" "" "$2" f 1
    check "$plain" "" "$2" f 0
    check 1 "" "$2" missing 1
    check 1 "" "$2" f
    ;;
  check_vorn)
    port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    printf '" AUTH_KEY\n" HOSTNAME 127.0.0.1\n" USERNAME u\n" PASSWORD p\n" DBNAME d\n" PORTNO %s\n' "$port" >plugin.conf
    check 2 "" "$2" -f plugin.conf -w 1 -c @0:2 -v
    check 3 "" "$2" -f plugin.conf -t 0
    ;;
  *)
    check 0 "" "$2" --help
    ;;
  esac
}

# vorn_sql_testkey's runs make their key file with vorn_keyfile.
keyfile=
for pair in "$@"; do
  case $pair in vorn_keyfile=*) keyfile=${pair#*=} ;; esac
done
for pair in "$@"; do
  runs "${pair%%=*}" "${pair#*=}"
done
exit "$failed"
