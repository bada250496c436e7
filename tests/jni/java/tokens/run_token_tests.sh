#!/usr/bin/env bash
# Runs the end-to-end JUnit tests on the lab tokens under -Xcheck:jni. The lab
# is already up (ctest fixture): PCSCLITE_CSOCK_NAME, ORMID_LAB_DIR,
# ORMID_LAB_PKCS11_DIR and ORMID_LAB_BUILD come from the environment.
# usage: run_token_tests.sh <java> <test classpath> <libORMIDSignerJni.so> <openssl gost config> <report dir>
set -uo pipefail
source "$(dirname "$0")/../junit_jni.sh"
java=$1 classpath=$2 library=$3 gostConf=$4 reports=$5
: "${ORMID_LAB_DIR:?the lab environment is missing}" "${ORMID_LAB_PKCS11_DIR:?}" "${PCSCLITE_CSOCK_NAME:?}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$reports"
run_junit_jni "$java" "$classpath" "$work" -Dormid.signer.library="$library" \
  -Dormid.test.gostconf="$gostConf" -Dormid.test.work="$work" -Dormid.test.reports="$reports"
