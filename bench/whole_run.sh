#!/usr/bin/env bash
# A whole run of orgkat-cli against the demo directory (which asks for the client certificate) with no
# added latency, measured against the pacing floor of the dispatch loop (at least 200 ms per dispatched
# request), with its CPU time (user + sys) per record and peak memory; then the same run with the list
# response padded to 10 MB.
# With --baseline, another orgkat-cli build runs the plain list side by side (alternating, --repeat times
# each), and the bytes that the directory received from both are compared: every ClientHello (random
# fields zeroed), client certificate message and request header block, as SHA-256 lines of its wire log.
# Usage: bench/whole_run.sh [--baseline CLI] [--repeat N] [ORGANISATIONS]
#        (run from the repository root after a build)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/demo-lib.sh

baseline=${ORGKAT_BASELINE_CLI:-}
repeat=1
while [ $# -gt 0 ]; do
  case "$1" in
    --baseline) baseline=$(readlink -f "$2"); shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    *) break ;;
  esac
done
count=${1:-300}
current=$PWD/build/app/cli/orgkat-cli
work=$(mktemp -d /tmp/orgkat-bench.XXXXXX)
trap 'stop_demo_directory; rm -rf "$work"' EXIT

# The Host line names the port, so every run uses the port of the first.
port=0
# measure LABEL CLI WIRE_LOG [server options...]
measure() {
  local label=$1 cli=$2 wire=$3
  shift 3
  start_demo_directory "$work" --count "$count" --seed 11 --port "$port" --wire-log "$wire" "$@"
  port=$DEMO_PORT
  mkdir -p "$work/out"
  (cd "$work" && /usr/bin/time -f '%e %U %S %M' -o time.txt "$cli" \
    --api-host "127.0.0.1:$DEMO_PORT" --site-host localhost --output-dir out --no-open >/dev/null)
  stop_demo_directory
  read -r wall user sys rss_kb <"$work/time.txt"
  awk -v label="$label" -v n="$count" -v wall="$wall" -v user="$user" -v sys="$sys" -v rss="$rss_kb" 'BEGIN {
    floor = (n + 1) * 0.2
    printf "%-22s requests %d  wall %.2f s  floor %.2f s  over floor %+.1f%%  cpu %.2f s = %.2f ms per record  peak %.1f MB\n",
      label, n + 1, wall, floor, (wall / floor - 1) * 100, user + sys, (user + sys) / n * 1000, rss / 1024
  }'
  rm -rf "$work/out"
}

# summary NAME WIRE_LOG: what the directory received, by kind.
summary() {
  echo "$1: $(cut -d' ' -f1 "$2" | sort | uniq -c | awk '{printf "%s%d %s", sep, $1, $2; sep=", "}')"
}

for i in $(seq "$repeat"); do
  if [ -n "$baseline" ]; then
    measure "baseline plain list" "$baseline" "$work/wire-baseline-$i.txt"
  fi
  measure "plain list" "$current" "$work/wire-current-$i.txt"
done
measure "list padded to 10 MB" "$current" "$work/wire-padded.txt" --list-padding 10485760

summary "received" "$work/wire-current-1.txt"
if [ -n "$baseline" ]; then
  sort "$work"/wire-baseline-*.txt >"$work/wire-baseline.sorted"
  sort "$work"/wire-current-*.txt >"$work/wire-current.sorted"
  if cmp -s "$work/wire-baseline.sorted" "$work/wire-current.sorted"; then
    echo "wire: byte-identical to the baseline (ClientHellos with random fields zeroed, client certificates, requests)"
  else
    echo "wire: DIFFERS from the baseline:"
    diff <(uniq -c "$work/wire-baseline.sorted") <(uniq -c "$work/wire-current.sorted") | head -n 20
    exit 1
  fi
fi
