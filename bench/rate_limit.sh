#!/usr/bin/env bash
# orgkat-cli against Debian's nginx limiting each client to R requests per second without burst
# (scripts/nginx-directory), for R = 0.5, 1, 2, 4 and 5, with 40 organisations: the records lost and
# the wall time against the directory's floor, (N + 1) / R for N records and the list request.
# Each rate is run RUNS times (default 3): the records lost in all of them, the refusals and wall
# time of the median run and the wall time of the slowest.
# Usage: bench/rate_limit.sh [ORGANISATIONS]   (run from the repository root after a build)
#        RATES="2 5" RUNS=9 bench/rate_limit.sh measures those rates alone, nine times each.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-40}
cli=$PWD/build/app/cli/orgkat-cli
work=$(mktemp -d /tmp/orgkat-bench-rate.XXXXXX)
nginx_pid=""
trap '[ -z "$nginx_pid" ] || kill "$nginx_pid" 2>/dev/null; rm -rf "$work"' EXIT
scripts/make-certs "$work/certs"
cp "$work/certs/01cert.pem" "$work/certs/01key.pem" "$work"

# A port in the dynamic range that nobody answers on now.
free_port() {
  local port
  while :; do
    port=$(shuf -i 20000-60000 -n 1)
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
  done
  echo "$port"
}

# One run against nginx limiting at $1 requests/s: prints "lost refusals wall".
run_once() {
  local rate=$1 per_minute port start end status lost refusals
  per_minute=$(awk -v r="$rate" 'BEGIN { printf "%d", r * 60 }')
  port=$(free_port)
  rm -rf "$work/nginx" "$work/out"
  mkdir -p "$work/out"
  scripts/nginx-directory "$work/nginx" "$port" "$per_minute" "$work/certs" "$count" \
    >"$work/nginx.out" 2>&1 &
  nginx_pid=$!
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
  start=$(date +%s.%N)
  status=0
  (cd "$work" && "$cli" --api-host "127.0.0.1:$port" --site-host localhost --output-dir out \
    --timeout 10 --no-open >/dev/null 2>summary.txt) || status=$?
  end=$(date +%s.%N)
  kill "$nginx_pid"
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=""
  lost=$(sed -n 's/.*records lost: \([0-9]*\).*/\1/p' "$work/summary.txt")
  refusals=$(sed -n 's/.*the directory refused \([0-9]*\) .*/\1/p' "$work/summary.txt")
  # A run that failed counts all its records as lost.
  [ "$status" -eq 0 ] || lost=$count
  awk -v l="${lost:-0}" -v r="${refusals:-0}" -v s="$start" -v e="$end" \
    'BEGIN { printf "%d %d %.2f\n", l, r, e - s }'
}

runs=${RUNS:-3}
printf '| R (requests/s) | runs | records lost | refusals (median run) | wall, median run (s) | wall, slowest (s) | floor (N+1)/R (s) | median / floor | slowest / floor |\n'
printf '|---|---|---|---|---|---|---|---|---|\n'
for rate in ${RATES:-0.5 1 2 4 5}; do
  for _ in $(seq "$runs"); do run_once "$rate"; done | sort -k3 -n |
    awk -v r="$rate" -v n="$count" -v runs="$runs" '
      { lost += $1; refusals[NR] = $2; wall[NR] = $3 }
      END {
        m = int((NR + 1) / 2); floor = (n + 1) / r
        printf "| %s | %d | %d | %d | %.2f | %.2f | %.2f | %.3f | %.3f |\n", r, runs, lost,
          refusals[m], wall[m], wall[NR], floor, wall[m] / floor, wall[NR] / floor
      }'
done
