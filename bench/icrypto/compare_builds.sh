#!/usr/bin/env bash
# Throughput of our GOST R 34.11-94, SHA-256 and SHA-512 code in the shipped
# build (built against the old userland, run in it) against the host build,
# the two run in turns (the order swapped every round) so that both meet the
# same load; prints per digest the median over the rounds of shipped / host.
# Each build's own paired figure (ours against its OpenSSL in turns) is
# printed too; the two OpenSSL versions differ (1.1.1 in the tree, the host's).
# usage: compare_builds.sh <host build> <shipped build> [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
host=$(realpath "$1")/bench/icrypto/bench_icrypto
shipped=$(realpath "$2")/bench/icrypto/bench_icrypto
rounds=${3:-7}
filter='^(Gost3411_94_CryptoPro/ours|Sha256/ours|Sha512/ours)/1048576$|ours-vs-openssl'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run() { # build binary out
  local args=(--benchmark_filter="$filter" --benchmark_format=json --benchmark_min_time=0.3)
  if [ "$1" = shipped ]; then
    bash "$root/scripts/old-userland" run "$2" "${args[@]}" >"$3" 2>/dev/null
  else
    "$2" "${args[@]}" >"$3" 2>/dev/null
  fi
}
for ((i = 0; i < rounds; ++i)); do
  if ((i % 2 == 0)); then
    run host "$host" "$work/host.$i"
    run shipped "$shipped" "$work/shipped.$i"
  else
    run shipped "$shipped" "$work/shipped.$i"
    run host "$host" "$work/host.$i"
  fi
done
python3 - "$work" "$rounds" <<'PY'
import json, statistics, sys
work, rounds = sys.argv[1], int(sys.argv[2])
def table(path):
    with open(path) as f:
        return {b['name']: b for b in json.load(f)['benchmarks']}
names = ['Gost3411_94_CryptoPro/ours/1048576', 'Sha256/ours/1048576', 'Sha512/ours/1048576']
print('%-38s %12s %12s %9s %s' % ('digest (1 MiB)', 'host MiB/s', 'shipped MiB/s', 'shipped/host', '[rounds]'))
for name in names:
    ratios, h, s = [], [], []
    for i in range(rounds):
        hr, sr = table('%s/host.%d' % (work, i))[name], table('%s/shipped.%d' % (work, i))[name]
        hb, sb = float(hr['bytes_per_second']) / 2**20, float(sr['bytes_per_second']) / 2**20
        h.append(hb); s.append(sb); ratios.append(sb / hb)
    print('%-38s %12.1f %12.1f %9.3f   [%s]' % (name, statistics.median(h), statistics.median(s),
          statistics.median(ratios), ' '.join('%.3f' % r for r in ratios)))
for build in ('host', 'shipped'):
    for name in ('Sha256/ours-vs-openssl/1048576', 'Sha512/ours-vs-openssl/1048576'):
        vals = []
        for i in range(rounds):
            row = table('%s/%s.%d' % (work, build, i)).get(name)
            if row and 'ratio' in row:
                vals.append(float(row['ratio']))
        if vals:
            print('%-8s %-34s openssl/ours median %.3f' % (build, name, statistics.median(vals)))
PY
