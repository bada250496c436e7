#!/usr/bin/env bash
# Runs the JUnit tests of the Java API against the native library under
# -Xcheck:jni and fails when the JVM reports any JNI warning.
# usage: run_java_tests.sh <java> <test classpath> <libORMIDSignerJni.so> <probe library> <openssl gost config>
set -uo pipefail
source "$(dirname "$0")/junit_jni.sh"
java=$1 classpath=$2 library=$3 probe=$4 gostConf=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Certificates for the conversion tests: GOST R 34.10-2012 keys, one without
# extensions (no version field) and one with (version 3).
for v in v1 v3; do
  ext=()
  [ "$v" = v3 ] && ext=(-addext "keyUsage=critical,digitalSignature")
  if ! OPENSSL_CONF=$gostConf openssl req -x509 -newkey gost2012_256 -pkeyopt paramset:A -nodes \
      -keyout "$work/$v.key" -subj "/CN=Тестовый ключ/O=ORMID" -utf8 -days 30 -set_serial 0x00A1B2C3 \
      "${ext[@]}" -outform DER -out "$work/gost-$v.der" >"$work/openssl.log" 2>&1; then
    cat "$work/openssl.log"
    echo "could not make the test certificates" >&2
    exit 1
  fi
done

run_junit_jni "$java" "$classpath" "$work" -Dormid.signer.library="$library" -Dormid.signer.probe="$probe" \
  -Dormid.signer.testcerts="$work"
