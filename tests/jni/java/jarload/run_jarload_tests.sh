#!/usr/bin/env bash
# Loads the library the way a Java application that only has ormid-signer.jar
# does: each case starts a fresh virtual machine under -Xcheck:jni with the jar
# alone on the class path and checks where the library came from, that the
# extracted copy is private and that it is gone once the machine has exited.
# usage: run_jarload_tests.sh <java> <ormid-signer.jar> <libORMIDSignerJni.so> <JarLoadProbe.java>
set -uo pipefail
java=$1 jar=$2 library=$3 probe=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/empty"
libdir=$(dirname "$library")

# The jar with one byte of its library changed (same size).
mkdir -p "$work/bad/native/linux-x86_64"
bad_so="$work/bad/native/linux-x86_64/libORMIDSignerJni.so"
unzip -p "$jar" native/linux-x86_64/libORMIDSignerJni.so >"$bad_so"
printf '\xff' | dd of="$bad_so" bs=1 seek=4096 conv=notrunc status=none
cp "$jar" "$work/bad.jar"
(cd "$work/bad" && jar --update --file "$work/bad.jar" native/linux-x86_64/libORMIDSignerJni.so)

failures=0
# case name | jar | probe arguments after the temp dir | JVM options
run_case() {
  local name=$1 jarfile=$2 mode=$3 expected=$4
  shift 4
  local temp="$work/tmp-$name"
  mkdir -p "$temp"
  local out
  out=$("$java" -Xcheck:jni -Djava.io.tmpdir="$temp" "$@" -cp "$jarfile" "$probe" "$mode" "$temp" "$expected" 2>&1)
  local rc=$?
  echo "--- $name"
  echo "$out"
  if [ $rc -ne 0 ]; then
    echo "FAIL $name: the probe exited with $rc"; failures=$((failures + 1)); return
  fi
  if grep -q 'WARNING' <<<"$out"; then
    echo "FAIL $name: JNI warnings reported by -Xcheck:jni"; failures=$((failures + 1)); return
  fi
  if [ -n "$(ls -A "$temp")" ]; then
    echo "FAIL $name: left behind after exit:"; ls -laR "$temp"; failures=$((failures + 1)); return
  fi
  echo "PASS $name"
}

# java.library.path points at an empty folder so that a copy installed on the
# machine cannot stand in for the jar's.
run_case jar-alone "$jar" from-jar "" -Djava.library.path="$work/empty"
run_case library-path "$jar" library-path "$library" -Djava.library.path="$work/empty:$libdir"
run_case explicit-path-wins "$jar" refused "$work/missing/libORMIDSignerJni.so" \
  -Dormid.signer.library="$work/missing/libORMIDSignerJni.so" -Djava.library.path="$libdir"
run_case unsupported-platform "$jar" refused "Linux aarch64|-Dormid.signer.library=|java.library.path" \
  -Dos.arch=aarch64 -Djava.library.path="$work/empty"
run_case altered-library "$work/bad.jar" refused "differs|-Dormid.signer.library=" -Djava.library.path="$work/empty"

[ $failures -eq 0 ]
