#!/usr/bin/env bash
# A whole run of orgkat-cli against the demo directory with no added latency, measured against the
# pacing floor of the dispatch loop (at least 200 ms per dispatched request), with its CPU time and
# peak memory; then the same run with the list response padded to 10 MB.
# Usage: bench/whole_run.sh [ORGANISATIONS]   (run from the repository root after a build)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/demo-lib.sh

count=${1:-300}
work=$(mktemp -d /tmp/orgkat-bench.XXXXXX)
trap 'stop_demo_directory; rm -rf "$work"' EXIT

measure() {
  local label=$1
  shift
  start_demo_directory "$work" --count "$count" --seed 11 "$@"
  mkdir -p "$work/out"
  (cd "$work" && /usr/bin/time -f '%e %U %S %M' -o time.txt "$OLDPWD/build/app/cli/orgkat-cli" \
    --api-host "127.0.0.1:$DEMO_PORT" --site-host localhost --output-dir out --no-open >/dev/null)
  stop_demo_directory
  read -r wall user sys rss_kb <"$work/time.txt"
  awk -v label="$label" -v n="$count" -v wall="$wall" -v user="$user" -v sys="$sys" -v rss="$rss_kb" 'BEGIN {
    floor = (n + 1) * 0.2
    printf "%-22s requests %d  wall %.2f s  floor %.2f s  over floor %+.1f%%  cpu %.2f s (%.2f%% of wall)  peak %.1f MB\n",
      label, n + 1, wall, floor, (wall / floor - 1) * 100, user + sys, (user + sys) / wall * 100, rss / 1024
    printf "%-22s per record: wall %.1f ms  cpu %.2f ms\n", "", wall / n * 1000, (user + sys) / n * 1000
  }'
  rm -rf "$work/out"
}

measure "plain list"
measure "list padded to 10 MB" --list-padding 10485760
