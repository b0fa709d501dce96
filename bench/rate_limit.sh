#!/usr/bin/env bash
# orgkat-cli against Debian's nginx limiting each client to R requests per second without burst
# (scripts/nginx-directory), for R = 0.5, 1, 2, 4 and 5, with 40 organisations: the records lost and
# the wall time against the directory's floor, (N + 1) / R for N records and the list request.
# Usage: bench/rate_limit.sh [ORGANISATIONS]   (run from the repository root after a build)
#        RATES="2 5" bench/rate_limit.sh measures those rates alone.
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

printf '| R (requests/s) | records lost | refusals | wall (s) | floor (N+1)/R (s) | wall / floor |\n'
printf '|---|---|---|---|---|---|\n'
for rate in ${RATES:-0.5 1 2 4 5}; do
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
  [ "$status" -eq 0 ] || lost="${lost:-?} (exit $status)"
  awk -v r="$rate" -v n="$count" -v s="$start" -v e="$end" -v lost="$lost" -v ref="${refusals:-0}" \
    'BEGIN { floor = (n + 1) / r; printf "| %s | %s | %s | %.2f | %.2f | %.3f |\n", r, lost, ref, e - s, floor, (e - s) / floor }'
done
