#!/usr/bin/env bash
# What a failure reaches Java as with this jar and with an older one that has
# no SignerException: each case a fresh virtual machine under -Xcheck:jni.
# usage: run_older_jar_tests.sh <java> <ormid-signer.jar> <libORMIDSignerJni.so> <OlderJarProbe.java>
set -uo pipefail
java=$1 jar=$2 library=$3 probe=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$jar" "$work/older.jar" <<'PY' || exit 1
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as src, zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED) as dst:
    for item in src.infolist():
        if not item.filename.startswith("com/ormid/signer/SignerException"):
            dst.writestr(item, src.read(item))
PY

failures=0
run_case() {
  local name=$1 jarfile=$2 mode=$3
  local out
  out=$("$java" -Xcheck:jni -Dormid.signer.library="$library" -cp "$jarfile" "$probe" "$mode" 2>&1)
  local rc=$?
  echo "--- $name"
  echo "$out"
  if [ $rc -ne 0 ] || grep -q 'WARNING' <<<"$out"; then
    echo "FAIL $name"; failures=$((failures + 1)); return
  fi
  echo "PASS $name"
}
run_case this-jar "$jar" signer-exception
run_case older-jar "$work/older.jar" runtime-exception
[ $failures -eq 0 ]
