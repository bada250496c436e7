#!/usr/bin/env bash
# A long fuzzing campaign (not part of the test suite): runs every libFuzzer
# target of a fuzz build one after the other, each on a working copy of its
# seed corpus, until the deadline or 10 million executions per target, at the
# lowest priority and one process at a time. Crashes land as <target>-crash-*
# in the output folder; table.md there gives executions, executions per
# second and coverage (cov: and ft: of the last status line) per target.
#
#   fuzz/campaign.sh BUILD_DIR DEADLINE OUT_DIR     (DEADLINE as `date -d` reads it)
#   FUZZ_SKIP=REGEX leaves out the targets whose names match, FUZZ_RUNS sets
#   the executions per target, FUZZ_FLAGS adds libFuzzer flags to every run
#   (e.g. -entropic=0: the entropic schedule's bookkeeping costs the targets
#   that run much code per input three to four times their own time).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
deadline=$(date -d "$2" +%s)
out=$(mkdir -p "$3" && cd "$3" && pwd)
runs=${FUZZ_RUNS:-10000000}

# The targets to run; the time left is shared among them alone.
targets=()
while IFS= read -r bin; do
  if [ -n "${FUZZ_SKIP:-}" ] && [[ $(basename "$bin") =~ $FUZZ_SKIP ]]; then
    continue
  fi
  targets+=("$bin")
done < <(find "$build/fuzz" -maxdepth 2 -type f -name 'fuzz_*' -executable | sort)
table="$out/table.md"
printf '| target | seconds | executions | exec/s | cov | ft | corpus | crashes | slow units |\n|---|---|---|---|---|---|---|---|---|\n' >"$table"
left=${#targets[@]}
for bin in "${targets[@]}"; do
  name=$(basename "$bin")
  folder=$(basename "$(dirname "$bin")")
  now=$(date +%s)
  slice=$(( (deadline - now) / left ))
  left=$((left - 1))
  if [ "$slice" -lt 10 ]; then
    echo "$name: no time left" >&2
    continue
  fi
  work="$out/$name"
  rm -rf "$work" && mkdir -p "$work/corpus"
  cp -r "$root/fuzz/$folder/corpus/." "$work/corpus/" || exit 1
  start=$(date +%s)
  (cd "$work" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    nice -n 19 "$bin" -jobs=1 -workers=1 -runs="$runs" -max_total_time="$slice" ${FUZZ_FLAGS:-} \
      -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix="$out/$name-" corpus \
      >"$work/driver.log" 2>&1)
  secs=$(( $(date +%s) - start ))
  log="$work/fuzz-0.log"
  [ -f "$log" ] || log="$work/driver.log"
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  last=$(grep -E '^#[0-9]+' "$log" | grep 'cov:' | tail -1)
  cov=$(grep -o 'cov: [0-9]*' <<<"$last" | grep -o '[0-9]*')
  ft=$(grep -o 'ft: [0-9]*' <<<"$last" | grep -o '[0-9]*')
  corp=$(find "$work/corpus" -type f | wc -l)
  # Crashes, leaks, time-outs and out-of-memory inputs are findings; a slow
  # unit (over 10 s on a loaded machine) is listed apart.
  finds=$(find "$out" -maxdepth 1 -type f \( -name "$name-crash-*" -o -name "$name-leak-*" -o -name "$name-timeout-*" -o -name "$name-oom-*" \) | wc -l)
  slow=$(find "$out" -maxdepth 1 -type f -name "$name-slow-unit-*" | wc -l)
  rate=$(( ${execs:-0} / (secs > 0 ? secs : 1) ))
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$name" "$secs" "${execs:-?}" "$rate" "${cov:-?}" "${ft:-?}" "$corp" "$finds" "$slow" | tee -a "$table"
done
