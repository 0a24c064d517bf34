#!/usr/bin/env bash
# TARVEL once per strain, one run at a time as the panel's runner starts it,
# against tarvel_engine running the same strains in one process: wall time,
# the ratio, and peak memory (GNU time), on one simulated chromosome.
#
#   bench/engine.sh [--markers N] [--strains N] [--generation G] [--x] [--build DIR]
#
# Defaults: 8,000 markers, 69 strains, #Generation 20, an autosome, the
# binaries of build/. The engine runs twice: values only, and values with
# TARVEL's results text (checked against TARVEL's bytes).
set -euo pipefail

markers=8000 strains=69 generation=20 x=0
build="$(cd "$(dirname "$0")/.." && pwd)/build"
while [ $# -gt 0 ]; do
  case "$1" in
    --markers) markers=$2; shift 2 ;;
    --strains) strains=$2; shift 2 ;;
    --generation) generation=$2; shift 2 ;;
    --x) x=1; shift ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    *) echo "usage: $0 [--markers N] [--strains N] [--generation G] [--x] [--build DIR]" >&2; exit 2 ;;
  esac
done
tarvel=$build/TARVEL engine=$build/tarvel_engine simulate=$build/tools/simulate/tarvel_simulate
for bin in "$tarvel" "$engine" "$simulate"; do
  [ -x "$bin" ] || { echo "$bin is missing: build first (cmake --build build -j1)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
xsim=() xrun=()
[ "$x" = 1 ] && xsim=(--x) xrun=(-x)

# One draw of founders and positions, then each strain bred from them, with
# its own seed, funnel and (on the X) sex.
"$simulate" --out "$work/draw" --markers "$markers" --length 95 --generation "$generation" \
  --founder-missing 0.01 "${xsim[@]}" > /dev/null
for ((i = 1; i <= strains; i++)); do
  sex=$([ $((i % 2)) = 0 ] && echo M || echo F)
  "$simulate" --out "$work/s$i" --seed "$i" --generation "$generation" --founders "$work/draw/founders.txt" \
    --positions "$work/draw/positions.txt" "${xsim[@]}" --sex "$sex" > /dev/null
  echo "$sex" > "$work/s$i/sex"
done

# "wall_seconds peak_kB cpu_seconds" of one command and the processes it
# waits for, from GNU time. On a machine shared with other work the CPU time
# (user + system) is the steadier of the two times.
measure() {
  /usr/bin/time -v "$@" > /dev/null 2> "$work/time.txt"
  awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (k = 1; k <= n; k++) s = s * 60 + p[k] }
              /Maximum resident set size/ { kb = $2 }
              /(User|System) time \(seconds\)/ { cpu += $2 }
              END { printf "%.3f %d %.3f\n", s, kb, cpu }' "$work/time.txt"
}

# TARVEL as the runner starts it: the strain file copied, one run after the
# other. Timed as one command, so the CPU time adds up every run exactly and
# the peak is that of the largest run.
for ((i = 1; i <= strains; i++)); do
  d=$work/s$i sex=()
  [ "$x" = 1 ] && sex=(-s "$(cat "$d/sex")")
  printf 'cp %q %q && %q %q %q %q %q -cm %q -e 0.001 %s %s > /dev/null\n' "$d/strain.txt" "$d/run.txt" \
    "$tarvel" "$work/draw/founders.txt" "$d/run.txt" "$d/funnel.txt" "$generation" "$work/draw/positions.txt" \
    "${xrun[*]:-}" "${sex[*]:-}" >> "$work/tarvel.sh"
done
read -r tarvel_seconds peak tarvel_cpu < <(measure bash -e "$work/tarvel.sh")

for ((i = 1; i <= strains; i++)); do
  d=$work/s$i
  printf '%s\t%s\t%s\t%s\t0.001\t%s\n' "$d/strain.txt" "$d/funnel.txt" "$generation" \
    "$([ "$x" = 1 ] && tr MF mf < "$d/sex" || echo -)" "$d/values.bin" >> "$work/values.tsv"
  printf '%s\t%s\t%s\t%s\t0.001\t%s\t%s\n' "$d/strain.txt" "$d/funnel.txt" "$generation" \
    "$([ "$x" = 1 ] && tr MF mf < "$d/sex" || echo -)" "$d/values.bin" "$d/text.prob" >> "$work/text.tsv"
done
engine_run() {
  measure "$engine" --founders "$work/draw/founders.txt" --positions "$work/draw/positions.txt" -cm \
    "${xrun[@]}" --jobs "$1"
}
read -r values_seconds values_kb values_cpu < <(engine_run "$work/values.tsv")
read -r text_seconds text_kb text_cpu < <(engine_run "$work/text.tsv")
for ((i = 1; i <= strains; i++)); do
  cmp -s "$work/s$i/text.prob" "$work/s$i/run.txt.prob" || { echo "strain $i: the engine's text is not TARVEL's" >&2; exit 1; }
done

mb() { awk -v kb="$1" 'BEGIN { printf "%.1f", kb / 1024 }'; }
# TARVEL's time over the engine's; "-" when the engine's is below GNU time's 0.01 s
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1f", a / b; else printf "-" }'; }
row() { printf '%-32s %7.2f %7.2f %9s %11s %10s\n' "$@"; }
echo "engine benchmark: $markers markers, $strains strains, #Generation $generation, $([ "$x" = 1 ] && echo X || echo autosome)"
printf '%-32s %7s %7s %9s %11s %10s\n' "" "wall s" "CPU s" "peak MB" "wall ratio" "CPU ratio"
row "TARVEL, one run per strain" "$tarvel_seconds" "$tarvel_cpu" "$(mb "$peak")" "" ""
row "tarvel_engine, values" "$values_seconds" "$values_cpu" "$(mb "$values_kb")" \
  "$(ratio "$tarvel_seconds" "$values_seconds")" "$(ratio "$tarvel_cpu" "$values_cpu")"
row "tarvel_engine, values and text" "$text_seconds" "$text_cpu" "$(mb "$text_kb")" \
  "$(ratio "$tarvel_seconds" "$text_seconds")" "$(ratio "$tarvel_cpu" "$text_cpu")"
echo "(TARVEL's peak: its largest run; the ratios: TARVEL's time over the engine's)"
