# Shared by the program benchmarks (sourced): simulators, timing, figures.
# Every simulator started here is stopped by its own process id.

BENCH_SIMS=()

# sim_start FILE ARGS...: starts kv32sim with ARGS; FILE receives its first
# line. Sets SIM_PID, SIM_PTY ("/dev/pts/N") and SIM_PORT ("pts/N").
sim_start() {
  local out=$1
  shift
  "$bin/kv32sim" --map "$root/Map" "$@" >"$out" 2>&1 &
  SIM_PID=$!
  BENCH_SIMS+=("$SIM_PID")
  local k
  SIM_PTY=
  SIM_PORT=
  # The whole line, port included, before it is taken.
  for k in $(seq 250); do
    SIM_PTY=$(sed -n 's/.*"pty": "\([^"]*\)".*"port".*/\1/p' "$out" 2>/dev/null)
    SIM_PORT=$(sed -n 's/.*"port": "\([^"]*\)".*/\1/p' "$out" 2>/dev/null)
    [ -n "$SIM_PTY" ] && [ -n "$SIM_PORT" ] && return 0
    sleep 0.02
  done
  echo "bench: kv32sim did not start: $(cat "$out")" >&2
  return 1
}

sim_stop() {
  local pid=$1
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

sims_stop_all() {
  local pid
  for pid in "${BENCH_SIMS[@]}"; do sim_stop "$pid"; done
  BENCH_SIMS=()
}

# timed FILE CMD...: runs CMD (output to FILE.out); FILE gets "wall user sys"
# in seconds; returns CMD's exit code.
timed() {
  local file=$1
  shift
  local TIMEFORMAT='%3R %3U %3S' rc=0
  { time "$@" >"$file.out" 2>&1; } 2>"$file" || rc=$?
  return $rc
}

# best_median VALUES...: "best / median" of the numbers, 3 decimals.
best_median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.3f / %.3f", v[1], m }'
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    printf "%.3f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

load_now() { cut -d' ' -f1 /proc/loadavg; }
