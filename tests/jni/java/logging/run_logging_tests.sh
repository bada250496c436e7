#!/usr/bin/env bash
# Runs the log suite under -Xcheck:jni with the library's log switched on at
# DEBUG into a fresh file. The lab is already up (ctest fixture).
# usage: run_logging_tests.sh <java> <test classpath> <libORMIDSignerJni.so> <log file>
set -uo pipefail
source "$(dirname "$0")/../junit_jni.sh"
java=$1 classpath=$2 library=$3 log=$4
: "${ORMID_LAB_DIR:?the lab environment is missing}" "${ORMID_LAB_PKCS11_DIR:?}" "${PCSCLITE_CSOCK_NAME:?}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -f "$log"
# The environment names another destination: the system property wins.
ORMID_SIGNER_LOG=stderr ORMID_SIGNER_LOG_LEVEL=ERROR \
  run_junit_jni "$java" "$classpath" "$work" -Dormid.signer.library="$library" \
  -Dormid.signer.log="$log" -Dormid.signer.log.level=DEBUG -Dormid.test.work="$work"
