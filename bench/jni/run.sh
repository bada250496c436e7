#!/usr/bin/env bash
# Signing benchmarks through the Java API on a lab of their own: time of
# cmsSign per document size (wall, inside the PKCS#11 module, in the library)
# beside the module's own digest and signature, peak resident growth, PKCS#11
# calls per request and signatures per second with N sessions on N tokens.
# Needs the target bench_jni built (the lab runs without root too).
# usage: bench/jni/run.sh [BUILD_DIR] [-- sections...]
#   sections: time memory calls stall concurrent (default: all); REPEAT=3 runs
#   each figure that many times (fresh JVM each), SIZES overrides the document
#   sizes, STALL_SIZE the document signed beside the stall's 1 KiB ones,
#   LATENCY_PROFILE the lab latency profile of the concurrent table's second
#   half (default usb-token; "none" skips it), LIBRARY another build of the
#   signing library (e.g. a copy of the one before a change), TRACE=true
#   lists the calls of each request of the calls section.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
shift $(( $# > 0 ? 1 : 0 ))
[[ ${1:-} == -- ]] && shift
sections=${*:-time memory calls stall concurrent}
repeat=${REPEAT:-3}
sizes=${SIZES:-1024 1048576 67108864 268435456}
pin=12345678
alias=bench-key

dir=$(mktemp -d /tmp/ormid-sign-bench.XXXXXX)
cleanup() { "$root/scripts/lab" down "$dir" >/dev/null 2>&1 || true; rm -rf "$dir"; }
trap cleanup EXIT
# Eight Rutokens ECP 2.0 in four readers (the lab's "rutokens" layout).
eval "$("$root/scripts/lab" up "$dir" --build "$build" --layout rutokens)"
serials=(0C000000 0C000001 0C000002 0C000003 0C000004 0C000005 0C000006 0C000007)
store_of() { printf '%010d' "$((16#$1))"; }

# The timing module stands in for each lab module.
modules=$build/bench/jni/modules
export ORMID_TIMING_MODULES=$build/lab/modules ORMID_TIMING_FILE=$dir/timing
export OPENSSL_CONF=$root/tests/fixtures/openssl-gost.cnf

# A certificate authority for the keys' certificates.
ca=$dir/ca
mkdir -p "$ca"
(cd "$ca" && openssl req -x509 -newkey gost2012_256 -pkeyopt paramset:A -nodes -keyout ca.key \
   -subj "/CN=Bench CA" -days 30 -out ca.pem 2>/dev/null &&
 openssl req -new -key ca.key -subj "/CN=Bench signer" -out subject.csr 2>/dev/null)

classpath=$build/bench/jni/ormid-sign-bench.jar:$build/java/ormid-signer.jar
bench() { # bench <max heap MiB> args...
  local heap=$1
  shift
  java -Xmx"${heap}m" -Dormid.signer.library="${LIBRARY:-$build/src/jni/libORMIDSignerJni.so}" \
    -Dormid.bench.modules="$modules" -Dormid.bench.timing="$ORMID_TIMING_FILE" \
    -Dormid.bench.calls="$dir/calls.log" -Dormid.bench.trace="${TRACE:-false}" -cp "$classpath" \
    com.ormid.signer.bench.SignBench "$@"
}
# pcscd may not have seen every card yet.
for attempt in $(seq 20); do
  (( $(bench 256 stores | wc -l) == ${#serials[@]} )) && break
  sleep 0.2
done
for serial in "${serials[@]}"; do
  bench 256 setup "$(store_of "$serial")" "$pin" "$alias" "$ca"
done
store=$(store_of "${serials[0]}")
heap_for() { echo $(( $1 * 4 / 1048576 + 256 )); }
# Median, lowest and highest of the numbers on stdin.
stats() { sort -g | awk '{v[NR]=$1} END {m = NR % 2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2; printf "%.3f [%.3f..%.3f]", m, v[1], v[NR]}'; }
field() { sed -n "s/.*\\b$1=\\([0-9.]*\\).*/\\1/p"; }
runs_for() { if (( $1 <= 1048576 )); then echo 50; else echo 1; fi; }
human() { numfmt --to=iec-i --suffix=B "$1"; }

echo "# Machine: $(nproc) cores, $(date -u +%FT%TZ), shared with other work; medians of $repeat JVMs [lowest..highest]"
if [[ $sections == *time* ]]; then
  echo
  echo "## cmsSign, Rutoken ECP 2.0, GOST R 34.10-2012 256 (milliseconds per document)"
  printf '%-8s %-9s %-28s %-28s %-28s %-28s\n' size mode wall module library "module digest + C_Sign"
  for size in $sizes; do
    limit=$(for r in $(seq "$repeat"); do
              "$build/bench/jni/bench_module_digest" "$build/lab/modules/librtpkcs11ecp.so" "${serials[0]}" "$pin" \
                "$size" 1048576 | awk -F'[= ]' '{print $2 + $4}'
            done | stats)
    for mode in attached detached; do
      out=$(for r in $(seq "$repeat"); do bench "$(heap_for "$size")" time "$store" "$pin" "$alias" "$mode" "$size" \
              "$(runs_for "$size")"; done)
      printf '%-8s %-9s %-28s %-28s %-28s %-28s\n' "$(human "$size")" "$mode" \
        "$(field wall_ms <<<"$out" | stats)" "$(field module_ms <<<"$out" | stats)" \
        "$(field library_ms <<<"$out" | stats)" "$limit"
    done
  done
fi
if [[ $sections == *memory* ]]; then
  echo
  echo "## Peak resident growth during cmsSign (fresh JVM per run; ratio = growth / document)"
  printf '%-8s %-9s %-28s %-28s\n' size mode "growth MiB" ratio
  size=${MEMORY_SIZE:-268435456}
  for mode in attached detached; do
    out=$(for r in $(seq "$repeat"); do bench "$(heap_for "$size")" memory "$store" "$pin" "$alias" "$mode" "$size"; done)
    printf '%-8s %-9s %-28s %-28s\n' "$(human "$size")" "$mode" "$(field growth_mib <<<"$out" | stats)" \
      "$(field ratio <<<"$out" | stats)"
  done
fi
if [[ $sections == *calls* ]]; then
  echo
  echo "## PKCS#11 calls per request (lab call log)"
  for n in 1 10 100; do
    out=$(bench 512 calls "$store" "$pin" "$alias" "$n")
    grep '^#' <<<"$out" || true
    echo "documents=$n $(grep -v '^#' <<<"$out")"
  done
fi
if [[ $sections == *stall* ]]; then
  echo
  stall_size=${STALL_SIZE:-134217728}
  echo "## 1 KiB cmsSign on token B while token A signs $(human "$stall_size") (detached; milliseconds)"
  printf '%-28s %-28s %-28s %-28s\n' "B idle" "B beside A" ratio "A's large signature"
  out=$(for r in $(seq "$repeat"); do
          bench "$(heap_for "$stall_size")" stall "$store" "$(store_of "${serials[1]}")" "$pin" "$alias" \
            "$stall_size" "${STALL_RUNS:-10}"
        done)
  printf '%-28s %-28s %-28s %-28s\n' "$(field idle_ms <<<"$out" | stats)" "$(field busy_ms <<<"$out" | stats)" \
    "$(field ratio <<<"$out" | stats)" "$(field large_ms <<<"$out" | stats)"
fi
if [[ $sections == *concurrent* ]]; then
  profile=${LATENCY_PROFILE:-usb-token}
  for latency in off "$profile"; do
    [[ $latency == none ]] && continue
    if [[ $latency == off ]]; then
      "$root/scripts/lab" latency "$dir" off >/dev/null
      seconds=${SECONDS_EACH:-5}
    else
      "$root/scripts/lab" latency "$dir" --profile "$latency" >/dev/null
      seconds=${LATENCY_SECONDS:-10}
    fi
    echo
    echo "## N sessions on N tokens signing 1 KiB documents at once (cmsSign, detached; latency model: $latency)"
    printf '%-4s %-28s %-10s\n' N "signatures per second" "÷ N × one"
    one=
    for n in ${SESSIONS:-1 2 4 8}; do
      stores=()
      for serial in "${serials[@]:0:n}"; do stores+=("$(store_of "$serial")"); done
      out=$(for r in $(seq "$repeat"); do bench 512 concurrent "$pin" "$alias" "$seconds" "${stores[@]}"; done)
      rate=$(field per_second <<<"$out" | stats)
      median=${rate%% *}
      [[ -z $one ]] && one=$median
      printf '%-4s %-28s %-10s\n' "$n" "$rate" "$(awk -v r="$median" -v o="$one" -v n="$n" 'BEGIN {printf "%.2f", r / (n * o)}')"
    done
  done
  "$root/scripts/lab" latency "$dir" off >/dev/null
fi
