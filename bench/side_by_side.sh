#!/usr/bin/env bash
# The figures of the c(s) speed goals for two builds side by side, each the
# least of several repeats, the builds taking turns (other work on the machine only ever
# adds time), and their ratio:
#   1  c(s) at resolution 200, 100 scans x 1000 points, 8 threads (wall s)
#   2  c(v) beside c(s), 30 x 400 points, 8 threads (wall s of each, c(v)/c(s),
#      and the same ratio of their CPU s, which the load of the machine
#      disturbs less)
#   3  one species at the default settings (ms)
#   4  the unattended Run of 400 x 1000 (CPU s, page faults and its peak
#      resident memory per data point in kB), against four c(s) Runs of
#      100 x 1000 at resolution 100 on one thread (CPU s, and page faults
#      per Run)
# usage: bench/side_by_side.sh BEFORE_BUILD [AFTER_BUILD] [REPEATS]
# BEFORE_BUILD is a build folder of the state to compare with, e.g.
#   git worktree add /tmp/before <commit> && cmake -S /tmp/before -B /tmp/before/build -G Ninja \
#     -DCMAKE_BUILD_TYPE=Release && cmake --build /tmp/before/build --target tarnel bench_conti_run \
#     bench_electrophoresis_run bench_lamm
# (or a folder holding those four programs). Nothing is asserted.
set -uo pipefail
before=${1:?usage: side_by_side.sh BEFORE_BUILD [AFTER_BUILD] [REPEATS]}
after=${2:-$(cd "$(dirname "$0")/.." && pwd)/build}
repeats=${3:-5}
before=$(cd "$before" && pwd) && after=$(cd "$after" && pwd) || exit 2
export QT_QPA_PLATFORM=offscreen
program() {  # build folder, program name
  for p in "$1/bench/$2" "$1/$2"; do [ -x "$p" ] && { echo "$p"; return; }; done
  echo "missing: $1 $2" >&2; exit 2
}
# Counters $3 (or the time where one is "time"; several apart by spaces,
# printed so) of one repetition of benchmark $2 of program $1; counters in
# milliseconds ("12.3m") as seconds, in thousands ("12.3k") as numbers.
figure() {
  "$1" --benchmark_filter="$2\$" 2>/dev/null |
    awk -v cs="$3" '$1 ~ /^BM_/ {
      n = split(cs, c, " ")
      for (k = 1; k <= n; ++k) {
        if (c[k] == "time") { v[k] = $2; continue }
        for (i = 1; i <= NF; i++)
          if (index($i, c[k] "=") == 1) {
            x = substr($i, length(c[k]) + 2)
            v[k] = x ~ /m$/ ? substr(x, 1, length(x) - 1) / 1000 : x ~ /k$/ ? substr(x, 1, length(x) - 1) * 1000 : x
          }
      }
    } END { for (k = 1; k <= n; ++k) printf "%s%s", v[k], k < n ? " " : "\n" }'
}
# v[side.key] becomes the lesser of itself and $2.
keep() {
  local cur=${v[$1]:-}
  if [ -n "$2" ] && { [ -z "$cur" ] || awk -v a="$2" -v b="$cur" 'BEGIN { exit !(a < b) }'; }; then v[$1]=$2; fi
}
row() { printf '%-58s %12s %12s %8s\n' "$1" "$2" "$3" "$(awk -v a="$2" -v b="$3" 'BEGIN { if (a > 0) printf "%.3f", b / a }')"; }

cs=BM_ContiRun/res:200/scans:100/points:1000/threads:8/pool:0/iterations:2/real_time
cs1=BM_ContiRun/res:100/scans:100/points:1000/threads:1/pool:0/iterations:2/real_time
ep=BM_DistributionRun/kind:%d/threads:8/iterations:2/real_time
one=BM_LammStaticDefaultSettings
declare -A v
# The two builds take turns, so that the load of the machine falls on both.
for ((k = 0; k < repeats; ++k)); do
  for side in before after; do
    dir=${!side}
    keep "$side.cs" "$(figure "$(program "$dir" bench_conti_run)" "$cs" total_s)"
    line=$(figure "$(program "$dir" bench_conti_run)" "$cs1" "cpu_s faults")
    keep "$side.cs1" "${line% *}"
    keep "$side.cs1faults" "${line#* }"
    for kind in 0 1; do
      line=$(figure "$(program "$dir" bench_electrophoresis_run)" "$(printf "$ep" $kind)" "total_s cpu_s")
      keep "$side.e$kind" "${line% *}"
      keep "$side.e${kind}cpu" "${line#* }"
    done
    keep "$side.one" "$(figure "$(program "$dir" bench_lamm)" "$one" time)"
  done
