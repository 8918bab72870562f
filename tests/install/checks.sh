#!/bin/sh
# The end-to-end checks of the installed programs, run as root on a system
# where vorn-admin and vorn-admin-dbcheck are installed: in a copy of the i386
# host root (check_install.sh) and in the 32-bit kernel guest (guest_run.sh).
#   checks.sh PROGRAMS HOST PORT WORK
# PROGRAMS is the list of programs ("PACKAGE DIR NAME SECTION" lines, written
# by CMake), HOST and PORT the MariaDB server, whose account vorn's
# password is the line on standard input; WORK an empty folder for the files.
# Runs the root part, then the user part as user and group 1000 (setpriv).
# Prints one line per step, "ok: ..." or "FAILED: ...", and exits 0 when every
# step held, 1 otherwise.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
programs=$1 host=$2 port=$3 work=$4
IFS= read -r password || { echo "FAILED: no password on standard input"; exit 1; }
failed=0
out=$work/step.out
err=$work/step.err

# step WHAT STATUS STDERR COMMAND...: COMMAND ends with a status that matches
# the pattern STATUS and the last line of its standard error matches the
# pattern STDERR ("" for none); its standard output stays in $out for the steps
# after it.
step() {
  what=$1 want=$2 want_err=$3
  shift 3
  "$@" >"$out" 2>"$err"
  got=$?
  last=$(tail -n 1 "$err")
  matched=no
  # shellcheck disable=SC2254 # both are patterns
  case $got in $want) case $last in $want_err) matched=yes ;; esac ;; esac
  if [ "$matched" = yes ]; then
    echo "ok: $what"
  else
    echo "FAILED: $what: status $got (want $want), stderr '$last' (want '$want_err')"
    failed=1
  fi
}
# have WHAT COMMAND...: COMMAND succeeds.
have() {
  what=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "ok: $what"; else echo "FAILED: $what" && failed=1; fi
}
# The attribute letters lsattr shows for a file.
attrs() { lsattr -d "$1" 2>/dev/null | cut -d' ' -f1; }
has_attr() { case $(attrs "$2") in *"$1"*) return 0 ;; esac; return 1; }
lacks_attr() { ! has_attr "$@"; }
connected() { grep -q "^Connected to $host port $port as vorn, database quordexDB, server ." "$out"; }
# write FILE DATABASE [OPTION...]: vorn_sql writes FILE for the test's server,
# answering the update question only.
write() {
  file=$1 db=$2
  shift 2
  printf y | vorn_sql -H "$host" -P "$port" -d "$db" -u vorn -p "$password" -s "$file" "$@"
}

# set_write FILE [OPTION...]: vorn_set writes FILE for the test's server, the
# values on its standard input.
set_write() {
  file=$1
  shift
  printf 'hostname=%s\nportno=%s\ndbname=quordexDB\nusername=vorn\npassword=%s\n' "$host" "$port" "$password" |
    vorn_set -s "$file" "$@"
}

