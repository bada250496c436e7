#!/usr/bin/env bash
# Runs the JNI boundary fuzzer under -Xcheck:jni on the lab (already up: its
# environment comes from ctest) and fails on a finding, a crash or any JNI
# warning in the JVM's output.
# usage: run_jni_fuzz.sh <java> <class path> <libORMIDSignerJni.so> <source folder>
# ORMID_JNI_FUZZ_SECONDS (60), ORMID_JNI_FUZZ_THREADS (4), ORMID_JNI_FUZZ_SEED (random).
set -uo pipefail
java=$1 classpath=$2 library=$3 sources=$4
: "${ORMID_LAB_PKCS11_DIR:?the lab environment is missing}" "${PCSCLITE_CSOCK_NAME:?}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seed=()
[ -n "${ORMID_JNI_FUZZ_SEED:-}" ] && seed=(-Dormid.fuzz.seed="$ORMID_JNI_FUZZ_SEED")
(cd "$work" && "$java" -Xcheck:jni -Xmx1g -XX:ErrorFile="$work/hs_err.log" \
  -Dormid.signer.library="$library" -Dormid.fuzz.sources="$sources" \
  -Dormid.fuzz.seconds="${ORMID_JNI_FUZZ_SECONDS:-60}" -Dormid.fuzz.threads="${ORMID_JNI_FUZZ_THREADS:-4}" \
  -Dormid.fuzz.modules="$ORMID_LAB_PKCS11_DIR" "${seed[@]}" \
  -cp "$classpath" com.ormid.signer.jnifuzz.JniFuzz) >"$work/out.log" 2>&1
rc=$?
cat "$work/out.log"
if [ -f "$work/hs_err.log" ]; then
  # The JVM's crash report: the signal, the native and Java frames, the
  # libraries and their addresses (kept beside the test for a closer look).
  head -120 "$work/hs_err.log"
  cp "$work/hs_err.log" "${ORMID_JNI_FUZZ_REPORT:-$PWD/jni_fuzz_hs_err.log}" || true
fi
if grep -n -E 'WARNING in native method|WARNING: JNI|FATAL ERROR|JNI DETECTED ERROR' "$work/out.log" >&2; then
  echo "the JVM reported JNI warnings or errors" >&2
  exit 1
fi
exit $rc
