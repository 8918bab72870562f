#!/bin/sh
# Runs vorn_sql (plain, and encrypted through its test build) and quordex_helper
# end to end under valgrind's memcheck: any invalid access, use of uninitialised
# memory, or definitely, indirectly or possibly lost block makes valgrind exit
# with 99, and every run must end with the status it has without valgrind.
# (The buffers that vorn_sql keeps until it ends stay reachable and are no error.)
# Usage: valgrind_runs.sh VALGRIND VORN_SQL VORN_SQL_TESTKEY VORN_KEYFILE QUORDEX_HELPER SCRATCH
set -u
valgrind=$1 vorn_sql=$2 vorn_sql_testkey=$3 vorn_keyfile=$4 quordex_helper=$5
mkdir -p "$6" && dir=$(mktemp -d "$6/valgrind.XXXXXX") || exit 1
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

check 0 yyyyyy "$vorn_sql"
check 0 y "$vorn_sql" -H db1 -P 3306 -d auth -u admin -p 'a b' -s conf
check 1 'y n' "$vorn_sql" -d dddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddd
check 1 y "$vorn_sql" -H db1 -P 80
check 0 "" "$vorn_sql" --help
check 1 "" "$vorn_sql" -e yes --bogus
check 1 y "$vorn_sql_testkey" -e yes -s encrypted
check 0 "" "$vorn_keyfile" --key=112233445566778899aabbccddeeff10 .vorn_yelto
check 0 yyyyyy "$vorn_sql_testkey" -e yes -s encrypted
: >f
plain=$("$quordex_helper" f 1 >/dev/null 2>&1; echo $?)
"$quordex_helper" f 0 >/dev/null 2>&1
case $plain in 0 | 1) ;; *) echo "quordex_helper did not run (status $plain)" >&2; exit 1 ;; esac
check "$plain" "" "$quordex_helper" f 1
check "$plain" "" "$quordex_helper" f 0
check 1 "" "$quordex_helper" missing 1
check 1 "" "$quordex_helper" f
exit "$failed"
