# Command line: options, positional slots, usage text, parameter refusals,
# state-space sizing and the run header.
source "$2/support/e2e_lib.sh"
cp "$DATA"/driver/* .

USAGE=" Usage: TARVEL.exe <FounderFile> <StrainFile> <FunnelFile> <#Generation> [options]
        -cm: file containing genetic locations of SNP markers (in CM distance)
        -bp: file containing physical locations of SNP markers
        -s: m/f to indicate gender
        -e: estimated error rate
        -x: x chromosome
        -of: output format (0/1)
        either one of -cm or -bp must be used
"
LOADED=$' L = 3 , NoOfFounders = 8\n'
PROGRESS=$'Computing Emission Prob\nComputing Alpha\nComputing Beta\nWriting Results\n'
ERATE=$'Error: the error rate (-e) must lie between 0 and 1.\n'
XGEN=$'Error: #Generation must be at least 2 on the X chromosome.\n'
BIGGEN=$'Error: #Generation above 100 is not supported.\n'
F=(founders.txt strain.txt funnel.txt)

# header GENERATION BITS STATES [FOUNDERS STRAIN FUNNEL POSITIONS]: sets H
header() {
  local s=${5:-strain.txt}
  printf -v H '#Generation: %s\nCoding Bit-Length: %s\n#States: %s\n%s|\n%s|\n%s.prob|\n%s|\n%s|\n' \
    "$1" "$2" "$3" "${4:-founders.txt}" "$s" "$s" "${6:-funnel.txt}" "${7:-pos_cm.txt}"
}

# refused OUTPUT ARGS...: status 1, exactly OUTPUT, no results file
refused() {
  local want=$1; shift
  rm -f ./*.prob
  run "$@"
  expect_eq "output of [$*]" "$want" "$OUT"
  expect_eq "status of [$*]" 1 "$RC"
  expect_no_stderr
  local p; for p in *.prob; do [ -e "$p" ] && fail "[$*] left $p behind"; done
}

# completes HEADER-ARGS -- ARGS...: a full run with that header, status 0
completes() {
  local h=()
  while [ "$1" != -- ]; do h+=("$1"); shift; done; shift
  header "${h[@]}"
  rm -f ./*.prob
  run "$@"
  expect_eq "output of [$*]" "$H$LOADED$PROGRESS" "$OUT"
  expect_eq "status of [$*]" 0 "$RC"
  expect_no_stderr
  [ -s strain.txt.prob ] || fail "[$*] wrote no strain.txt.prob"
}

# An incomplete command line
refused "$USAGE"
refused "$USAGE" a b c 5
refused "$USAGE" "${F[@]}" -cm pos_cm.txt
refused "$USAGE" "${F[@]}" 6 -cm ""
refused "$USAGE" "${F[@]}" 6 pos_cm.txt
refused "$USAGE" "${F[@]}" 1 -cm pos_cm.txt
refused "$USAGE" founders.txt "" strain.txt 6 -cm pos_cm.txt
refused "$USAGE" -e 5 "${F[@]}" -cm pos_cm.txt
for opt in -e -s -cm -bp -of; do
  refused "$USAGE" "${F[@]}" 6 -cm pos_cm.txt "$opt"
done

# Header and state space of complete runs
completes 6 8 256 -- "${F[@]}" 6 -cm pos_cm.txt
completes 6 -1 64 -- "${F[@]}" 6 -cm pos_cm.txt -x -s F
completes 6 -1 8 -- "${F[@]}" 6 -cm pos_cm.txt -x
completes 4 5 32 founders.txt strain.txt funnel.txt pos_bp.txt -- "${F[@]}" 4 -x -bp pos_bp.txt
completes 5 7 128 -- -x "${F[@]}" 5 -cm pos_cm.txt
completes 2 1 2 -- "${F[@]}" 2 -cm pos_cm.txt -x
completes 5 6 64 -- "${F[@]}" 5 -cm pos_cm.txt
completes 0 6 64 -- "${F[@]}" "" -cm pos_cm.txt
completes 0 6 64 -- "${F[@]}" many -cm pos_cm.txt
completes 7 8 256 -- "${F[@]}" 1 7 -cm pos_cm.txt
completes 6 8 256 -- "${F[@]}" 6 extra -cm pos_cm.txt
completes 6 8 256 -- "" founders.txt "" strain.txt funnel.txt 6 -cm pos_cm.txt
completes 100 8 256 -- "${F[@]}" 100 -cm pos_cm.txt
completes 101 -1 8 -- "${F[@]}" 101 -cm pos_cm.txt -x
completes 6 8 256 -- -of 0 -e abc "${F[@]}" -e 2 -e 0.01 6 -cm pos_cm.txt
for male in m M; do
  completes 6 -1 8 -- "${F[@]}" 6 -cm pos_cm.txt -x -s f -s "$male"
done
for female in f female x male ""; do
  completes 6 -1 64 -- "${F[@]}" 6 -cm pos_cm.txt -x -s "$female"
done

# Only whole words are options; a value is taken whatever it looks like
header 0 6 64 -E 0.01 founders.txt
refused "${H}Error in opening Founder file for reading" -E 0.01 "${F[@]}" 6 -cm pos_cm.txt
header 6 8 256 founders.txt strain.txt funnel.txt -x
refused "${H}${LOADED}Error in opening CM Distance File for reading:-x"$'\n' "${F[@]}" 6 -cm -x

# -cm and -bp share one setting: the last one gives both file and unit
header 6 8 256 founders.txt strain.txt funnel.txt pos_fraction.txt
refused "$H${LOADED}Error: cannot read a position from line 2 of the marker position file."$'\n' \
  "${F[@]}" 6 -cm missing.txt -bp pos_fraction.txt
completes 6 8 256 founders.txt strain.txt funnel.txt pos_fraction.txt -- \
  "${F[@]}" 6 -bp pos_fraction.txt -cm pos_fraction.txt

# Parameter refusals, checked in this order before the header
for e in 1.5 -0.01 nan inf 1e400; do
  refused "$ERATE" "${F[@]}" 6 -cm pos_cm.txt -e "$e"
done
refused "$ERATE" "${F[@]}" 6 -cm pos_cm.txt -e 0.5 -e 2
refused "$ERATE" -x "${F[@]}" 0 -cm pos_cm.txt -e 2
refused "$ERATE" "${F[@]}" 101 -cm pos_cm.txt -e 2
for g in 0 -3 "" abc -2147483647 -4294967296; do
  refused "$XGEN" -x "${F[@]}" "$g" -cm pos_cm.txt
done
for g in 101 2147483647 4294967298 99999999999999999999; do
  refused "$BIGGEN" "${F[@]}" "$g" -cm pos_cm.txt
done

finish
