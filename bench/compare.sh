#!/usr/bin/env bash
# Whole-process time and peak memory of a command beside a reference command, as ratios.
# usage: bench/compare.sh [-n RUNS] 'command' 'reference command'
set -euo pipefail
runs=5
if [ "${1:-}" = "-n" ]; then runs=$2; shift 2; fi
[ $# -eq 2 ] || { echo "usage: $0 [-n RUNS] 'command' 'reference command'" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "GNU time is missing: apt-get install time" >&2; exit 2; }

# Median wall seconds and the largest peak resident set (KiB) over the runs.
measure() {
  local cmd=$1 i out times=() peak=0 rec
  rec=$(mktemp)
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -o "$rec" -f '%e %M' bash -c "$cmd" >/dev/null 2>&1
    out=$(tail -n 1 "$rec")
    times+=("${out% *}")
    if [ "${out#* }" -gt "$peak" ]; then peak=${out#* }; fi
  done
  rm -f "$rec"
  printf '%s %s\n' "$(printf '%s\n' "${times[@]}" | sort -g | sed -n "$(( (runs + 1) / 2 ))p")" "$peak"
}

read -r t1 m1 < <(measure "$1")
read -r t2 m2 < <(measure "$2")
awk -v t1="$t1" -v m1="$m1" -v t2="$t2" -v m2="$m2" 'BEGIN {
  printf "command:   %8.3f s  %9d KiB\n", t1, m1
  printf "reference: %8.3f s  %9d KiB\n", t2, m2
  printf "time ratio %.2f, memory ratio %.2f (command / reference)\n", (t2 > 0 ? t1 / t2 : 0), (m2 > 0 ? m1 / m2 : 0)
}'
