# Shell functions for scripts that run against the demo directory. Source it from the repository root.

# start_demo_directory WORKDIR [server options...]: makes certificates in WORKDIR if missing, starts the
# demo directory on a free port and sets DEMO_PID and DEMO_PORT.
start_demo_directory() {
  local work=$1
  shift
  mkdir -p "$work"
  [ -f "$work/01key.pem" ] || scripts/make-certs "$work" >/dev/null
  local out="$work/server.out"
  : >"$out"
  "${DEMO_BUILD:-build}/tools/demo-directory/orgkat-demo-directory" --cert "$work/server.pem" --key "$work/server-key.pem" \
    "$@" >"$out" 2>"$work/server.err" &
  DEMO_PID=$!
  DEMO_PORT=""
  for _ in $(seq 100); do
    DEMO_PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out")
    [ -n "$DEMO_PORT" ] && return 0
    kill -0 "$DEMO_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill "$DEMO_PID" 2>/dev/null || true
  echo "the demo directory did not start" >&2
  return 1
}

stop_demo_directory() {
  kill -TERM "$DEMO_PID" 2>/dev/null || true
  wait "$DEMO_PID" 2>/dev/null || true
}
