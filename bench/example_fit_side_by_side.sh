#!/usr/bin/env bash
# The bundled example's unattended fit (bench_example_fit) for two builds
# side by side, start for start: for every seed the two builds take turns,
# REPEATS times over (other work on the machine only ever adds time), and
# each keeps the least CPU seconds of its repeats. Per seed: CPU seconds,
# the fit's evaluations, rmsd and meniscus of each build; then the mean,
# least and largest CPU seconds and evaluations over the seeds, and the CPU
# of the same run without its Fit.
# usage: bench/example_fit_side_by_side.sh BEFORE_BUILD [AFTER_BUILD] [REPEATS] [SEEDS]
# BEFORE_BUILD is the build folder of the state to compare with, holding
# bench/bench_example_fit (copy this benchmark and its lines of
# bench/CMakeLists.txt there when that state has none). Nothing is asserted.
set -uo pipefail
before=${1:?usage: example_fit_side_by_side.sh BEFORE_BUILD [AFTER_BUILD] [REPEATS] [SEEDS]}
after=${2:-$(cd "$(dirname "$0")/.." && pwd)/build}
repeats=${3:-3}
seeds=${4:-12}
export QT_QPA_PLATFORM=offscreen
program() {
  local p="$1/bench/bench_example_fit"
  [ -x "$p" ] || { echo "missing: $p" >&2; exit 2; }
  echo "$p"
}
declare -A bin=([before]=$(program "$before") [after]=$(program "$after"))
# Counters cpu_seconds, evaluations, rmsd and meniscus of one benchmark.
figures() {
  "$1" --benchmark_filter="$2" 2>/dev/null | awk '$1 ~ /^BM_/ {
    for (i = 1; i <= NF; i++) { split($i, kv, "="); if (kv[2] != "") v[kv[1]] = kv[2] }
    print v["cpu_seconds"], v["evaluations"], v["rmsd"], v["meniscus"] }'
}
declare -A cpu evals rmsd meniscus
for ((k = 0; k < repeats; ++k)); do
  for ((s = 1; s <= seeds; ++s)); do
    for side in before after; do
      read -r c e r m < <(figures "${bin[$side]}" "BM_ExampleFit/fit/seed:$s/")
      [ -n "${c:-}" ] || { echo "seed $s, $side: no figures" >&2; continue; }
      key=$side.$s
      if [ -z "${cpu[$key]:-}" ] || awk -v a="$c" -v b="${cpu[$key]}" 'BEGIN { exit !(a < b) }'; then cpu[$key]=$c; fi
      evals[$key]=$e rmsd[$key]=$r meniscus[$key]=$m
    done
  done
  for side in before after; do
    read -r c _ < <(figures "${bin[$side]}" "BM_ExampleFit/no_fit/")
    key=$side.nofit
    if [ -z "${cpu[$key]:-}" ] || awk -v a="$c" -v b="${cpu[$key]}" 'BEGIN { exit !(a < b) }'; then cpu[$key]=$c; fi
  done
done
printf '%-5s %10s %10s %6s %6s %10s %10s %10s %10s\n' seed "cpu before" "cpu after" "ev bef" "ev aft" "rmsd bef" "rmsd aft" "men bef" "men aft"
for ((s = 1; s <= seeds; ++s)); do
  printf '%-5s %10.3f %10.3f %6s %6s %10s %10s %10.7f %10.7f\n' "$s" "${cpu[before.$s]:-0}" "${cpu[after.$s]:-0}" \
    "${evals[before.$s]:-}" "${evals[after.$s]:-}" "${rmsd[before.$s]:-}" "${rmsd[after.$s]:-}" \
    "${meniscus[before.$s]:-0}" "${meniscus[after.$s]:-0}"
done
summary() {  # side, array name
  local -n a=$2
  for ((s = 1; s <= seeds; ++s)); do echo "${a[$1.$s]:-}"; done |
    awk 'NF { n++; t += $1; if (n == 1 || $1 < lo) lo = $1; if (n == 1 || $1 > hi) hi = $1 }
         END { if (n) printf "%.3f (%.3f-%.3f)", t / n, lo, hi }'
}
printf '%-34s %-24s %-24s\n' "over $seeds seeds, least of $repeats" before after
printf '%-34s %-24s %-24s\n' "CPU s of the run, mean (range)" "$(summary before cpu)" "$(summary after cpu)"
printf '%-34s %-24s %-24s\n' "evaluations, mean (range)" "$(summary before evals)" "$(summary after evals)"
printf '%-34s %-24s %-24s\n' "CPU s of the run without its Fit" "${cpu[before.nofit]:-}" "${cpu[after.nofit]:-}"
