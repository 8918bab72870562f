#!/bin/sh
# Passes when the ELF program $1 carries the hardening of the deliverables: a
# position-independent executable (type DYN with the PIE flag), full RELRO (a
# GNU_RELRO segment and immediate binding), a non-executable stack, the stack
# protector (__stack_chk_fail) and fortified libc calls (some __*_chk other
# than the stack protector's).
set -eu
file=$1
fail=0
bad() { echo "$file: $*" >&2; fail=1; }

type=$(readelf -h "$file" | sed -n 's/^ *Type: *\([A-Z]*\).*/\1/p')
[ "$type" = DYN ] || bad "type '$type', expected DYN"
dynamic=$(readelf -d "$file")
printf '%s\n' "$dynamic" | grep -q '(FLAGS_1).*Flags:.* PIE' || bad "no PIE in FLAGS_1"
printf '%s\n' "$dynamic" | grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*Flags:.* NOW' || bad "no BIND_NOW"
segments=$(readelf -lW "$file")
printf '%s\n' "$segments" | grep -q '^ *GNU_RELRO ' || bad "no GNU_RELRO segment"
stack=$(printf '%s\n' "$segments" | awk '$1 == "GNU_STACK" { print $(NF - 1) }')
case "$stack" in
  RW) ;;
  *) bad "GNU_STACK flags '$stack', expected RW" ;;
esac
imports=$(readelf --dyn-syms -W "$file" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }')
printf '%s\n' "$imports" | grep -qx '__stack_chk_fail' || bad "no __stack_chk_fail import"
fortified=$(printf '%s\n' "$imports" | grep -E '^__[a-z0-9_]+_chk$' | grep -vx '__stack_chk_fail' | tr '\n' ' ')
[ -n "$fortified" ] || bad "no fortified __*_chk import"
[ "$fail" = 0 ] || exit 1
echo "$file: PIE, RELRO, BIND_NOW, stack $stack, __stack_chk_fail, $fortified"