as_root() {
  # Every installed program of the list starts from its installed path: it is
  # there and names itself when asked for help (the dynamic loader, missing
  # libraries included, would say otherwise with status 127).
  while read -r _ dir name _; do
    step "$name starts from /usr/$dir/$name and answers --help" "[01]" "*" "/usr/$dir/$name" --help
    have "$name's help names it" grep -q "$name" "$out" "$err"
  done <"$programs"

  key=/usr/quordex/tirun/.vorn_yelto
  step "vorn_keyfile provisions $key" 0 "" vorn_keyfile
  have "the key file is r--r--r-- root root" test "$(stat -c '%A %U %G' "$key")" = "-r--r--r-- root root"
  step "vorn_keyfile keeps it" 1 "vorn_keyfile: \"$key\" exists; a key file is never replaced" vorn_keyfile

  plain=$work/plain.conf encrypted=$work/encrypted.conf
  step "vorn_sql writes the plain file" 0 "" write "$plain" quordexDB
  step "vorn_show reads it back" 0 "" vorn_show --reveal "$plain"
  have "vorn_show shows what vorn_sql wrote" cmp "$out" "$plain"
  have "it holds the port" grep -qx "\" PORTNO $port" "$plain"
  step "vorn_sql writes the encrypted file" 0 "" write "$encrypted" quordexDB -e yes
  step "vorn_show decrypts it to the plain file" 0 "" vorn_show --reveal "$encrypted"
  have "the decrypted file is the plain one" cmp "$out" "$plain"
  step "vorn_dbcheck connects with the plain file" 0 "" vorn_dbcheck -t 20 "$plain"
  have "vorn_dbcheck names the server it reached" connected
  step "vorn_dbcheck connects with the encrypted file" 0 "" vorn_dbcheck -t 20 "$encrypted"
  have "vorn_dbcheck names the server it reached" connected
  step "vorn_sql writes a file with a wrong password" 0 "" sh -c \
    'printf y | vorn_sql -H "$1" -P "$2" -d quordexDB -u vorn -p wrong -s "$3"' _ "$host" "$port" "$work/wrong.conf"
  step "vorn_dbcheck reports a wrong password" 1 "*: cannot connect to * error 1045: *" \
    vorn_dbcheck -t 20 "$work/wrong.conf"
  step "vorn_set writes the plain file from standard input" 0 "" set_write "$work/set.conf"
  have "vorn_set wrote vorn_sql's bytes" cmp "$work/set.conf" "$plain"
  step "vorn_set writes the encrypted file" 0 "" set_write "$work/set.enc" -e yes
  step "vorn_show decrypts vorn_set's file to the plain file" 0 "" vorn_show --reveal "$work/set.enc"
  have "the decrypted file is the plain one" cmp "$out" "$plain"
  step "vorn_dbcheck connects with vorn_set's encrypted file" 0 "" vorn_dbcheck -t 20 "$work/set.enc"
  have "vorn_dbcheck names the server it reached" connected

  # The immutable attribute on the system's own file system: the lock keeps
  # every other attribute (nodump here) and stops vorn_sql until it is undone.
  cp "$plain" "$work/before"
  have "chattr sets nodump" chattr +d "$plain"
  step "quordex_helper locks the plain file" 0 "" quordex_helper "$plain" 1
  have "lsattr shows it immutable" has_attr i "$plain"
  have "lsattr shows nodump kept" has_attr d "$plain"
  step "vorn_sql cannot replace it" 1 "Failed to write new secret: Operation not permitted" write "$plain" otherDB
  have "it is unchanged" cmp "$plain" "$work/before"
  have "no temporary file is left" test ! -e "$plain~"
  step "quordex_helper unlocks it" 0 "" quordex_helper "$plain" 0
  have "lsattr shows it mutable" lacks_attr i "$plain"
  have "lsattr shows nodump kept" has_attr d "$plain"
  step "vorn_sql replaces it" 0 "" write "$plain" otherDB
  have "it holds the new database" grep -qx '" DBNAME otherDB' "$plain"
}

as_user() {
  # HOME gives vorn_sql, vorn_show and vorn_dbcheck their default file.
  conf=$HOME/.vorn_sql
  step "vorn_sql writes ~/.vorn_sql encrypted" 0 "" sh -c 'printf y | vorn_sql -H "$1" -P "$2" -d quordexDB -u vorn -p "$3" -e yes' \
    _ "$host" "$port" "$password"
  step "vorn_show checks it" 0 "" vorn_show -q
  step "vorn_set replaces ~/.vorn_sql" 0 "" set_write "$conf" -e yes
  step "vorn_show checks vorn_set's file" 0 "" vorn_show -q
  step "vorn_dbcheck connects with it" 0 "" vorn_dbcheck -t 20
  have "vorn_dbcheck names the server it reached" connected
  step "quordex_helper cannot lock it without the privilege" 1 \
    "quordex_helper: Set flags failed (Operation not permitted): Operation not permitted" quordex_helper "$conf" 1
  have "lsattr shows it mutable" lacks_attr i "$conf"
}

if [ "$(id -u)" = 0 ]; then
  echo "as root:"
  as_root
  mkdir -p "$work/user"
  chown 1000:1000 "$work/user"
  echo "as user 1000:"
  printf '%s\n' "$password" | setpriv --reuid=1000 --regid=1000 --clear-groups \
    env HOME="$work/user" sh "$0" "$programs" "$host" "$port" "$work/user" || failed=1
else
  as_user
fi
exit "$failed"
