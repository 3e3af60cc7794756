#!/usr/bin/env bash
# The program against the simulated chip, whole runs as a user starts them
# (process start, connect, the operation), and stm32flash against kv32sim's
# peer device on the same paced line with the same image:
#   - "-d --v" and "-d --crc" against stm32flash's write + verify (-w -v),
#     64 KB and 256 KB, 115200 and 921600 baud;
#   - "--delta" of a 256 KB image at 115200 on a chip that holds it, and with
#     one 2 KB sector changed;
#   - a 256 KB upload at 115200 confirmed by the chip's CRC, against the same
#     upload on a chip without FIRMWARE_CRC (read twice, as before);
#   - the connect alone.
# Nothing is asserted. RUNS (default 3) runs of each; BAUDS and SIZES (KB)
# narrow the comparison.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build-bench}
bin=$build/bin
runs=${RUNS:-3}
bauds=${BAUDS:-115200 921600}
sizes=${SIZES:-64 256}
source "$root/bench/common.sh"

command -v stm32flash >/dev/null || { echo "bench: stm32flash is missing (scripts/setup installs it)" >&2; exit 1; }
work=$(mktemp -d /tmp/tarnflash-bench-XXXXXX)
trap 'sims_stop_all; rm -rf "$work"' EXIT

head -c $((256 * 1024)) /dev/urandom >"$work/img256.bin"
head -c $((64 * 1024)) "$work/img256.bin" >"$work/img64.bin"
cp "$work/img256.bin" "$work/img256b.bin"
printf '\x5a' | dd of="$work/img256b.bin" bs=1 seek=$((77 * 2048 + 300)) conv=notrunc status=none

cd "$root"  # the program's catalogue: ./Map
echo "machine: $(nproc) cores, $(uname -sr); load average now: $(cut -d' ' -f1-3 /proc/loadavg)"

# run_tarnflash BAUD SIMARGS -- COMMANDS...: one fresh simulator, one run;
# prints "wall user+sys load".
run_tarnflash() {
  local baud=$1 simargs=$2
  shift 3
  local load
  load=$(load_now)
  # shellcheck disable=SC2086
  sim_start "$work/sim.txt" --baud "$baud" $simargs
  local rc=0
  timed "$work/t" "$bin/tarnflash" -com --pn "$SIM_PORT" --br "$baud" "$@" || rc=$?
  sim_stop "$SIM_PID"
  [ $rc -eq 0 ] || { echo "bench: tarnflash failed ($rc): $(tail -3 "$work/t.out")" >&2; return 1; }
  awk -v l="$load" '{ printf "%s %.3f %s\n", $1, $2 + $3, l }' "$work/t"
}

run_stm32flash() {
  local baud=$1 image=$2 load rc=0
  load=$(load_now)
  sim_start "$work/sim.txt" --baud "$baud" --device PEER-0414
  timed "$work/t" stm32flash -m 8n1 -b "$baud" -w "$image" -v "$SIM_PTY" || rc=$?
  sim_stop "$SIM_PID"
  [ $rc -eq 0 ] || { echo "bench: stm32flash failed ($rc): $(tail -3 "$work/t.out")" >&2; return 1; }
  awk -v l="$load" '{ printf "%s %.3f %s\n", $1, $2 + $3, l }' "$work/t"
}

# series NAME CMD...: RUNS runs; prints one table row and sets SERIES_MEDIAN.
series() {
  local name=$1
  shift
  local walls=() cpus=() loads=() line
  for _ in $(seq "$runs"); do
    line=$("$@") || { echo "bench: a run of \"$name\" failed" >&2; exit 1; }
    walls+=("$(echo "$line" | cut -d' ' -f1)")
    cpus+=("$(echo "$line" | cut -d' ' -f2)")
    loads+=("$(echo "$line" | cut -d' ' -f3)")
  done
  SERIES_MEDIAN=$(median "${walls[@]}")
  SERIES_BEST=$(printf '%s\n' "${walls[@]}" | sort -g | head -1)
  printf '| %s | %s | %s | %s s | %s s |\n' "$name" "$runs" \
    "$(printf '%s\n' "${loads[@]}" | sort -g | sed -n '1p;$p' | paste -sd- -)" \
    "$(best_median "${walls[@]}")" "$(median "${cpus[@]}")"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

echo
echo "## Against stm32flash (same line, same image; wall of the whole process)"
echo
echo "| Run | Runs | Load | Wall best / median | CPU (median) |"
echo "|---|---|---|---|---|"
ratios=()
peer256=1
peer256Best=1
for baud in $bauds; do
  for kb in $sizes; do
    img=$work/img$kb.bin
    series "stm32flash -w -v, $kb KB, $baud" run_stm32flash "$baud" "$img"
    peer=$SERIES_MEDIAN
    peerBest=$SERIES_BEST
    series "tarnflash -d --v, $kb KB, $baud" run_tarnflash "$baud" "" -- -d --fn "$img" --v
    ratios+=("-d --v, $kb KB, $baud: $(ratio "$SERIES_BEST" "$peerBest") best, $(ratio "$SERIES_MEDIAN" "$peer") median")
    series "tarnflash -d --crc, $kb KB, $baud" run_tarnflash "$baud" "" -- -d --fn "$img" --crc
    ratios+=("-d --crc, $kb KB, $baud: $(ratio "$SERIES_BEST" "$peerBest") best, $(ratio "$SERIES_MEDIAN" "$peer") median")
    [ "$kb" = 256 ] && [ "$baud" = 115200 ] && peer256=$peer && peer256Best=$peerBest
  done
done

echo
echo "## Delta download and upload at 115200"
echo
echo "| Run | Runs | Load | Wall best / median | CPU (median) |"
echo "|---|---|---|---|---|"
series "--delta, 256 KB, chip holds the image" run_tarnflash 115200 "--load-flash $work/img256.bin" -- \
  -d --fn "$work/img256.bin" --delta
ratios+=("--delta unchanged, 256 KB, 115200: $(ratio "$SERIES_BEST" "$peer256Best") best, $(ratio "$SERIES_MEDIAN" "$peer256") median of stm32flash -w -v")
series "--delta, 256 KB, one 2 KB sector changed" run_tarnflash 115200 "--load-flash $work/img256.bin" -- \
  -d --fn "$work/img256b.bin" --delta
series "-u 256 KB, confirmed by the chip's CRC" run_tarnflash 115200 "--load-flash $work/img256.bin" -- \
  -u --fn "$work/up.bin"
confirmed=$SERIES_MEDIAN
confirmedBest=$SERIES_BEST
series "-u 256 KB, chip without FIRMWARE_CRC (read twice)" run_tarnflash 115200 \
  "--load-flash $work/img256.bin --unlist AC" -- -u --fn "$work/up.bin"
ratios+=("-u 256 KB, 115200: $(ratio "$confirmedBest" "$SERIES_BEST") best, $(ratio "$confirmed" "$SERIES_MEDIAN") median of the read-twice upload")
series "-com (connect only), 115200" run_tarnflash 115200 "" --
series "-com (connect only), 921600" run_tarnflash 921600 "" --

echo
echo "## Ratios (tarnflash / reference)"
echo
printf -- '- %s\n' "${ratios[@]}"
