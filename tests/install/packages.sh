#!/usr/bin/env bash
# Sourced by the scripts that install the i386 packages: i386_packages FOLDER sets
# the array debs to its vorn-admin and vorn-admin-dbcheck package files, one of
# each, or ends the script through the caller's fail.
i386_packages() {
  local p found
  debs=()
  for p in vorn-admin vorn-admin-dbcheck; do
    found=("$1/${p}"_*_i386.deb)
    [ ${#found[@]} = 1 ] && [ -f "${found[0]}" ] ||
      fail "not exactly one ${p}_*_i386.deb in $1: the i386 build makes them (bash scripts/test, or bash scripts/root run i386-build cmake --workflow --preset i386)"
    debs+=("${found[0]}")
  done
}
