#!/usr/bin/env bash
# scripts/check-library must refuse what may not ship: the host build's
# library (the host's glibc versions, libstdc++ and libgcc_s as NEEDED, C++
# runtime symbol versions) and a library with an export too many.
# usage: check_library_test.sh <host build's libORMIDSignerJni.so>
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
host_library=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
expect_refused() {
  local name=$1 library=$2
  shift 2
  local out
  if out=$(bash "$root/scripts/check-library" "$library" 2>&1); then
    echo "FAIL $name: accepted"; failures=$((failures + 1)); return
  fi
  for finding in "$@"; do
    if ! grep -q -- "$finding" <<<"$out"; then
      echo "FAIL $name: no finding \"$finding\" in:"; echo "$out"; failures=$((failures + 1)); return
    fi
  done
  echo "PASS $name"
}
expect_refused host-build "$host_library" "FAIL: symbols newer than GLIBC_2.28" "FAIL: C++ runtime symbol versions" \
  "FAIL: NEEDED libstdc++.so.6"
# Every expected export and one more.
sed 's/.*/void &(void) {}/' "$root/tests/jni/expected_exports.txt" >"$work/extra.c"
echo 'void leaked_helper(void) {}' >>"$work/extra.c"
cc -shared -fPIC -o "$work/libextra.so" "$work/extra.c"
expect_refused extra-export "$work/libextra.so" "FAIL: exports" "leaked_helper"
[ $failures -eq 0 ]
