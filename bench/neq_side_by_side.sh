#!/usr/bin/env bash
# The normal equations and the Run's serial part for two builds side by
# side, the builds taking turns, and their ratio (after / before):
#   1  normal equations of 200 kernels (TI+RI), 50 x 500 and 100 x 1000
#      points, on 1 and 8 threads: GFLOP per CPU second of all threads
#      (the best of the repeats) and its share of one thread's 512-bit FMA
#      peak, and the wall time (the least of the repeats)
#   2  maximum entropy on those normal equations (n 200, 1 and 8 threads)
#   3  the c(s) Run at resolution 200, 100 x 1000, 8 threads: whole Run,
#      normal equations and regularised solve, and the Run's serial part:
#      what is left of it beside the Lamm solutions and the normal
#      equations (the regularised solve, the set-up, the model curves of
#      the solution and the ending), and that part without the solve (wall
#      s, least of the repeats; each repeat's parts from its own line)
# The CPU figure is what a busy machine disturbs least: other work takes
# processors away from the workers but hardly changes what a worker does
# in a CPU second. Nothing is asserted.
# usage: bench/neq_side_by_side.sh BEFORE_BUILD [AFTER_BUILD] [REPEATS]
# BEFORE_BUILD is a build folder of the state to compare with (or a folder
# holding its bench_conti_neq and bench_conti_run).
set -uo pipefail
before=${1:?usage: neq_side_by_side.sh BEFORE_BUILD [AFTER_BUILD] [REPEATS]}
after=${2:-$(cd "$(dirname "$0")/.." && pwd)/build}
repeats=${3:-5}
before=$(cd "$before" && pwd) && after=$(cd "$after" && pwd) || exit 2
program() {  # build folder, program name
  for p in "$1/bench/$2" "$1/$2"; do [ -x "$p" ] && { echo "$p"; return; }; done
  echo "missing: $1 $2" >&2; exit 2
}
# Every line of program $1 under filter $2, as "name field=value ..." with
# the time in ms as time=; counters in milliseconds ("12.3m") as seconds.
lines() {
  "$1" --benchmark_filter="$2" 2>/dev/null |
    awk '$1 ~ /^BM_/ {
      out = $1 " time=" $2
      for (i = 3; i <= NF; i++)
        if (index($i, "=") > 0) {
          split($i, kv, "=")
          x = kv[2]; sub(/\/s$/, "", x)
          if (x ~ /m$/) x = substr(x, 1, length(x) - 1) / 1000
          out = out " " kv[1] "=" x
        }
      print out
    }'
}
declare -A v
# v[key] becomes the lesser (mode min) or greater (mode max) of itself and $3.
keep() {
  local cur=${v[$1]:-}
  [ -n "$3" ] || return
  if [ -z "$cur" ] || awk -v a="$3" -v b="$cur" -v m="$2" 'BEGIN { exit !(m == "min" ? a < b : a > b) }'; then
    v[$1]=$3
  fi
}
field() { echo "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"; }
neq='BM_NormalEquationsTIRI/200/(1|8)/-1/(0|1)/'
me='BM_MaxEntropySolve/n:200/'
run='BM_ContiRun/res:200/scans:100/points:1000/threads:8/pool:0/'
for ((k = 0; k < repeats; ++k)); do
  for side in before after; do
    dir=${!side}
    while read -r name rest; do
      [ -n "$name" ] || continue
      key=${name%/real_time}
      keep "$side.$key.time" min "$(field "$rest" time)"
      keep "$side.$key.cpu" max "$(field "$rest" GFLOPS_cpu)"
      keep "$side.$key.share" max "$(field "$rest" peak_share)"
    done < <(lines "$(program "$dir" bench_conti_neq)" "$neq|$me")
    while read -r name rest; do
      [ -n "$name" ] || continue
      for c in total_s neq_s reg_s; do keep "$side.run.$c" min "$(field "$rest" $c)"; done
      serial=$(awk -v t="$(field "$rest" total_s)" -v l="$(field "$rest" lamm_s)" -v q="$(field "$rest" neq_s)" \
        -v g="$(field "$rest" reg_s)" 'BEGIN { if (t != "") printf "%.6f %.6f", t - l - q, t - l - q - g }')
      keep "$side.run.serial" min "${serial% *}"
      keep "$side.run.rest" min "${serial#* }"
    done < <(lines "$(program "$dir" bench_conti_run)" "$run")
  done
done
row() { printf '%-58s %12s %12s %8s\n' "$1" "$2" "$3" "$(awk -v a="$2" -v b="$3" 'BEGIN { if (a > 0) printf "%.3f", b / a }')"; }
printf '%-58s %12s %12s %8s\n' "best of $repeats" before after ratio
for size in 0 1; do
  [ $size = 0 ] && pts="50 x 500" || pts="100 x 1000"
  for t in 1 8; do
    key=BM_NormalEquationsTIRI/200/$t/-1/$size
    row "1 neq $pts, $t thr: GFLOP per CPU s" "${v[before.$key.cpu]:-}" "${v[after.$key.cpu]:-}"
    row "1 neq $pts, $t thr: share of 1-thread peak" "${v[before.$key.share]:-}" "${v[after.$key.share]:-}"
    row "1 neq $pts, $t thr: wall (ms)" "${v[before.$key.time]:-}" "${v[after.$key.time]:-}"
  done
done
for t in 1 8; do
  key=BM_MaxEntropySolve/n:200/threads:$t
  row "2 maximum entropy, n 200, $t thr (ms)" "${v[before.$key.time]:-}" "${v[after.$key.time]:-}"
done
row "3 c(s) res 200, 100 x 1000, 8 thr: Run (s)" "${v[before.run.total_s]:-}" "${v[after.run.total_s]:-}"
row "3   normal equations (s)" "${v[before.run.neq_s]:-}" "${v[after.run.neq_s]:-}"
row "3   regularised solve, maximum entropy (s)" "${v[before.run.reg_s]:-}" "${v[after.run.reg_s]:-}"
row "3   serial part: Run less Lamm and normal equations (s)" "${v[before.run.serial]:-}" "${v[after.run.serial]:-}"
row "3   serial part less the regularised solve (s)" "${v[before.run.rest]:-}" "${v[after.run.rest]:-}"
