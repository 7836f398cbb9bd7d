#!/usr/bin/env bash
# Builds nothing itself (make run has built the program): runs the unattended
# c(s) analysis of the bundled example experiment (examples/cofs, 36 scans of
# a synthetic 2.5 S / 5 S / 8 S mixture with TI and RI noise; run, noise
# subtraction and a fit of the meniscus) into results/ and prints a short
# summary. The exit status is the program's.
set -uo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
rm -rf results
mkdir -p results/data
cp examples/cofs/*.RA1 results/data/

case $build in /*) ;; *) build="$top/$build" ;; esac

# No window: the run answers its own questions and logs them.
(cd results && QT_QPA_PLATFORM=offscreen "$build/tarnel" "example run finished" "$top/examples/cofs/params.xml")
status=$?

echo
echo "== unattended c(s) analysis of examples/cofs (exit status $status) =="
if [ -f results/alldone.flag ]; then
  echo "all-done flag: $(cat results/alldone.flag)"
fi
if [ -f results/ResultParameters.xml ]; then
  sed -n 's|.*<RMSD>\(.*\)</RMSD>.*|rmsd: \1|p' results/ResultParameters.xml
  sed -n 's|.*<Meniscus>\(.*\)</Meniscus>.*|fitted meniscus: \1 cm (true 6.02, started at 6.01)|p' results/ResultParameters.xml
fi
# Peaks: local maxima of c(s) that carry at least 5 % of the largest value,
# with the area of each peak between the minima around it.
if [ -s results/distribution.dat ]; then
  awk '
    { n++; s[n] = $1; c[n] = $2 }
    END {
      max = 0; for (i = 1; i <= n; i++) if (c[i] > max) max = c[i]
      total = 0; for (i = 2; i <= n; i++) total += 0.5 * (c[i] + c[i-1]) * (s[i] - s[i-1])
      printf "main peaks of c(s):\n"
      for (i = 2; i < n; i++) {
        if (c[i] >= c[i-1] && c[i] > c[i+1] && c[i] >= 0.05 * max) {
          lo = i; while (lo > 1 && c[lo-1] < c[lo]) lo--
          hi = i; while (hi < n && c[hi+1] < c[hi]) hi++
          area = 0; for (j = lo + 1; j <= hi; j++) area += 0.5 * (c[j] + c[j-1]) * (s[j] - s[j-1])
          printf "  s = %6.2f S   signal %.3f (%4.1f %%)\n", s[i], area, (total > 0 ? 100 * area / total : 0)
        }
      }
    }' results/distribution.dat
else
  echo "no distribution was computed (see results/automation.log)"
fi
echo "result files: $(ls results | tr '\n' ' ')"
exit $status