done
# The unattended Run: the set bench_serial_fit makes, each program alternately.
set400=${TMPDIR:-/tmp}/tarnel_bench_serial/large400
if [ ! -f "$set400/params.xml" ]; then
  "$(program "$after" bench_serial_fit)" --benchmark_filter='BM_UnattendedRun/scans:400' >/dev/null 2>&1
fi
home=${TMPDIR:-/tmp}/tarnel_bench_serial/home
mkdir -p "$home"
for ((k = 0; k < repeats; ++k)); do
  for side in before after; do
    t=$( (cd "$set400" && TARNEL_HOME=$home /usr/bin/time -f '%U %S %R %M' "$(program "${!side}" tarnel)" bench params.xml \
          >/dev/null 2>"$home/time.$side") ; tail -1 "$home/time.$side" | awk '{ print $1 + $2, $3, $4 / 400000 }')
    read -r cpu faults kb <<<"$t"
    keep "$side.run" "$cpu"
    keep "$side.runfaults" "$faults"
    keep "$side.runkb" "$kb"
  done
done
for side in before after; do
  v[$side.cvcs]=$(awk -v a="${v[$side.e1]}" -v b="${v[$side.e0]}" 'BEGIN { printf "%.3f", a / b }')
  v[$side.cvcscpu]=$(awk -v a="${v[$side.e1cpu]}" -v b="${v[$side.e0cpu]}" 'BEGIN { printf "%.3f", a / b }')
  v[$side.runratio]=$(awk -v a="${v[$side.run]}" -v b="${v[$side.cs1]}" 'BEGIN { printf "%.3f", a / (4 * b) }')
done
printf '%-58s %12s %12s %8s\n' "least of $repeats" before after ratio
row "1 c(s) res 200, 100 x 1000, 8 threads (s)" "${v[before.cs]}" "${v[after.cs]}"
row "2 c(s) 30 x 400, 8 threads (s)" "${v[before.e0]}" "${v[after.e0]}"
row "2 c(v) 30 x 400, 8 threads (s)" "${v[before.e1]}" "${v[after.e1]}"
row "2 c(v) / c(s)" "${v[before.cvcs]}" "${v[after.cvcs]}"
row "2 c(s) 30 x 400, 8 threads (CPU s)" "${v[before.e0cpu]}" "${v[after.e0cpu]}"
row "2 c(v) 30 x 400, 8 threads (CPU s)" "${v[before.e1cpu]}" "${v[after.e1cpu]}"
row "2 c(v) / c(s) (CPU)" "${v[before.cvcscpu]}" "${v[after.cvcscpu]}"
row "3 one species, default settings (ms)" "${v[before.one]}" "${v[after.one]}"
row "4 c(s) res 100, 100 x 1000, 1 thread (CPU s)" "${v[before.cs1]}" "${v[after.cs1]}"
row "4 unattended Run 400 x 1000 (CPU s)" "${v[before.run]}" "${v[after.run]}"
row "4 unattended Run / four c(s) Runs" "${v[before.runratio]}" "${v[after.runratio]}"
row "4 c(s) res 100, 100 x 1000, 1 thread (page faults)" "${v[before.cs1faults]}" "${v[after.cs1faults]}"
row "4 unattended Run 400 x 1000 (page faults)" "${v[before.runfaults]}" "${v[after.runfaults]}"
row "4 unattended Run 400 x 1000 (peak kB per data point)" "${v[before.runkb]}" "${v[after.runkb]}"
