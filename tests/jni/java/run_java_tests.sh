#!/usr/bin/env bash
# Runs the JUnit tests of the Java API against the native library under
# -Xcheck:jni and fails when the JVM reports any JNI warning.
# usage: run_java_tests.sh <java> <test classpath> <libORMIDSignerJni.so> <probe library> <openssl gost config>
set -uo pipefail
java=$1 classpath=$2 library=$3 probe=$4 gostConf=$5
launcher=/usr/share/java/junit-platform-console-standalone.jar
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

"$java" -Xcheck:jni -Dormid.signer.library="$library" -Dormid.signer.probe="$probe" \
  -Dormid.signer.testcerts="$work" -jar "$launcher" --disable-banner --fail-if-no-tests \
  --class-path "$classpath" --scan-class-path --details=tree >"$work/out.log" 2>&1
rc=$?
cat "$work/out.log"
if grep -n 'WARNING' "$work/out.log" >&2; then
  echo "JNI warnings reported by -Xcheck:jni" >&2
  exit 1
fi
exit $rc
