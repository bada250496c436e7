#!/usr/bin/env bash
# Puts the lab of the token tests into the state they expect: a second Rutoken
# (for the concurrency tests) and the MS_KEY K with the factory PIN the library
# assumes for that make while the token reports its PIN unchanged.
# usage: prepare_lab.sh <lab script> <lab dir>
set -euo pipefail
lab=$1 dir=$2
"$lab" add-token "$dir" rutoken-ecp-2 0B2C3D4E >/dev/null
"$lab" set "$dir" MSK00000001 user-pin=11111111
