#!/usr/bin/env bash
# Many boards at once: 1, 4 and 8 simultaneous "-d --v" downloads of a 256 KB
# image at 921600 baud, one kv32sim and one tarnflash each. Prints each run's
# wall time against the solo one and the CPU time of the tarnflash processes
# together (the simulators are not counted). Nothing is asserted. RUNS
# (default 3) rounds of each count.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build-bench}
bin=$build/bin
runs=${RUNS:-3}
counts=${BOARDS:-1 4 8}
source "$root/bench/common.sh"

work=$(mktemp -d /tmp/tarnflash-boards-XXXXXX)
trap 'sims_stop_all; rm -rf "$work"' EXIT
head -c $((256 * 1024)) /dev/urandom >"$work/img.bin"
cd "$root"
echo "machine: $(nproc) cores, $(uname -sr); load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
rows=()
solo_walls=()
for n in $counts; do
  for round in $(seq "$runs"); do
    load=$(load_now)
    ports=()
    for k in $(seq "$n"); do
      sim_start "$work/sim$k.txt" --baud 921600
      ports+=("$SIM_PORT")
    done
    start=$(date +%s.%N)
    pids=()
    for k in $(seq "$n"); do
      timed "$work/t$k" "$bin/tarnflash" -com --pn "${ports[$((k - 1))]}" --br 921600 \
        -d --fn "$work/img.bin" --v &
      pids+=($!)
    done
    failed=0
    for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
    end=$(date +%s.%N)
    sims_stop_all
    [ $failed -eq 0 ] || { echo "bench: a download failed" >&2; exit 1; }
    walls=()
    cpu=0
    for k in $(seq "$n"); do
      read -r w u s <"$work/t$k"
      walls+=("$w")
      cpu=$(awk -v c="$cpu" -v u="$u" -v s="$s" 'BEGIN { printf "%.3f", c + u + s }')
    done
    slowest=$(printf '%s\n' "${walls[@]}" | sort -g | tail -1)
    [ "$n" = 1 ] && solo_walls+=("${walls[0]}")
    round_wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
    rows+=("$n $round $load $slowest $(median "${walls[@]}") $cpu $(awk -v c="$cpu" -v w="$round_wall" 'BEGIN { printf "%.3f", c / w }')")
  done
done

# The solo reference: the median of the one-board rounds.
solo=$(median "${solo_walls[@]:-1}")
echo "| Boards | Round | Load | Wall per board: slowest / median | Slowest / solo | tarnflash CPU together | CPU / wall of the round |"
echo "|---|---|---|---|---|---|---|"
for row in "${rows[@]}"; do
  read -r n round load slowest med cpu share <<<"$row"
  printf '| %s | %s | %s | %s / %s s | %s | %s s | %s cores |\n' "$n" "$round" "$load" "$slowest" "$med" \
    "$(awk -v a="$slowest" -v b="$solo" 'BEGIN { printf "%.2f", a / b }')" "$cpu" "$share"
done
echo
echo "Solo wall (median of the one-board rounds): $solo s"
