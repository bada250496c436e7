#!/usr/bin/env bash
# Runs the Bouncy Castle message tests under -Xcheck:jni. The library verifies
# with the lab's simulated CSP, a plain library: no reader and no pcscd, only a
# state folder of this run.
# usage: run_bc_messages_tests.sh <java> <test classpath> <libORMIDSignerJni.so> <lab CSP folder> [seed dir]
set -uo pipefail
source "$(dirname "$0")/../junit_jni.sh"
java=$1 classpath=$2 library=$3 csp=$4 seeds=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ORMID_LAB_DIR="$work/lab" ORMID_CSP_DIR="$csp" \
  run_junit_jni "$java" "$classpath" "$work" -Dormid.signer.library="$library" -Dormid.test.bcout="$seeds"
