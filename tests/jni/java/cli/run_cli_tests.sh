#!/usr/bin/env bash
# Runs the JUnit tests of the command-line tool under -Xcheck:jni; the tool
# they start runs under -Xcheck:jni too. The lab is already up (ctest fixture).
# usage: run_cli_tests.sh <java> <test classpath> <signer jar> <libORMIDSignerJni.so> <ormid-signer script> <openssl gost config>
set -uo pipefail
source "$(dirname "$0")/../junit_jni.sh"
java=$1 classpath=$2 jar=$3 library=$4 tool=$5 gostConf=$6
: "${ORMID_LAB_DIR:?the lab environment is missing}" "${ORMID_LAB_PKCS11_DIR:?}" "${PCSCLITE_CSOCK_NAME:?}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run_junit_jni "$java" "$classpath" "$work" -Dormid.signer.library="$library" -Dormid.test.gostconf="$gostConf" \
  -Dormid.test.work="$work" -Dormid.test.tool="$tool" -Dormid.test.jar="$jar" \
  -Dormid.test.terminal="$(cd "$(dirname "$0")" && pwd)/terminal.py"
