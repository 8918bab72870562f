#!/usr/bin/env bash
# Drives the bash completion file $1 of the program $2 the way bash does: sets
# COMP_WORDS and COMP_CWORD, calls the function registered for the program and
# compares COMPREPLY with the expected candidates, in any order. Each program
# has its table of cases here; one without fails.
set -u
prog=${2:?usage: completion_test.sh FILE.bash PROGRAM}
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/conf.d"
touch "$dir/conf.a" "$dir/other"
files="$dir/conf.a $dir/conf.d $dir/other"

# Command line after the program's name (a trailing space: the word being
# completed is empty; " = " stands for the word break bash makes at "=") |
# expected.
case $prog in
vorn_sql)
  all='-H -e -u -p -d -P -s --help --hostname --encrypt-flag --username --password --dbname --portno --secret'
  cases=(
    "|$all"
    "-|$all"
    "--|--help --hostname --encrypt-flag --username --password --dbname --portno --secret"
    "--h|--help --hostname"
    "--se|--secret"
    "-H db1 --p|--password --portno"
    "-e |yes no"
    "-e y|yes"
    "--encrypt-flag n|no"
    "--enc = |yes no"
    "--encrypt-flag = y|yes"
    "--encrypt-flag=y|yes"
    "-s $dir/|$dir/conf.a $dir/conf.d $dir/other"
    "-s $dir/conf|$dir/conf.a $dir/conf.d"
    "--secret = $dir/o|$dir/other"
    "--sec = $dir/o|$dir/other"
    "-H |"
    "-p |"
    "-u |"
    "-d |"
    "--password |"
    "-P |"
    "-h |"
    "--h $dir/o|"
    "-e yes -s $dir/other -|$all"
  ) ;;
vorn_show)
  cases=(
    "-|-r -q -k --reveal --quiet --key-file --help"
    "$dir/c|$dir/conf.a $dir/conf.d"
    "-k $dir/o|$dir/other"
    "--key-file = $dir/o|$dir/other"
    "--key-file=$dir/o|$dir/other"
  ) ;;
vorn_keyfile)
  cases=(
    "-|-k --key --key-stdin --print-key --check --rotate --key-file --help"
    "--rotate --key-stdin $dir/c|$dir/conf.a $dir/conf.d"
    "--rotate --key-file = $dir/o|$dir/other"
    "--key-file=$dir/o|$dir/other"
    "--key-file $dir/other -|-k --key --key-stdin --print-key --check --rotate --key-file --help"
    "--key-stdin $dir/o|$dir/other"
    "-k |"
    "--key = 01|"
    "--key=01|"
    "-k 0123 $dir/|$files"
  ) ;;
vorn_set)
  cases=(
    "|-s -e -y -n -h --secret --encrypt-flag --accept-defaults --print --help"
    "--|--secret --encrypt-flag --accept-defaults --print --help"
    "-e |yes no"
    "--enc = n|no"
    "--encrypt-flag=y|yes"
    "-s $dir/conf|$dir/conf.a $dir/conf.d"
    "--sec = $dir/o|$dir/other"
    "-n -|-s -e -y -n -h --secret --encrypt-flag --accept-defaults --print --help"
  ) ;;
quordex_helper)
  cases=(
    "$dir/c|$dir/conf.a $dir/conf.d"
    "$dir/conf.a |1 0"
    "$dir/conf.a 1|1"
    "$dir/conf.a 1 |"
  ) ;;
vorn_dbcheck)
  cases=(
    "-|-k -S -t -h --key-file --socket --timeout --allow-cleartext --help"
    "-t |"
    "--ti = |"
    "-k $dir/o|$dir/other"
    "--so = $dir/conf|$dir/conf.a $dir/conf.d"
    "--key-file=$dir/o|$dir/other"
    "-t 3 $dir/|$files"
  ) ;;
check_vorn)
  cases=(
    "-|-f -w -c -t -k -S -m -o -i -v -V -h --file --warning --critical --timeout --key-file --socket --allow-cleartext --mode --owner --ignore --verbose --version --help"
    "--k|--key-file"
    "-f $dir/c|$dir/conf.a $dir/conf.d"
    "--fi = $dir/o|$dir/other"
    "-k $dir/o|$dir/other"
    "-w |"
    "-t |"
    "-t 10 : |ok warning critical unknown"
    "-t 10 : u|unknown"
    "-t 10:c|10:critical"
    "-i |lock mode owner"
    "-i lock,m|lock,mode"
    "-o roo|root"
  ) ;;
*)
  echo "no completion table for $prog in $0" >&2
  exit 1 ;;
esac

source "$1" || exit 1
fn=$(complete -p "$prog" 2>/dev/null | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
if [ -z "$fn" ]; then
  echo "$1 registers no completion function for $prog" >&2
  exit 1
fi
sorted() { printf '%s\n' "$@" | LC_ALL=C sort | tr '\n' ' '; }
failed=0
for row in "${cases[@]}"; do
  line=${row%%|*}
  want=${row#*|}
  read -ra COMP_WORDS <<<"$prog $line"
  [[ $line == *" " || -z $line ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$prog $line"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$fn" "$prog" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  got=$(sorted "${COMPREPLY[@]}")
  expected=$(sorted $want)
  if [ "$got" != "$expected" ]; then
    echo "FAIL '$prog $line': got [$got], want [$expected]" >&2
    failed=1
  fi
done
[ "$failed" = 0 ] && echo "${#cases[@]} completion cases pass"
exit "$failed"
