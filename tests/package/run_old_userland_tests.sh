#!/usr/bin/env bash
# The shipped jar in the Debian 11 userland of scripts/old-userland: each of
# that userland's JDKs (11 and 17) runs, under -Xcheck:jni and with
# dist/ormid-signer.jar alone on the class path (no library path given, so
# the library the jar carries is loaded):
#   - the jar-load suite;
#   - the main paths of the token, VEL-token and CSP suites (Java 11 class
#     files) against the host's pcscd and a lab whose programs, PKCS#11
#     modules and CSP are built against the tree (the lab script runs on the
#     host's python3); the tree's libgcrypt (1.8) knows none of the
#     curve names the lab's tokens use for the TC26 sets (256-bit A and the
#     512-bit ones), so the token and CSP keys are of the CryptoPro sets;
# every signature is checked with the host's openssl (gost engine), reached
# from the tree through /host. Then the Java API suite runs on the newest JDK
# of the machine, when there is one.
# usage: run_old_userland_tests.sh <host build> <shipped build> <dist>
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "$1") shipped=$(realpath "$2") dist=$(realpath "$3")
jar=$dist/ormid-signer.jar
userland() { ORMID_USERLAND_BINDS=/usr/share/java bash "$root/scripts/old-userland" run "$@"; }
work=$(mktemp -d /tmp/ormid-old-userland.XXXXXX)
lab=$work/lab
cleanup() {
  "$root/scripts/lab" down "$lab" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
result() {
  if [ "$2" -eq 0 ]; then echo "PASS $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}

# The host's openssl and gost engine, run by the host's loader.
mkdir -p "$work/bin"
cat >"$work/bin/openssl" <<'SH'
#!/bin/sh
exec /host/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2 --library-path /host/usr/lib/x86_64-linux-gnu /host/usr/bin/openssl "$@"
SH
# The lab script the suites call (python3 of the host, as openssl).
cat >"$work/bin/python3" <<'SH'
#!/bin/sh
PYTHONHOME=/host/usr exec /host/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2 \
  --library-path /host/usr/lib/x86_64-linux-gnu /host/usr/bin/python3 "$@"
SH
chmod +x "$work/bin/openssl" "$work/bin/python3"
sed 's|^dynamic_path = /|dynamic_path = /host/|' "$root/tests/fixtures/openssl-gost.cnf" >"$work/openssl-gost.cnf"
# The CSP suite's probe of the lab CSP's handle count, built against the tree as the lab is.
tree=$(bash "$root/scripts/old-userland" path)
probe=$work/libormid_csp_handles_probe.so
clang++-14 --target=x86_64-linux-gnu --sysroot="$tree" -fuse-ld=lld -shared -fPIC -O2 -static-libstdc++ -static-libgcc \
  -I"$tree/usr/lib/jvm/java-17-openjdk-amd64/include" -I"$tree/usr/lib/jvm/java-17-openjdk-amd64/include/linux" \
  -Wl,--version-script="$root/tests/jni/java/csp/native/probe.map" -o "$probe" \
  "$root/tests/jni/java/csp/native/csp_handles.cpp" -ldl || result "the CSP handle probe" 1

for jdk in java-11-openjdk-amd64 java-17-openjdk-amd64; do
  java=/usr/lib/jvm/$jdk/bin/java
  echo "--- jar-load suite, $jdk"
  userland env PATH="$work/bin:/usr/bin:/bin" bash "$root/tests/jni/java/jarload/run_jarload_tests.sh" \
    "$java" "$jar" "$shipped/src/jni/libORMIDSignerJni.so" "$root/tests/jni/java/jarload/JarLoadProbe.java"
  result "jar-load suite on $jdk" $?
done

# suite | jar | layout | classes
suites=(
  "tokens|$build/tests/jni/java/tokens/ormid-signer-token-tests.jar|default|com.ormid.signer.tokens.CryptoMeansTest com.ormid.signer.tokens.KeyLifecycleTest com.ormid.signer.tokens.SigningInteropTest"
  "veltoken|$build/tests/jni/java/veltoken/ormid-signer-veltoken-tests.jar|default|com.ormid.signer.veltoken.StoreTest com.ormid.signer.veltoken.ConfirmationTest"
  "csp|$build/tests/jni/java/csp/ormid-signer-csp-tests.jar|empty|com.ormid.signer.csp.CspDetectionTest com.ormid.signer.csp.CspSigningTest"
)
kinds=A,B,C,XA,XB,GOST_2001_A,GOST_2012_256_B
bc=/usr/share/java/bcprov.jar:/usr/share/java/bcpkix.jar:/usr/share/java/bcutil.jar
for jdk in java-11-openjdk-amd64 java-17-openjdk-amd64; do
  java=/usr/lib/jvm/$jdk/bin/java
  for entry in "${suites[@]}"; do
    IFS='|' read -r name suite layout classes <<<"$entry"
    echo "--- $name suite (main paths), $jdk"
    rm -rf "$lab"
    if ! env_lines=$("$root/scripts/lab" up "$lab" --build "$shipped" --layout "$layout"); then
      result "$name suite on $jdk: lab" 1
      continue
    fi
    eval "$env_lines"
    [ "$name" = tokens ] && bash "$root/tests/jni/java/tokens/prepare_lab.sh" "$root/scripts/lab" "$lab"
    selectors=()
    for class in $classes; do selectors+=(--select-class "$class"); done
    rm -rf "$work/$name"
    mkdir -p "$work/$name"
    userland env PATH="$work/bin:/usr/bin:/bin" PCSCLITE_CSOCK_NAME="$PCSCLITE_CSOCK_NAME" \
      ORMID_LAB_DIR="$ORMID_LAB_DIR" ORMID_LAB_PKCS11_DIR="$ORMID_LAB_PKCS11_DIR" ORMID_LAB_BUILD="$ORMID_LAB_BUILD" \
      ORMID_CSP_DIR="$ORMID_CSP_DIR" ORMID_CSP_HANDLES_PROBE="$probe" \
      "$java" -Xcheck:jni -Dormid.test.kinds="$kinds" -Dormid.test.gostconf="$work/openssl-gost.cnf" -Dormid.test.work="$work/$name" \
      -Dormid.test.reports="$work/$name" -jar /usr/share/java/junit-platform-console-standalone.jar \
      --disable-banner --fail-if-no-tests --details=summary --class-path "$suite:$jar:$bc" "${selectors[@]}" \
      >"$work/$name.log" 2>&1
    rc=$?
    cat "$work/$name.log"
    if grep -n 'WARNING' "$work/$name.log"; then
      rc=1
      echo "JNI warnings reported by -Xcheck:jni"
    fi
    result "$name suite on $jdk" $rc
    "$root/scripts/lab" down "$lab" >/dev/null
  done
done

newest=/usr/lib/jvm/temurin-25-jdk-amd64/bin/java
if [ -x "$newest" ]; then
  echo "--- Java API suite, temurin-25-jdk-amd64"
  # Java 24 and later warn at System.load unless native access is enabled.
  JDK_JAVA_OPTIONS=--enable-native-access=ALL-UNNAMED "$root/tests/jni/java/run_java_tests.sh" "$newest" \
    "$build/tests/jni/java/ormid-signer-tests.jar:$jar" "$build/src/jni/libORMIDSignerJni.so" \
    "$build/tests/jni/java/libormid_conv_probe.so" "$root/tests/fixtures/openssl-gost.cnf"
  result "Java API suite on temurin-25-jdk-amd64" $?
fi
echo "old userland: $failures failed"
[ $failures -eq 0 ]
