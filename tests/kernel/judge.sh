#!/usr/bin/env bash
# Judges what the 32-bit guest brought back: for root and for the unprivileged
# user, every GoogleTest program of the manifest must have ended with status 0
# and written its report, with no failed case and no skipped one except, for
# the user, the cases VORN_USER_SKIPS names; and every end-to-end step held.
#   judge.sh <results dir> <manifest>
set -uo pipefail
results=$1
# shellcheck source=/dev/null
. "$2"
bad=0
total_pass=0 total_fail=0 total_skip=0
# One line per case of a gtest XML report: "<result> Suite.Case", the result
# being pass, fail or skip.
cases() {
  awk '
    /^ *<testcase / {
      name = $0; sub(/.* name="/, "", name); sub(/".*/, "", name)
      cls = $0; sub(/.* classname="/, "", cls); sub(/".*/, "", cls)
      r = ($0 ~ /result="skipped"/ || $0 ~ /status="notrun"/) ? "skip" : "pass"
      if ($0 ~ /\/> *$/) { print r, cls "." name } else { open = 1 }
      next
    }
    open && /<failure/ { r = "fail" }
    open && /<\/testcase>/ { print r, cls "." name; open = 0 }
  ' "$1"
}
for who in root user; do
  for entry in $VORN_GTESTS; do
    prog=${entry%%:*}
    name=${prog##*/}
    xml=$results/$who/$name.xml
    status=$(cat "$results/$who/$name.status" 2>/dev/null || echo none)
    if [ ! -s "$xml" ]; then
      echo "FAILED: $name as $who wrote no report (exit status $status); see $results/$who/$name.log"
      bad=1
      continue
    fi
    pass=0 fail=0 skip=0
    while read -r result case; do
      case $result in
        pass) pass=$((pass + 1)) ;;
        fail) fail=$((fail + 1)); echo "FAILED: $case as $who" ;;
        skip)
          if [ "$who" = user ] && [[ $case =~ $VORN_USER_SKIPS ]]; then
            skip=$((skip + 1))
          else
            echo "FAILED: $case as $who was skipped; see $results/$who/$name.log"
            fail=$((fail + 1))
          fi ;;
      esac
    done < <(cases "$xml")
    echo "$name as $who: $pass passed, $fail failed, $skip skipped (exit status $status)"
    if [ "$fail" -ne 0 ] || [ "$status" != 0 ] || [ "$pass" -eq 0 ]; then bad=1; fi
    total_pass=$((total_pass + pass)) total_fail=$((total_fail + fail)) total_skip=$((total_skip + skip))
  done
done
sed 's/^/end to end: /' "$results/e2e.log" 2>/dev/null
if [ "$(cat "$results/e2e.status" 2>/dev/null)" != 0 ]; then
  echo "FAILED: the end-to-end run of vorn_sql and quordex_helper; see $results/e2e.log"
  bad=1
fi
echo "kernel guest cases: $total_pass passed, $total_fail failed, $total_skip skipped"
exit "$bad"
